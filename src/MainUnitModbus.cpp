// Modbus requests: the exchange, the register commands and the text command.
#include "Edits.h"
#include "Logic.h"
#include "MainUnit.h"
#include "MessageBox.h"
#include "TcpClient.h"

#include <QLabel>
#include <algorithm>

namespace {
constexpr int AnswerWaits = 300; // readiness waits of AnswerWaitMs: about 3 s
constexpr int AnswerWaitMs = 10;
constexpr int MaxQuantity = 255; // the quantity travels in one byte
constexpr uint8_t FnReadHolding = 3;
constexpr uint8_t FnWriteSingle = 6;
constexpr uint8_t FnWriteMultiple = 16;
constexpr uint8_t ExceptionBit = 0x80;

bool IndexInImage(int32_t index) {
    return index >= 0 && index < RegsSize;
}
} // namespace

void TMainForm::CompleteExchange(bool copyRegisters) {
    const QString hex = logic::HexRendering(RBuf, RecCount);
    if (copyRegisters)
        Buf2Regs(SBuf[9], SBuf[11]); // start and quantity of this request
    RefreshSG();
    Memo1->AddLine(QStringLiteral("Receive: ") + hex + QStringLiteral("\r\n"));
}

// Bytes 0..11 of a function 3 or 6 frame.
static void PutShortFrame(TMainForm *f, uint8_t function, int32_t index, int32_t hi, int32_t lo) {
    SendCount = logic::FrameFixed;
    logic::PutHeader(SBuf, f->seTransactionID->Value(), f->seProtocolID->Value(),
                     f->seNodeID->Value(), SendCount);
    SBuf[7] = function;
    SBuf[8] = 0;
    SBuf[9] = uint8_t(index);
    SBuf[10] = uint8_t(hi);
    SBuf[11] = uint8_t(lo);
}

bool TMainForm::SendByTCP() {
    if (!ClientConnected()) {
        ui::ShowMessage(QStringLiteral("Tavrin nie jest po\u0142\u0105czony (not connected)"));
        return false;
    }
    tcp::TcpClient *client = idTCPClient;
    // A frame never extends past the send buffer.
    const int count = std::clamp(SendCount, 0, BufSize);
    Memo1->AddLine(QStringLiteral("Send: ") + logic::HexRendering(SBuf, count));
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
    if (c <= 0 || !IndexInImage(s))
        return;
    // An exception answer carries no register values.
    if (RecCount > 7 && (RBuf[7] & ExceptionBit))
        return;
    // Only registers this answer brought in full, and only inside the image.
    const int32_t brought =
        RecCount > logic::AnswerDataAt ? (RecCount - logic::AnswerDataAt) / 2 : 0;
    const int32_t n = std::min({c, brought, RegsSize - s});
    for (int32_t k = 0; k < n; ++k)
        Regs[s + k] = uint16_t(RBuf[logic::AnswerDataAt + 2 * k] << 8 |
                               RBuf[logic::AnswerDataAt + 2 * k + 1]);
}

void TMainForm::ReadRangeRegisters(int32_t adr, int32_t count) {
    PutShortFrame(this, FnReadHolding, adr, 0, count);
    RecCount = -1;
    if (SendByTCP())
        CompleteExchange(true);
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
    PutShortFrame(this, FnWriteSingle, number, 0, value);
    RecCount = -1;
    if (SendByTCP())
        CompleteExchange(false);
}

void TMainForm::btnReadAllRegsClick(QObject *) {
    ReadRangeRegisters(0, MaxQuantity);
}

