// fuzz-answer: any answer through the engine's exchange, framing and
// register copy.
//
// Input: byte 0 is the request's start index, byte 1 its quantity, the rest
// (at most MaxAnswer bytes) the bytes that the device sends back.
//
// Once: an engine session over buffers of its own, its traffic lines kept
// in a list that is cleared now and then, and a listener on 127.0.0.1. No
// window, no QApplication. Per input: a new client connects to the listener,
// the send buffer gets a function-3 request of transaction 1, the receive
// count -1, SendByTCP runs while a thread lets the accepted peer take the
// request, send the bytes and shut its sending side (so that an answer that
// stops short ends the exchange at once rather than after the 3 s wait),
// then TakeReadAnswer(start, quantity) as the read commands call it, and the
// peer is reset.
//
// Checked, besides ASan and UBSan on every buffer and the image:
//  - RecCount is -1 (nothing came, the exchange found the connection closed)
//    or 0..1024, and RBuf[0..RecCount-1] is a run of the bytes sent (what
//    came before it was dropped as stale);
//  - no register outside [start, start + quantity) changes;
//  - inside, registers change only after a whole answer of transaction 1,
//    function 3 and the byte count the quantity implies, and then exactly
//    those it brought in full get their words.
#include "LoopbackPeer.h"

#include "Session.h"
#include "TcpClient.h"

#include <QStringList>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <sys/socket.h>
#include <thread>

namespace {

constexpr size_t MaxAnswer = 5000;
constexpr int ClearLogEvery = 1000;
constexpr int RegsSize = core::ImageSize;
constexpr int BufSize = engine::BufSize;

struct World {
    engine::Session session;
    QStringList traffic;
    std::unique_ptr<tcp::TcpClient> client;
    std::unique_ptr<testsupport::Listener> listener;
    uint16_t regs[RegsSize] = {};
    long iterations = 0;
    long exceptions = 0;
};

[[noreturn]] void Fail(const char *what, long a = 0, long b = 0) {
    std::fprintf(stderr, "fuzz-answer: %s (%ld, %ld)\n", what, a, b);
    std::abort();
}

World &TheWorld() {
    static World *w = [] {
        auto *world = new World;
        world->session.traffic = [world](const QString &line) { world->traffic << line; };
        world->listener = std::make_unique<testsupport::Listener>();
        if (!world->listener->Valid())
            Fail("no listener on 127.0.0.1");
        std::atexit([] {
            std::fprintf(stderr, "fuzz-answer: %ld exchanges, %ld ended by a client error\n",
                         TheWorld().iterations, TheWorld().exceptions);
        });
        return world;
    }();
    return *w;
}

void PutReadRequest(engine::Session &session, uint8_t start, uint8_t quantity) {
    const uint8_t frame[12] = {0x00, 0x01, 0x00, 0x01,  0x00, 0x06,
                               0x01, 0x03, 0x00, start, 0x00, quantity};
    std::memcpy(session.buffers.send, frame, sizeof frame);
    *session.buffers.sendCount = sizeof frame;
}

} // namespace

// The world is made before the first input, so that what it keeps for the
// whole run is not counted against an input.
extern "C" int LLVMFuzzerInitialize(int *, char ***) {
    TheWorld();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2)
        return 0;
    World &w = TheWorld();
    const uint8_t start = data[0];
    const uint8_t quantity = data[1];
    const uint8_t *answer = data + 2;
    const size_t answerSize = std::min(size - 2, MaxAnswer);

    engine::Session &session = w.session;
    if (++w.iterations % ClearLogEvery == 0)
        w.traffic.clear();

    // A fresh connection, as Disconnect and Connect would leave it.
    w.client = std::make_unique<tcp::TcpClient>();
    w.client->Host = "127.0.0.1";
    w.client->Port = w.listener->Port();
    session.client = w.client.get();
    session.header.transactionId = 1;
    try {
        w.client->Connect();
    } catch (const std::exception &) {
        Fail("connect to the listener failed");
    }
    testsupport::Peer peer = w.listener->Accept(3000);
    if (!peer.Valid())
        Fail("no connection came to the listener");
    const QByteArray bytes(reinterpret_cast<const char *>(answer), qsizetype(answerSize));

    uint16_t *const Regs = w.regs;
    uint16_t before[RegsSize];
    for (int i = 0; i < RegsSize; ++i)
        Regs[i] = uint16_t(0xA5A5u ^ unsigned(i) * 0x0101u ^ unsigned(w.iterations));
    std::copy(Regs, Regs + RegsSize, before);

    PutReadRequest(session, start, quantity);
    int32_t &RecCount = *session.buffers.recCount;
    const uint8_t *const SBuf = session.buffers.send;
    const uint8_t *const RBuf = session.buffers.receive;
    RecCount = -1;
    bool sent = true;
    std::thread device([&peer, &bytes, &sent] {
        if (peer.Receive(16).size() == 16 && !bytes.isEmpty())
            sent = peer.Send(bytes);
        ::shutdown(peer.Fd(), SHUT_WR);
    });
    try {
        session.SendByTCP();
    } catch (const std::exception &) {
        ++w.exceptions; // passes to the caption display in the program
    }
    device.join();
    if (!sent)
        Fail("the peer could not send");
    const int32_t s = SBuf[9], c = SBuf[11];
    session.TakeReadAnswer(s, c, core::Image(Regs, RegsSize));
    peer.Abort(); // a reset: no TIME_WAIT left behind per input

    if (RecCount < -1 || RecCount > BufSize || (RecCount > 0 && size_t(RecCount) > answerSize))
        Fail("RecCount out of range", RecCount, long(answerSize));
    const QByteArray got(reinterpret_cast<const char *>(RBuf), std::max(RecCount, 0));
    if (RecCount > 0 && !bytes.contains(got))
        Fail("RBuf holds bytes that were not sent", RecCount);

    const auto at = [RBuf](int i) { return int(RBuf[i]); };
    const bool whole = RecCount >= 9 && (at(4) << 8 | at(5)) + 6 == RecCount;
    const bool taken = whole && at(0) == 0 && at(1) == 1 && at(7) == 3 && at(8) == (2 * c & 0xFF);
    const int32_t brought = taken ? (RecCount - 9) / 2 : 0;
    for (int i = 0; i < RegsSize; ++i) {
        const int32_t k = i - s;
        uint16_t want = before[i];
        if (k >= 0 && k < c && k < brought)
            want = uint16_t(RBuf[9 + 2 * k] << 8 | RBuf[10 + 2 * k]);
        if (Regs[i] != want)
            Fail("register changed against the rules", i, long(Regs[i]) << 16 | want);
    }
    return 0;
}
