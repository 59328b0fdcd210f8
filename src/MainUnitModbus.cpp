// Modbus requests: the exchange, the register commands and the text command.
#include "Edits.h"
#include "Hex.h"
#include "MainUnit.h"
#include "Memo.h"
#include "MessageBox.h"
#include "Modbus.h"
#include "TcpClient.h"

#include <QLabel>
#include <algorithm>

namespace {
constexpr int AnswerWaits = 300; // readiness waits of AnswerWaitMs: about 3 s
constexpr int AnswerWaitMs = 10;

bool IndexInImage(int32_t index) {
    return index >= 0 && index < RegsSize;
}
} // namespace

core::Mbap TMainForm::FrameHeader() const {
    return {seTransactionID->Value(), seProtocolID->Value(), seNodeID->Value()};
}

void TMainForm::Exchange(bool copyRegisters) {
    RecCount = -1;
    if (!SendByTCP())
        return;
    const QString hex = core::HexRendering({RBuf, size_t(RecCount)});
    if (copyRegisters) // start and quantity of this request
        Buf2Regs(SBuf[core::AddressLowAt], SBuf[core::QuantityLowAt]);
    RefreshSG();
    Memo1->AddLine(QStringLiteral("Receive: ") + hex + QStringLiteral("\r\n"));
}

bool TMainForm::SendByTCP() {
    if (!ClientConnected()) {
        ui::ShowMessage(QStringLiteral("Tavrin nie jest po\u0142\u0105czony (not connected)"));
        return false;
    }
    tcp::TcpClient *client = idTCPClient;
    // A frame never extends past the send buffer.
    const int count = std::clamp(SendCount, 0, BufSize);
    Memo1->AddLine(QStringLiteral("Send: ") + core::HexRendering({SBuf, size_t(count)}));
    client->WriteCounted(SBuf, size_t(count));

    int cnt = AnswerWaits;
    while (client->InputBufferEmpty() && cnt > 0) {
        client->WaitReadable(AnswerWaitMs);
        --cnt;
    }
    RecCount = 0;
    bool result = false;
    if (client->InputBufferEmpty()) {
        Memo1->AddLine(QStringLiteral("Nic nie odebrano z Tavrin."));
    } else {
        // RBuf holds at most BufSize bytes; anything beyond stays buffered and
        // opens the next exchange's answer, like any other late byte.
        while (!client->InputBufferEmpty() && RecCount < BufSize)
            RBuf[RecCount++] = client->ReadByte();
        result = true;
    }
    // Unsigned step: the field shows 65536 after 65535 and never overflows.
    seTransactionID->SetValue(int32_t(uint32_t(seTransactionID->Value()) + 1u));
    return result;
}

void TMainForm::Buf2Regs(int32_t s, int32_t c) {
    core::DecodeReadAnswer({RBuf, size_t(std::clamp(RecCount, 0, BufSize))}, s, c, Regs);
}

void TMainForm::ReadRangeRegisters(int32_t adr, int32_t count) {
    SendCount = core::ReadHoldingFrame(SBuf, FrameHeader(), adr, count);
    ConfigBeforeRead();
    Exchange(true);
    ConfigAfterRead(adr, count);
}

uint16_t TMainForm::ReadRegister(int32_t number) {
    if (!IndexInImage(number))
        return 0;
    // Without a connection: the image's value, as after an unanswered read.
    if (!ClientConnected())
        return Regs[number];
    ReadRangeRegisters(number, 1);
    return Regs[number];
}

void TMainForm::WriteRegister(int32_t number, int32_t value) {
    if (!IndexInImage(number) || !ClientConnected())
        return;
    Regs[number] = uint16_t(value);
    // Only the low byte travels (its callers write values below 256).
    SendCount = core::WriteSingleFrame(SBuf, FrameHeader(), number, uint8_t(value));
    Exchange(false);
    ConfigAfterWrite(false);
}

void TMainForm::btnReadAllRegsClick(QObject *) {
    ReadRangeRegisters(0, core::MaxQuantity);
}

// The range of the read/write range fields, kept inside the image: a start
// below 40001 or above 40256, or fewer than one register, is refused; a count
// running past index 255 (or above 255) is cut, and the log says so before
// the request, since "Num. of point:" still shows the count asked for.
static bool RangeFromFields(TMainForm *f, int32_t &first, int32_t &count) {
    first = int32_t(int64_t(f->edRRStart->Value()) - core::FirstNumber);
    const int32_t wanted = f->edRRNums->Value();
    if (!IndexInImage(first) || wanted < 1) {
        f->Memo1->AddLine(QStringLiteral("Range outside registers 40001 to 40256."));
        return false;
    }
    count = std::min({wanted, core::MaxQuantity, RegsSize - first});
    if (count < wanted)
        f->Memo1->AddLine(QStringLiteral("Range cut to %1 of %2 registers (%3 to %4).")
                              .arg(count)
                              .arg(wanted)
                              .arg(core::FirstNumber + first)
                              .arg(core::FirstNumber + first + count - 1));
    return true;
}

void TMainForm::btnSendRRClick(QObject *) {
    int32_t first = 0, count = 0;
    if (RangeFromFields(this, first, count))
        ReadRangeRegisters(first, count);
}

void TMainForm::btnWriteRangeRegsClick(QObject *) {
    int32_t k = 0, n = 0;
    if (!RangeFromFields(this, k, n))
        return;
    SendCount = core::WriteMultipleFrame(SBuf, FrameHeader(), k, {Regs + k, size_t(n)});
    Exchange(false);
    ConfigAfterWrite(true);
}

void TMainForm::pmSendRegisterClick(QObject *) {
    const int32_t index = SelRow - 1;
    if (!IndexInImage(index))
        return;
    SendCount = core::WriteSingleFrame(SBuf, FrameHeader(), index, Regs[index]);
    Exchange(false);
    ConfigAfterWrite(true);
}

void TMainForm::btnRestartSendClick(QObject *) {
    WriteRegister(core::RestartIndex, core::RestartValue);
}

void TMainForm::btnReadClick(QObject *) {
    labrj->setText(QStringLiteral("Reg[1]=") + QString::number(ReadRegister(core::CounterIndex)));
    labrj->adjustSize();
}

void TMainForm::btnWriteClick(QObject *) {
    WriteRegister(core::CounterIndex, seNodeID->Value());
}

void TMainForm::btnSendClick(QObject *) {
    const QString text = edText->text();
    if (text.isEmpty()) {
        const QString message = QStringLiteral("The text can't be empty.");
        Memo1->AddLine(message);
        ui::ShowMessage(message);
        return;
    }
    // A text longer than the device holds (from the settings file or a full
    // redraw) is cut at 99 characters.
    core::TextToRegs(text, Regs);
    edText->setModified(false); // sent: the field follows the registers again
    SendCount = core::TextFrame(SBuf, FrameHeader(), Regs);
    RefreshSG();
    Exchange(false);
    ConfigAfterWrite(true);
}