// The range of the read/write range fields, kept inside the image: a start
// below 40001 or above 40256, or fewer than one register, is refused; a count
// running past index 255 (or above 255) is cut, and the log says so before
// the request, since "Num. of point:" still shows the count asked for.
static bool RangeFromFields(TMainForm *f, int32_t &first, int32_t &count) {
    first = int32_t(int64_t(f->edRRStart->Value()) - 40001);
    const int32_t wanted = f->edRRNums->Value();
    if (!IndexInImage(first) || wanted < 1) {
        f->Memo1->AddLine(QStringLiteral("Range outside registers 40001 to 40256."));
        return false;
    }
    count = std::min({wanted, MaxQuantity, RegsSize - first});
    if (count < wanted)
        f->Memo1->AddLine(QStringLiteral("Range cut to %1 of %2 registers (%3 to %4).")
                              .arg(count)
                              .arg(wanted)
                              .arg(40001 + first)
                              .arg(40001 + first + count - 1));
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
    SBuf[7] = FnWriteMultiple;
    SBuf[8] = 0;
    SBuf[9] = uint8_t(k);
    SBuf[10] = 0;
    SBuf[11] = uint8_t(n);
    SBuf[12] = uint8_t(2 * n);
    for (int32_t i = 0; i < n; ++i) {
        SBuf[13 + 2 * i] = uint8_t(Regs[k + i] >> 8);
        SBuf[14 + 2 * i] = uint8_t(Regs[k + i]);
    }
    SendCount = logic::F16Fixed + 2 * n;
    logic::PutHeader(SBuf, seTransactionID->Value(), seProtocolID->Value(), seNodeID->Value(),
                     SendCount);
    RecCount = -1;
    if (SendByTCP())
        CompleteExchange(false);
}

void TMainForm::pmSendRegisterClick(QObject *) {
    const int32_t index = SelRow - 1;
    if (!IndexInImage(index))
        return;
    PutShortFrame(this, FnWriteSingle, index, Regs[index] >> 8, Regs[index]);
    RecCount = -1;
    if (SendByTCP())
        CompleteExchange(false);
}

void TMainForm::btnRestartSendClick(QObject *) {
    WriteRegister(38, 85);
}

void TMainForm::btnReadClick(QObject *) {
    labrj->setText(QStringLiteral("Reg[1]=") + QString::number(ReadRegister(1)));
    labrj->adjustSize();
}

void TMainForm::btnWriteClick(QObject *) {
    WriteRegister(1, seNodeID->Value());
}

void TMainForm::btnSendClick(QObject *) {
    QString text = edText->text();
    if (text.isEmpty()) {
        const QString message = QStringLiteral("The text can't be empty.");
        Memo1->AddLine(message);
        ui::ShowMessage(message);
        return;
    }
    // The device holds 99 characters and the ending zero (40056..40155); a
    // longer text (from the settings file or a full redraw) is cut there,
    // never inside a surrogate pair.
    constexpr int MaxChars = logic::MaxTextLength - 1;
    if (text.size() > MaxChars) {
        int keep = MaxChars;
        if (text.at(keep - 1).isHighSurrogate())
            --keep;
        text.truncate(keep);
    }
    const int L = int(text.size());
    SBuf[7] = FnWriteMultiple;
    SBuf[8] = 0;
    SBuf[9] = logic::TextStart;
    SBuf[10] = 0;
    SBuf[11] = uint8_t(L + 1);
    SBuf[12] = uint8_t(2 * SBuf[11]);
    for (int i = 1; i <= L; ++i)
        Regs[54 + i] = text.at(i - 1).unicode();
    for (int i = logic::TextStart + L; i <= logic::TextClearEnd; ++i)
        Regs[i] = 0;
    Regs[logic::TextLength] = uint16_t(L);
    for (int i = 0; i <= L; ++i) {
        SBuf[13 + 2 * i] = uint8_t(Regs[logic::TextStart + i] >> 8);
        SBuf[14 + 2 * i] = uint8_t(Regs[logic::TextStart + i]);
    }
    SendCount = 15 + 2 * L;
    logic::PutHeader(SBuf, seTransactionID->Value(), seProtocolID->Value(), seNodeID->Value(),
                     SendCount);
    RefreshSG();
    RecCount = -1;
    if (SendByTCP())
        CompleteExchange(false);
}
