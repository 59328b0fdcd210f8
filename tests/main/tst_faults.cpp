// A misbehaving device: silence, split, short, flooding and exception
// answers. How an answer enters the image is tested in tests/core.
#include "FormFixture.h"
#include "LoopbackPeer.h"
#include "SimProcess.h"

#include <QtTest>

class TestFaults : public QObject {
    Q_OBJECT
    FormFixture f;

private slots:
    void cleanup() { f.Close(); }

    void silentDevice() {
        testsupport::SimProcess sim;
        QVERIFY2(sim.Start({"--mode", "silent"}), qPrintable(sim.Diagnostics()));
        f.Open();
        QVERIFY(f.Connect(sim.Port()));
        Regs[1] = 321;
        const uint16_t value = f.form->ReadRegister(1); // waits about 3 s
        QCOMPARE(value, uint16_t(321));
        QCOMPARE(RecCount, 0);
        QCOMPARE(f.LastLine(), QStringLiteral("Nic nie odebrano z Tavrin."));
        QCOMPARE(f.form->seTransactionID->Value(), 2);
        QVERIFY(sim.WaitForRequests(1));
        QVERIFY(f.boxes.isEmpty());
    }

    void splitAnswer() {
        testsupport::SimProcess sim;
        QVERIFY2(sim.Start({"--mode", "split"}), qPrintable(sim.Diagnostics()));
        f.Open();
        QVERIFY(f.Connect(sim.Port()));
        f.form->btnSendRRClick(nullptr); // 6 registers: a 21-byte answer
        const int first = RecCount;
        QVERIFY(first >= 1 && first < 21);
        const QByteArray part1(reinterpret_cast<const char *>(RBuf), first);
        QTest::qWait(2000); // the second part arrives meanwhile
        f.form->btnSendRRClick(nullptr);
        QVERIFY(RecCount >= 21 - first);
        const QByteArray whole =
            part1 + QByteArray(reinterpret_cast<const char *>(RBuf), 21 - first);
        // The whole first answer: transaction 1, function 3, 12 data bytes.
        QCOMPARE(whole.left(9).toHex(), QByteArray("00010001000f01030c"));
        QCOMPARE(f.form->seTransactionID->Value(), 3);
    }

    void floodKeepsBuffersBounded() {
        testsupport::SimProcess sim;
        QVERIFY2(sim.Start({"--mode", "flood"}), qPrintable(sim.Diagnostics()));
        f.Open();
        QVERIFY(f.Connect(sim.Port()));
        Regs[255] = 4242;
        for (int i = 0; i < 6; ++i) {
            f.form->btnReadAllRegsClick(nullptr);
            QVERIFY(RecCount >= 1 && RecCount <= BufSize);
        }
        QCOMPARE(Regs[255], uint16_t(4242));
        QVERIFY(f.form->Memo1->Lines().size() > 6);
    }

    void exceptionAnswerLeavesImage() {
        testsupport::SimProcess sim;
        QVERIFY2(sim.Start({"--mode", "exception"}), qPrintable(sim.Diagnostics()));
        f.Open();
        QVERIFY(f.Connect(sim.Port()));
        // Stale register bytes from an earlier, full answer sit in RBuf.
        std::fill(std::begin(RBuf), std::end(RBuf), uint8_t(0x11));
        for (int i = 0; i < 6; ++i)
            Regs[i] = uint16_t(100 + i);
        f.form->btnSendRRClick(nullptr);
        QVERIFY(RecCount >= 8);
        QVERIFY(RBuf[7] & 0x80);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(Regs[i], uint16_t(100 + i));
        QVERIFY(f.LastLine().startsWith(QStringLiteral("Receive: ")));
    }

    void oneByteAnswer() {
        testsupport::Listener listener;
        f.Open();
        QVERIFY(f.Connect(listener.Port()));
        testsupport::Peer peer = listener.Accept();
        QVERIFY(peer.Valid());
        QVERIFY(peer.Send(QByteArray::fromHex("ab")));
        Regs[0] = 55;
        f.form->btnSendRRClick(nullptr);
        QCOMPARE(RecCount, 1);
        QCOMPARE(f.LastLine(), QStringLiteral("Receive: AB "));
        QCOMPARE(Regs[0], uint16_t(55));
        QCOMPARE(peer.Receive(16).toHex(), QByteArray("0000000c000100010006010300000006"));
    }
};

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
