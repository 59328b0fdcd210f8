// fuzz-answer: any answer through the exchange's read loop and Buf2Regs.
//
// Input: byte 0 is the request's start index, byte 1 its quantity, the rest
// (at most MaxAnswer bytes) the answer that the device sends back.
//
// Once: an application on the offscreen platform, a main window from the
// tests' window fixture (message boxes answered by its hook) and a listener on
// 127.0.0.1. Per input: a new client connects to the listener (as Connect
// does, without its log lines), the accepted peer sends the answer and shuts
// its sending side (an empty answer thus ends the exchange at once rather
// than after the 3 s wait), SBuf gets a function-3 request, RecCount -1,
// SendByTCP runs, then Buf2Regs(SBuf[9], SBuf[11]) as the read commands call
// it, and the peer is reset.
//
// Checked, besides ASan and UBSan on every buffer and the image:
//  - RecCount is -1 (nothing came, the exchange found the connection closed)
//    or 0..1024, never more than the answer's length, and RBuf holds the
//    answer's first RecCount bytes;
//  - no register outside [start, start + quantity) changes;
//  - inside, exactly the registers that this answer brought in full get
//    their words, unless the answer is an exception (bit 7 of byte 7); the
//    rest keep their values.
#include "FormFixture.h"
#include "LoopbackPeer.h"

#include "MainUnit.h"
#include "TcpClient.h"

#include <QApplication>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <memory>
#include <sys/socket.h>

namespace {

constexpr size_t MaxAnswer = 5000;
constexpr int ClearLogEvery = 1000;

struct World {
    std::unique_ptr<QApplication> app;
    FormFixture fixture;
    std::unique_ptr<testsupport::Listener> listener;
    long iterations = 0;
    long exceptions = 0;
};

[[noreturn]] void Fail(const char *what, long a = 0, long b = 0) {
    std::fprintf(stderr, "fuzz-answer: %s (%ld, %ld)\n", what, a, b);
    std::abort();
}

World &TheWorld() {
    static World *w = [] {
        qputenv("QT_QPA_PLATFORM", "offscreen");
        static int argc = 1;
        static char name[] = "fuzz-answer";
        static char *argv[] = {name, nullptr};
        auto *world = new World;
        world->app = std::make_unique<QApplication>(argc, argv);
        world->fixture.Open();
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

void PutReadRequest(uint8_t start, uint8_t quantity) {
    const uint8_t frame[12] = {0x00, 0x01, 0x00, 0x01,  0x00, 0x06,
                               0x01, 0x03, 0x00, start, 0x00, quantity};
    std::memcpy(SBuf, frame, sizeof frame);
    SendCount = sizeof frame;
}

} // namespace

// The window is made before the first input, so that what Qt and fontconfig
// keep for the whole run is not counted against an input.
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

    TMainForm *const form = w.fixture.form.get();
    if (++w.iterations % ClearLogEvery == 0)
        form->Memo1->ClearLines();

    // A fresh connection, as Disconnect and Connect would leave it.
    delete idTCPClient;
    idTCPClient = new tcp::TcpClient;
    idTCPClient->Host = "127.0.0.1";
    idTCPClient->Port = w.listener->Port();
    try {
        idTCPClient->Connect();
    } catch (const std::exception &) {
        Fail("connect to the listener failed");
    }
    testsupport::Peer peer = w.listener->Accept(3000);
    if (!peer.Valid())
        Fail("no connection came to the listener");
    if (answerSize > 0 &&
        !peer.Send(QByteArray(reinterpret_cast<const char *>(answer), qsizetype(answerSize))))
        Fail("the peer could not send");
    ::shutdown(peer.Fd(), SHUT_WR);

    uint16_t before[RegsSize];
    for (int i = 0; i < RegsSize; ++i)
        Regs[i] = uint16_t(0xA5A5u ^ unsigned(i * 0x0101u) ^ unsigned(w.iterations));
    std::copy(std::begin(Regs), std::end(Regs), before);

    PutReadRequest(start, quantity);
    RecCount = -1;
    try {
        form->SendByTCP();
    } catch (const std::exception &) {
        ++w.exceptions; // passes to the caption display in the program
    }
    const int32_t s = SBuf[9], c = SBuf[11];
    form->Buf2Regs(s, c);
    peer.Abort(); // a reset: no TIME_WAIT left behind per input

    if (RecCount < -1 || RecCount > BufSize || (RecCount > 0 && size_t(RecCount) > answerSize))
        Fail("RecCount out of range", RecCount, long(answerSize));
    if (RecCount > 0 && std::memcmp(RBuf, answer, size_t(RecCount)) != 0)
        Fail("RBuf does not hold the answer's first bytes", RecCount);

    const bool exception = RecCount > 7 && (answer[7] & 0x80);
    const int32_t brought = RecCount > 9 ? (RecCount - 9) / 2 : 0;
    for (int i = 0; i < RegsSize; ++i) {
        const int32_t k = i - s;
        uint16_t want = before[i];
        if (k >= 0 && k < c && k < brought && !exception)
            want = uint16_t(answer[9 + 2 * k] << 8 | answer[10 + 2 * k]);
        if (Regs[i] != want)
            Fail("register changed against the rules", i, long(Regs[i]) << 16 | want);
    }
    return 0;
}
