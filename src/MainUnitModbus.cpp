// Modbus requests: the exchange, the register commands and the text command.
#include "Answer.h"
#include "Edits.h"
#include "Hex.h"
#include "MainUnit.h"
#include "Memo.h"
#include "MessageBox.h"
#include "Modbus.h"
#include "TcpClient.h"

#include <QLabel>
#include <algorithm>
#include <span>
#include <vector>

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

// The exchange and the answer line; false when nothing came back. Each tail
// logs the answer first, so that a line on why it was not taken follows it.
bool TMainForm::LoggedExchange() {
    RecCount = -1;
    if (!SendByTCP())
        return false;
    Memo1->AddLine(QStringLiteral("Receive: ") + core::HexRendering({RBuf, size_t(RecCount)}) +
                   QStringLiteral("\r\n"));
    return true;
}

void TMainForm::ReadExchange(int32_t start, int32_t count) {
    if (!LoggedExchange())
        return;
    Buf2Regs(start, count);
    RefreshSG();
}

void TMainForm::WriteExchange() {
    if (!LoggedExchange())
        return;
    const core::AnswerCheck check =
        core::CheckAnswer({RBuf, size_t(RecCount)}, core::TransactionOf({SBuf, 2}),
                          SBuf[core::FunctionAt], 0, BufSize);
    if (check.fault != core::AnswerFault::None)
        Memo1->AddLine(core::AnswerFaultText(check) + u'.');
    RefreshSG();
}

void TMainForm::ReadAsideExchange() {
    if (LoggedExchange())
        RefreshSG();
}

// The answer is framed by its header and matched by its transaction ID
// (core::FrameAnswer): bytes buffered before the request, and whole answers to
// other transactions, are logged and dropped; bytes beyond the answer are
// dropped at the end. One bound of AnswerWaits readiness waits covers it all.
bool TMainForm::SendByTCP() {
    if (!ClientConnected()) {
        ui::ShowMessage(QStringLiteral("Tavrin nie jest po\u0142\u0105czony (not connected)"));
        return false;
    }
    tcp::TcpClient *client = idTCPClient;
    // The is-connected test has taken in what arrived since the last exchange:
    // none of it answers the request about to go out.
    if (!client->InputBufferEmpty()) {
        std::vector<uint8_t> stale;
        stale.reserve(client->InputBufferSize());
        while (!client->InputBufferEmpty())
            stale.push_back(client->ReadByte());
        Memo1->AddLine(QStringLiteral("Stale: ") + core::HexRendering(stale));
    }
    // A frame never extends past the send buffer.
    const int count = std::clamp(SendCount, 0, BufSize);
    const std::span<const uint8_t> request{SBuf, size_t(count)};
    Memo1->AddLine(QStringLiteral("Send: ") + core::HexRendering(request));
    client->WriteCounted(SBuf, size_t(count));

    RecCount = 0;
    int cnt = AnswerWaits;
    core::FrameStep step{core::Framing::NeedMore, 0};
    for (;;) {
        while (!client->InputBufferEmpty() && RecCount < BufSize)
            RBuf[RecCount++] = client->ReadByte();
        // A request of fewer than two bytes has no transaction to answer.
        step = count >= 2 ? core::FrameAnswer(request, {RBuf, size_t(RecCount)}, BufSize)
                          : core::FrameStep{core::Framing::NeedMore, 0};
        if (step.framing == core::Framing::Stale) {
            Memo1->AddLine(QStringLiteral("Stale: ") + core::HexRendering({RBuf, step.bytes}));
            std::copy(RBuf + step.bytes, RBuf + RecCount, RBuf);
            RecCount -= int32_t(step.bytes);
            continue;
        }
        if (step.framing == core::Framing::Complete || cnt <= 0)
            break;
        client->WaitReadable(AnswerWaitMs);
        --cnt;
    }
    bool result = false;
    if (RecCount == 0) {
        Memo1->AddLine(QStringLiteral("Nic nie odebrano z Tavrin."));
    } else {
        if (step.framing == core::Framing::Complete) {
            // Nothing after a whole answer belongs to a request: a flooding
            // device must not grow the input buffer without end.
            size_t beyond = size_t(RecCount) - step.bytes;
            RecCount = int32_t(step.bytes);
            for (; !client->InputBufferEmpty(); ++beyond)
                client->ReadByte();
            if (beyond > 0)
                Memo1->AddLine(QStringLiteral("Dropped %1 bytes after the answer.").arg(beyond));
        }
        result = true;
    }
    // Unsigned step: the field shows 65536 after 65535 and never overflows.
    seTransactionID->SetValue(int32_t(uint32_t(seTransactionID->Value()) + 1u));
    return result;
}

// Copies only from the whole function-3 answer to this very request; any
// other answer leaves the image as it is, and the log says why.
void TMainForm::Buf2Regs(int32_t s, int32_t c) {
    const std::span<const uint8_t> answer{RBuf, size_t(std::clamp(RecCount, 0, BufSize))};
    const core::AnswerCheck check =
        core::CheckAnswer(answer, core::TransactionOf({SBuf, 2}), core::FnReadHolding, c, BufSize);
    if (check.fault != core::AnswerFault::None) {
        Memo1->AddLine(core::AnswerFaultText(check) + QStringLiteral(": registers unchanged."));
        return;
    }
    core::DecodeReadAnswer(answer, s, check.registers, Regs);
}

void TMainForm::ReadRangeRegisters(int32_t adr, int32_t count) {
    SendCount = core::ReadHoldingFrame(SBuf, FrameHeader(), adr, count);
    ConfigBeforeRead();
    ReadExchange(adr, count);
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
    WriteExchange();
    ConfigAfterWrite(false);
}

void TMainForm::btnReadAllRegsClick(QObject *) {
    ReadRangeRegisters(0, core::MaxQuantity);
}

// The range of the read/write range fields (core::RangeFromFields); the log
// says so before the request, since "Num. of point:" still shows the count
// asked for.
static bool RangeFromFields(TMainForm *f, int32_t &first, int32_t &count) {
    const int32_t wanted = f->edRRNums->Value();
    const core::FieldRange r = core::RangeFromFields(f->edRRStart->Value(), wanted);
    if (r.refused) {
        f->Memo1->AddLine(QStringLiteral("Range outside registers 40001 to 40256."));
        return false;
    }
    first = r.first;
    count = r.count;
    if (r.cut)
        f->Memo1->AddLine(QStringLiteral("Range cut to %1 of %2 registers (%3 to %4).")
                              .arg(r.count)
                              .arg(wanted)
                              .arg(r.FirstNumber())
                              .arg(r.LastNumber()));
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
    WriteExchange();
    ConfigAfterWrite(true);
}

void TMainForm::pmSendRegisterClick(QObject *) {
    const int32_t index = SelRow - 1;
    if (!IndexInImage(index))
        return;
    SendCount = core::WriteSingleFrame(SBuf, FrameHeader(), index, Regs[index]);
    WriteExchange();
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
    WriteExchange();
    ConfigAfterWrite(true);
}
