#include "Session.h"
#include "Hex.h"
#include "TcpClient.h"

#include <algorithm>

namespace engine {

namespace {

using Clock = std::chrono::steady_clock;

// Bytes that answer nothing of ours, gathered for one line per exchange: the
// first StaleShown of them, then only how many more.
class StaleBytes {
public:
    void Add(std::span<const uint8_t> bytes) {
        const size_t room = StaleShown - std::min(m_kept, StaleShown);
        const size_t keep = std::min(room, bytes.size());
        std::copy_n(bytes.begin(), keep, m_shown.begin() + std::ptrdiff_t(m_kept));
        m_kept += keep;
        m_more += bytes.size() - keep;
    }
    void Add(uint8_t byte) { Add(std::span<const uint8_t>(&byte, 1)); }
    bool Empty() const { return m_kept == 0; }
    QString Line() const {
        QString line = QStringLiteral("Stale: ") + core::HexRendering({m_shown.data(), m_kept});
        if (m_more > 0)
            line += QStringLiteral("and %1 more bytes.").arg(m_more);
        return line;
    }

private:
    std::array<uint8_t, StaleShown> m_shown{};
    size_t m_kept = 0;
    size_t m_more = 0;
};

} // namespace

Session::Session() : buffers{m_send.data(), &m_sendCount, m_receive.data(), &m_recCount} {}

Session::Session(const Buffers &borrow) : buffers(borrow) {}

void Session::Log(const QString &line) const {
    if (traffic)
        traffic(line);
}

std::span<const uint8_t> Session::Request() const {
    return {buffers.send, size_t(std::clamp(*buffers.sendCount, 0, BufSize))};
}

std::span<const uint8_t> Session::Answer() const {
    return {buffers.receive, size_t(std::clamp(*buffers.recCount, 0, BufSize))};
}

bool Session::Connected() {
    return client && client->IsConnected();
}

void Session::RaiseTransaction() {
    // Unsigned step: 65536 follows 65535 (only the low 16 bits travel), and
    // the field never overflows.
    header.transactionId = int32_t(uint32_t(header.transactionId) + 1u);
    if (transactionRaised)
        transactionRaised(header.transactionId);
}

// The answer is framed by its header and matched by its transaction ID
// (core::FrameAnswer): bytes buffered before the request, and whole answers
// to other transactions, are logged and dropped; bytes beyond the answer are
// dropped at the end. One deadline on the monotonic clock bounds the send
// and the wait, however many pieces the answer comes in.
Exchange Session::SendByTCP() {
    Exchange ex;
    if (!Connected()) {
        if (message)
            message(QStringLiteral("Tavrin nie jest po\u0142\u0105czony (not connected)"));
        return ex;
    }
    tcp::TcpClient &c = *client;
    uint8_t *const rbuf = buffers.receive;
    int32_t &recCount = *buffers.recCount;
    // The is-connected test has taken in what arrived since the last
    // exchange: none of it answers the request about to go out.
    if (!c.InputBufferEmpty()) {
        StaleBytes before;
        while (!c.InputBufferEmpty())
            before.Add(c.ReadByte());
        Log(before.Line());
    }
    const std::span<const uint8_t> request = Request();
    Log(QStringLiteral("Send: ") + core::HexRendering(request));
    const auto deadline = Clock::now() + AnswerDeadline;
    struct Waiting {
        const std::function<void(bool)> &f;
        explicit Waiting(const std::function<void(bool)> &w) : f(w) {
            if (f)
                f(true);
        }
        ~Waiting() {
            if (f)
                f(false);
        }
    } whileWaiting(waiting);
    ex.sent = true;
    recCount = 0;
    if (!c.WriteCounted(request.data(), request.size(), deadline)) {
        // A device that reads nothing more would hold the window for good.
        c.Close();
        ex.sendStuck = true;
        Log(QStringLiteral("The device took no more bytes for 3 s: connection closed."));
        RaiseTransaction();
        return ex;
    }

    StaleBytes foreign;
    core::FrameStep step{core::Framing::NeedMore, 0};
    for (;;) {
        while (!c.InputBufferEmpty() && recCount < BufSize)
            rbuf[recCount++] = c.ReadByte();
        // A request of fewer than two bytes has no transaction to answer.
        step = request.size() >= 2 ? core::FrameAnswer(request, {rbuf, size_t(recCount)}, BufSize)
                                   : core::FrameStep{core::Framing::NeedMore, 0};
        if (step.framing == core::Framing::Stale) {
            foreign.Add({rbuf, step.bytes});
            std::copy(rbuf + step.bytes, rbuf + recCount, rbuf);
            recCount -= int32_t(step.bytes);
            continue;
        }
        if (step.framing == core::Framing::Complete)
            break;
        const auto left =
            std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
        // Closed with nothing left to read: nothing more can come.
        if (left.count() <= 0 || (c.PeerClosed() && c.InputBufferEmpty()))
            break;
        c.WaitReadable(int(std::min<std::chrono::milliseconds::rep>(left.count(), AnswerWaitMs)));
    }
    if (!foreign.Empty())
        Log(foreign.Line());
    if (recCount == 0) {
        Log(QStringLiteral("Nic nie odebrano z Tavrin."));
    } else if (step.framing == core::Framing::Complete) {
        // Nothing after a whole answer belongs to a request: a flooding
        // device must not grow the input buffer without end.
        size_t beyond = size_t(recCount) - step.bytes;
        recCount = int32_t(step.bytes);
        for (; !c.InputBufferEmpty(); ++beyond)
            c.ReadByte();
        if (beyond > 0)
            Log(QStringLiteral("Dropped %1 bytes after the answer.").arg(beyond));
    }
    ex.received = recCount;
    RaiseTransaction();
    return ex;
}

Exchange Session::Transact() {
    *buffers.recCount = -1;
    const Exchange ex = SendByTCP();
    if (ex.Answered())
        Log(QStringLiteral("Receive: ") + core::HexRendering(Answer()) + QStringLiteral("\r\n"));
    return ex;
}

Reply Session::TakeReadAnswer(int32_t first, int32_t count, core::Image image) {
    Reply r;
    r.exchange.sent = true;
    r.exchange.received = std::max(*buffers.recCount, 0);
    r.check = core::CheckAnswer(Answer(), core::TransactionOf(Request()), core::FnReadHolding,
                                count, BufSize);
    if (r.check.fault != core::AnswerFault::None) {
        Log(core::AnswerFaultText(r.check) + QStringLiteral(": registers unchanged."));
        return r;
    }
    r.taken = core::DecodeReadAnswer(Answer(), first, r.check.registers, image);
    return r;
}

Reply Session::ReadRange(int32_t first, int32_t count, core::Image image) {
    *buffers.sendCount =
        core::ReadHoldingFrame({buffers.send, size_t(BufSize)}, header, first, count);
    const Exchange ex = Transact();
    if (!ex.Answered())
        return Reply{ex, {}, 0, false};
    Reply r = TakeReadAnswer(first, count, image);
    r.exchange = ex;
    return r;
}

Reply Session::Write() {
    Reply r;
    r.exchange = Transact();
    if (!r.exchange.Answered())
        return r;
    const std::span<const uint8_t> request = Request();
    r.check = core::CheckAnswer(
        Answer(), core::TransactionOf(request),
        request.size() > size_t(core::FunctionAt) ? request[core::FunctionAt] : uint8_t(0), 0,
        BufSize);
    if (r.check.fault != core::AnswerFault::None)
        Log(core::AnswerFaultText(r.check) + u'.');
    r.acknowledged =
        r.check.fault == core::AnswerFault::None && core::WriteAcknowledged(request, Answer());
    return r;
}

Reply Session::WriteSingle(int32_t index, uint16_t value) {
    *buffers.sendCount =
        core::WriteSingleFrame({buffers.send, size_t(BufSize)}, header, index, value);
    return Write();
}

Reply Session::WriteRange(int32_t first, std::span<const uint16_t> words) {
    *buffers.sendCount =
        core::WriteMultipleFrame({buffers.send, size_t(BufSize)}, header, first, words);
    return Write();
}

Reply Session::SendText(core::ConstImage regs) {
    *buffers.sendCount = core::TextFrame({buffers.send, size_t(BufSize)}, header, regs);
    return Write();
}

Reply Session::Restart() {
    return WriteSingle(core::RestartIndex, core::RestartValue);
}

ReadAside Session::ReadBeside(int32_t first, int32_t quantity) {
    *buffers.sendCount =
        core::ReadHoldingFrame({buffers.send, size_t(BufSize)}, header, first, quantity);
    ReadAside r;
    r.exchange = Transact();
    if (r.exchange.sent)
        r.words = core::ReadAnswerWords(Answer(), quantity);
    return r;
}

ReadAside Session::Verify(const core::Written &written) {
    ReadAside r = ReadBeside(written.first, int32_t(written.words.size()));
    if (r.exchange.sent)
        Log(core::VerifyText(written, r.words));
    return r;
}

ReadAside Session::Compare(core::ConstImage image, QList<int> &differing) {
    differing.clear();
    ReadAside r = ReadBeside(0, core::MaxQuantity);
    if (!r.exchange.sent)
        return r;
    if (!r.words.failure.isEmpty()) {
        Log(QStringLiteral("Compare: ") + r.words.failure + u'.');
        return r;
    }
    r.words.words.resize(core::DeviceRegs);
    for (int i = 0; i < core::DeviceRegs; ++i)
        if (image[size_t(i)] != r.words.words[i])
            differing << i;
    Log(core::CompareText(differing, core::DeviceRegs));
    return r;
}

bool StallWatch::Tick(int32_t reading) {
    last = same;
    same = reading;
    // The count left by earlier ticks, before this reading is compared.
    const bool trigger = count > 2;
    if (trigger)
        count = 0;
    count = same == last ? count + 1 : 0;
    return trigger;
}

} // namespace engine
