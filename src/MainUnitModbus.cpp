// Modbus requests: the exchange, the register commands and the text command.
#include "BusyCursor.h"
#include "Edits.h"
#include "Hex.h"
#include "MainUnit.h"
#include "Memo.h"
#include "MessageBox.h"
#include "Modbus.h"
#include "Session.h"

#include <QLabel>
#include <algorithm>
#include <span>

namespace {
bool IndexInImage(int32_t index) {
    return index >= 0 && index < RegsSize;
}
} // namespace

core::Mbap TMainForm::FrameHeader() const {
    return {seTransactionID->Value(), seProtocolID->Value(), seNodeID->Value()};
}

// The one session over the window's buffers and client; the header comes
// from the three fields once per command (the operator may have typed into
// them since), and every raise of the transaction ID shows in its field.
engine::Session &TMainForm::Engine() {
    if (!m_session) {
        m_session =
            std::make_unique<engine::Session>(engine::Buffers{SBuf, &SendCount, RBuf, &RecCount});
        m_session->traffic = [this](const QString &line) { Memo1->AddLine(line); };
        m_session->message = [](const QString &text) { ui::ShowMessage(text); };
        m_session->transactionRaised = [this](int32_t id) { seTransactionID->SetValue(id); };
        m_session->waiting = ui::ShowBusy;
    }
    m_session->client = idTCPClient;
    m_session->header = FrameHeader();
    return *m_session;
}

bool TMainForm::SendByTCP() {
    return Engine().SendByTCP().Answered();
}

// Copies only from the whole function-3 answer to this very request; any
// other answer leaves the image as it is, and the log says why.
void TMainForm::Buf2Regs(int32_t s, int32_t c) {
    m_lastRead = Engine().TakeReadAnswer(s, c, Regs);
}

void TMainForm::ReadRangeRegisters(int32_t adr, int32_t count) {
    ConfigBeforeRead();
    m_lastRead = Engine().ReadRange(adr, count, Regs);
    if (m_lastRead.exchange.Answered())
        RefreshSG();
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
    WriteTail(Engine().WriteSingle(number, uint8_t(value)), false);
}

// After a write's exchange: the redraw once an answer came, then the marks
// and the read-back of what it acknowledged.
void TMainForm::WriteTail(const engine::Reply &reply, bool verify) {
    if (reply.exchange.Answered())
        RefreshSG();
    ConfigAfterWrite(reply, verify);
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
    WriteTail(Engine().WriteRange(k, {Regs + k, size_t(n)}), true);
}

void TMainForm::pmSendRegisterClick(QObject *) {
    const int32_t index = SelRow - 1;
    if (!IndexInImage(index))
        return;
    WriteTail(Engine().WriteSingle(index, Regs[index]), true);
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
    RefreshSG();
    WriteTail(Engine().SendText(Regs), true);
}
