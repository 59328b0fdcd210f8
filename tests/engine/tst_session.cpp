// The engine without any window: sessions over their own buffers, the two
// seams, and several sessions at once in one process.
#include "Session.h"
#include "SimProcess.h"
#include "TcpClient.h"

#include <QtTest>

#include <thread>

namespace {

struct Probe {
    tcp::TcpClient client;
    engine::Session session;
    QStringList traffic, messages;
    QList<int32_t> raised;

    Probe() {
        session.client = &client;
        session.traffic = [this](const QString &l) { traffic << l; };
        session.message = [this](const QString &m) { messages << m; };
        session.transactionRaised = [this](int32_t id) { raised << id; };
    }
    bool Connect(quint16 port) {
        client.Host = "127.0.0.1";
        client.Port = port;
        try {
            client.Connect();
        } catch (const std::exception &) {
            return false;
        }
        return true;
    }
};

} // namespace

class TestSession : public QObject {
    Q_OBJECT

private slots:
    // Not connected: the operator's seam says so, nothing is logged or sent,
    // and the transaction ID stays.
    void notConnected() {
        Probe p;
        uint16_t image[core::ImageSize] = {};
        const engine::Reply r = p.session.ReadRange(0, 6, image);
        QVERIFY(!r.exchange.sent);
        QCOMPARE(p.messages, QStringList{QStringLiteral(
                                 "Tavrin nie jest po\u0142\u0105czony (not connected)")});
        QVERIFY(p.traffic.isEmpty());
        QVERIFY(p.raised.isEmpty());
        QCOMPARE(p.session.header.transactionId, 1);
    }

    // A reply carries its check: a read's registers taken, a write's
    // acknowledgement, an exception named once in the traffic.
    void replies() {
        testsupport::SimProcess sim;
        QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics()));
        Probe p;
        QVERIFY(p.Connect(sim.Port()));
        uint16_t image[core::ImageSize] = {};
        const uint16_t words[] = {7, 8};
        const engine::Reply w = p.session.WriteRange(39, words);
        QVERIFY(w.Ok());
        QVERIFY(w.acknowledged);
        const engine::Reply r = p.session.ReadRange(39, 2, image);
        QVERIFY(r.Ok());
        QCOMPARE(r.taken, 2);
        QCOMPARE(image[39], uint16_t(7));
        QCOMPARE(image[40], uint16_t(8));
        // The version is read-only: exception 02.
        const engine::Reply bad = p.session.WriteSingle(core::VersionIndex, 1);
        QCOMPARE(bad.check.fault, core::AnswerFault::Exception);
        QVERIFY(!bad.acknowledged);
        QCOMPARE(p.traffic.last(), QStringLiteral("Exception answer 02 (illegal data address)."));
        QCOMPARE(p.raised, (QList<int32_t>{2, 3, 4}));
    }

    // Two sessions side by side, each on its own thread and simulator: every
    // answer lands in its own session, none in the other's.
    void sessionsSideBySide() {
        testsupport::SimProcess a, b;
        QVERIFY2(a.Start({"--plain"}), qPrintable(a.Diagnostics()));
        QVERIFY2(b.Start({"--plain"}), qPrintable(b.Diagnostics()));
        Probe pa, pb;
        QVERIFY(pa.Connect(a.Port()));
        QVERIFY(pb.Connect(b.Port()));
        pb.session.header.transactionId = 1000;
        const auto work = [](Probe *p, uint16_t base, int *good) {
            uint16_t image[core::ImageSize] = {};
            for (int i = 0; i < 200; ++i) {
                const uint16_t word = uint16_t(base + i);
                const engine::Reply w = p->session.WriteSingle(40, word);
                const engine::Reply r = p->session.ReadRange(40, 1, image);
                *good += w.acknowledged && r.Ok() && image[40] == word;
            }
        };
        int goodA = 0, goodB = 0;
        std::thread ta(work, &pa, uint16_t(0), &goodA);
        std::thread tb(work, &pb, uint16_t(30000), &goodB);
        ta.join();
        tb.join();
        QCOMPARE(goodA, 200);
        QCOMPARE(goodB, 200);
        QCOMPARE(pa.session.header.transactionId, 401);
        QCOMPARE(pb.session.header.transactionId, 1400);
        QCOMPARE(pa.traffic.filter(QStringLiteral("Receive: ")).size(), 400);
        QVERIFY(pa.messages.isEmpty() && pb.messages.isEmpty());
    }
};

QTEST_GUILESS_MAIN(TestSession)
#include "tst_session.moc"
