#pragma once
// One conversation with one module: the client, the header fields, the
// request and answer buffers, and the exchange that frames and matches the
// answer within its deadline. Commands return what happened as a value, so
// that the front end (the window, the command line) decides what to show
// and nothing checks an answer twice.
//
// Nothing here is global: each session owns its buffers (or borrows the
// window's) and its header, so several sessions run side by side, one per
// thread at most. Qt Core only.
#include "Answer.h"
#include "Config.h"
#include "Modbus.h"

#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <span>

namespace tcp {
class TcpClient;
}

namespace engine {

constexpr int BufSize = 1024; // the request and the answer buffer
// The answer may take this long after the request went out, in as many
// pieces as it likes; the counted write must be done by then as well.
constexpr std::chrono::milliseconds AnswerDeadline{3000};
constexpr int AnswerWaitMs = 10; // one readiness wait
// A stale line shows this many bytes, then how many more there were.
constexpr size_t StaleShown = 256;

// The buffers an exchange works on: frame out, answer in, and their counts
// (recCount -1 before an exchange, 0 when nothing came back).
struct Buffers {
    uint8_t *send;
    int32_t *sendCount;
    uint8_t *receive;
    int32_t *recCount;
};

// What one exchange did.
struct Exchange {
    bool sent = false;      // false: not connected, nothing went out
    bool sendStuck = false; // the device took no more bytes; the client is closed
    int32_t received = 0;   // bytes of the answer in the receive buffer
    bool Answered() const { return received > 0; }
};

// What a command did: its exchange, the answer's check, and for a read the
// registers taken into the image, for a write whether it was acknowledged.
struct Reply {
    Exchange exchange;
    core::AnswerCheck check;
    int taken = 0;
    bool acknowledged = false;
    bool Ok() const { return exchange.Answered() && check.fault == core::AnswerFault::None; }
};

// A read beside the image (compare, verify).
struct ReadAside {
    Exchange exchange;
    core::ReadBack words;
};

class Session {
public:
    Session();                               // its own buffers
    explicit Session(const Buffers &borrow); // the caller's (the window's)
    Session(const Session &) = delete;
    Session &operator=(const Session &) = delete;

    // Where traffic lines go ("Send: ...", "Receive: ...", why an answer was
    // not taken), and messages for the operator ("not connected").
    std::function<void(const QString &)> traffic;
    std::function<void(const QString &)> message;
    // After each exchange, the raised transaction ID (the window shows it).
    std::function<void(int32_t)> transactionRaised;
    // true while an exchange waits on the network, false once it is over
    // (the window shows the busy cursor meanwhile).
    std::function<void(bool)> waiting;

    core::Mbap header{1, 1, 1};
    tcp::TcpClient *client = nullptr; // not owned

    bool Connected();

    // The exchange of the frame in the send buffer; logs "Send: " and what
    // is dropped, "Nic nie odebrano z Tavrin." when nothing came, and raises
    // the transaction ID. No "Receive: " line: Transact() adds it.
    Exchange SendByTCP();
    // recCount -1, the exchange, and the "Receive: " line after an answer.
    Exchange Transact();

    // Function 3 of count registers from first into image: only from a whole
    // answer to this request ("...: registers unchanged." otherwise).
    Reply ReadRange(int32_t first, int32_t count, core::Image image);
    // The registers the function-3 answer now in the buffer brings into
    // image, for the read of count registers from first.
    Reply TakeReadAnswer(int32_t first, int32_t count, core::Image image);

    Reply WriteSingle(int32_t index, uint16_t value);
    Reply WriteRange(int32_t first, std::span<const uint16_t> words);
    Reply SendText(core::ConstImage regs);
    Reply Restart();
    // The write whose frame is in the send buffer.
    Reply Write();

    // Reads quantity registers from first beside the image.
    ReadAside ReadBeside(int32_t first, int32_t quantity);
    // Reads back what an acknowledged write carried and logs "Verify: ...".
    ReadAside Verify(const core::Written &written);
    // Reads the device's registers and logs how they compare with image;
    // differing: the indices that differ.
    ReadAside Compare(core::ConstImage image, QList<int> &differing);

    std::span<const uint8_t> Request() const;
    std::span<const uint8_t> Answer() const;
    Buffers buffers;

private:
    void Log(const QString &line) const;
    void RaiseTransaction();

    std::array<uint8_t, BufSize> m_send{};
    std::array<uint8_t, BufSize> m_receive{};
    int32_t m_sendCount = 0;
    int32_t m_recCount = -1;
};

// The repeat job's rule: the counter every tick, the trigger on the tick
// after three equal readings in a row.
struct StallWatch {
    int32_t last = -1;
    int32_t same = 1;
    int32_t count = 0;
    // Takes this tick's reading; true when the trigger is due now.
    bool Tick(int32_t reading);
};

} // namespace engine
