// A misbehaving device: silence, split, late, misnumbered, short, flooding
// and exception answers. How an answer is framed and checked is tested in
// tests/core; here, that the window logs and takes them so.
#include "FormFixture.h"
#include "LoopbackPeer.h"
#include "Rss.h"
#include "SimProcess.h"
#include "TcpClient.h"

#include <QFile>
#include <QtTest>

#include <thread>

namespace {

// The log lines added since `from`, without the empty ones that the answer
// line's CR LF leaves.
QStringList LinesSince(const FormFixture &f, qsizetype from) {
    QStringList l = f.Lines().mid(from);
    l.removeAll(QString());
    return l;
}

// The log's hex of the function-3 answer the simulator gives to transaction
// tid for words.
QString ReadAnswerHex(int tid, const QList<int> &words) {
    QByteArray a;
    a += char(tid >> 8);
    a += char(tid);
    a += QByteArray::fromHex("0001");
    a += char(0);
    a += char(3 + 2 * words.size());
    a += QByteArray::fromHex("0103");
    a += char(2 * words.size());
    for (int w : words) {
        a += char(w >> 8);
        a += char(w);
    }
    return FormFixture::Hex(reinterpret_cast<const uint8_t *>(a.constData()), int(a.size())) + u' ';
}

} // namespace

using testsupport::RssKb;
using testsupport::RssMeaningful;

class TestFaults : public QObject {
    Q_OBJECT
    FormFixture f;

private slots:
    void cleanup() { f.Close(); }

    void silentDevice() {
        testsupport::SimProcess sim;
        QVERIFY2(sim.Start({"--plain", "--mode", "silent"}), qPrintable(sim.Diagnostics()));
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

    // The answer in two pieces within the wait is taken whole: the exchange
    // reads on to the length its header announces. (Its first piece alone
    // used to be the answer, the rest opening the next one.)
    void splitAnswer_data() {
        QTest::addColumn<QStringList>("mode");
        QTest::newRow("split: half, 1.5 s later") << QStringList{"--mode", "split"};
        QTest::newRow("split-at 5/1500") << QStringList{"--mode", "split-at", "5/1500"};
        QTest::newRow("split-at 8/2500") << QStringList{"--mode", "split-at", "8/2500"};
    }
    void splitAnswer() {
        QFETCH(QStringList, mode);
        testsupport::SimProcess sim;
        QVERIFY2(sim.Start(QStringList{"--plain", "--stall-after", "0"} + mode),
                 qPrintable(sim.Diagnostics()));
        f.Open();
        QVERIFY(f.Connect(sim.Port()));
        std::fill(std::begin(Regs), std::end(Regs), uint16_t(0x7777));
        f.form->btnReadAllRegsClick(nullptr);
        QCOMPARE(RecCount, 9 + 2 * 255);
        QCOMPARE(Regs[23], uint16_t(104)); // the version, at its own place
        QCOMPARE(Regs[0], uint16_t(0));
        QCOMPARE(Regs[55], uint16_t('H'));
        QCOMPARE(Regs[255], uint16_t(0x7777)); // not asked for
        const qsizetype from = f.Lines().size();
        f.form->btnSendRRClick(nullptr); // 40001, 6 registers: a 21-byte answer
        QCOMPARE(LinesSince(f, from),
                 (QStringList{QStringLiteral("Send: 00 02 00 01 00 06 01 03 00 00 00 06 "),
                              QStringLiteral("Receive: ") + ReadAnswerHex(2, {0, 0, 0, 0, 0, 0})}));
        QCOMPARE(f.form->seTransactionID->Value(), 3);
    }

    // Answers after the wait are logged as stale and dropped, whether they
    // come between exchanges or during the next one; the next reads get their
    // own words.
    void lateAnswer() {
        testsupport::SimProcess sim;
        QVERIFY2(sim.Start({"--plain", "--stall-after", "0", "--mode", "late", "3300"}),
                 qPrintable(sim.Diagnostics()));
        f.Open();
        QVERIFY(f.Connect(sim.Port()));
        std::fill(std::begin(Regs), std::end(Regs), uint16_t(0x7777));
        const auto readRange = [this](int start, int n) {
            f.form->edRRStart->SetValue(start);
            f.form->edRRNums->SetValue(n);
            f.form->btnSendRRClick(nullptr);
        };
        const QString version = ReadAnswerHex(1, {104});

        readRange(40024, 1); // late
        QCOMPARE(f.LastLine(), QStringLiteral("Nic nie odebrano z Tavrin."));
        QCOMPARE(Regs[23], uint16_t(0x7777));
        QTest::qWait(800); // it arrives now, before the next request
        qsizetype from = f.Lines().size();
        readRange(40001, 6);
        QCOMPARE(LinesSince(f, from),
                 (QStringList{QStringLiteral("Stale: ") + version,
                              QStringLiteral("Send: 00 02 00 01 00 06 01 03 00 00 00 06 "),
                              QStringLiteral("Receive: ") + ReadAnswerHex(2, {0, 0, 0, 0, 0, 0})}));
        for (int i = 0; i < 6; ++i)
            QCOMPARE(Regs[i], uint16_t(0));
        QCOMPARE(Regs[23], uint16_t(0x7777));

        readRange(40024, 1); // late again, and it arrives during the next exchange
        QCOMPARE(f.LastLine(), QStringLiteral("Nic nie odebrano z Tavrin."));
        from = f.Lines().size();
        readRange(40056, 5);
        const QStringList lines = LinesSince(f, from);
        QCOMPARE(lines.size(), 3);
        QCOMPARE(lines[1], QStringLiteral("Stale: ") + ReadAnswerHex(3, {104}));
        QCOMPARE(lines[2],
                 QStringLiteral("Receive: ") + ReadAnswerHex(4, {'H', 'e', 'l', 'l', 'o'}));
        QCOMPARE(Regs[55], uint16_t('H'));
        QCOMPARE(Regs[59], uint16_t('o'));
        QCOMPARE(Regs[23], uint16_t(0x7777));
        QCOMPARE(f.form->seTransactionID->Value(), 5);
    }

    // An answer with another transaction ID is not this request's: logged,
    // dropped, and the wait runs out.
    void wrongTransaction() {
        testsupport::SimProcess sim;
        QVERIFY2(sim.Start({"--plain", "--mode", "wrong-tid"}), qPrintable(sim.Diagnostics()));
        f.Open();
        QVERIFY(f.Connect(sim.Port()));
        Regs[23] = 0x7777;
        f.form->edRRStart->SetValue(40024);
        f.form->edRRNums->SetValue(1);
        const qsizetype from = f.Lines().size();
        f.form->btnSendRRClick(nullptr);
        QCOMPARE(LinesSince(f, from),
                 (QStringList{QStringLiteral("Send: 00 01 00 01 00 06 01 03 00 17 00 01 "),
                              QStringLiteral("Stale: ") + ReadAnswerHex(0, {104}),
                              QStringLiteral("Nic nie odebrano z Tavrin.")}));
        QCOMPARE(RecCount, 0);
        QCOMPARE(Regs[23], uint16_t(0x7777));
    }

    // Bytes beyond each answer are dropped and counted: over 1,000 exchanges
    // neither the client's input buffer nor the process grows (the log is
    // cleared now and then, so that only buffers count).
    void floodKeepsBuffersBounded() {
        testsupport::SimProcess sim;
        QVERIFY2(sim.Start({"--plain", "--stall-after", "0", "--mode", "flood"}),
                 qPrintable(sim.Diagnostics()));
        f.Open();
        QVERIFY(f.Connect(sim.Port()));
        f.form->edRRStart->SetValue(40024);
        f.form->edRRNums->SetValue(1);
        long rssAt100 = 0;
        int dropped = 0;
        for (int i = 0; i < 1000; ++i) {
            Regs[23] = 0;
            const qsizetype from = f.Lines().size();
            f.form->btnSendRRClick(nullptr);
            QCOMPARE(RecCount, 11);
            QCOMPARE(Regs[23], uint16_t(104));
            QCOMPARE(idTCPClient->InputBufferSize(), size_t(0));
            for (const QString &line : LinesSince(f, from))
                dropped += line == QStringLiteral("Dropped 4989 bytes after the answer.");
            if (i % 50 == 49) {
                f.form->Memo1->ClearLines();
                QCoreApplication::processEvents(); // the simulator's output read
            }
            if (i == 99)
                rssAt100 = RssKb();
        }
        QVERIFY(dropped > 0);
        const long growth = RssKb() - rssAt100;
        qInfo("resident set grew by %ld KiB from exchange 100 to 1000", growth);
        // Kept, the filler would be some 4.4 MB by now.
        if (RssMeaningful)
            QVERIFY2(growth < 1024, qPrintable(QStringLiteral("grew by %1 KiB").arg(growth)));
    }

    // The exception is named after the answer line, for reads and writes.
    // (The answer line used to be the last one.)
    void exceptionAnswerLeavesImage() {
        testsupport::SimProcess sim;
        QVERIFY2(sim.Start({"--plain", "--mode", "exception"}), qPrintable(sim.Diagnostics()));
        f.Open();
        QVERIFY(f.Connect(sim.Port()));
        // Stale register bytes from an earlier, full answer sit in RBuf.
        std::fill(std::begin(RBuf), std::end(RBuf), uint8_t(0x11));
        for (int i = 0; i < 6; ++i)
            Regs[i] = uint16_t(100 + i);
        f.form->btnSendRRClick(nullptr);
        QCOMPARE(RecCount, 9);
        QVERIFY(RBuf[7] & 0x80);
        for (int i = 0; i < 6; ++i)
            QCOMPARE(Regs[i], uint16_t(100 + i));
        QStringList lines = LinesSince(f, f.Lines().size() - 3);
        QCOMPARE(lines.value(0), QStringLiteral("Receive: 00 01 00 01 00 03 01 83 04 "));
        QCOMPARE(lines.value(1),
                 QStringLiteral("Exception answer 04 (device failure): registers unchanged."));
        f.form->btnWriteRangeRegsClick(nullptr);
        lines = LinesSince(f, f.Lines().size() - 3);
        QCOMPARE(lines.value(0), QStringLiteral("Receive: 00 02 00 01 00 03 01 90 04 "));
        QCOMPARE(lines.value(1), QStringLiteral("Exception answer 04 (device failure)."));
    }

    // A byte already buffered when an exchange begins answers no request of
    // it: logged and dropped before the request goes out. (It used to be
    // taken as the answer.)
    void byteBeforeTheRequest() {
        testsupport::Listener listener;
        f.Open();
        QVERIFY(f.Connect(listener.Port()));
        testsupport::Peer peer = listener.Accept();
        QVERIFY(peer.Valid());
        QVERIFY(peer.Send(QByteArray::fromHex("ab")));
        Regs[0] = 55;
        const qsizetype from = f.Lines().size();
        f.form->btnSendRRClick(nullptr); // waits about 3 s
        QCOMPARE(LinesSince(f, from),
                 (QStringList{QStringLiteral("Stale: AB "),
                              QStringLiteral("Send: 00 01 00 01 00 06 01 03 00 00 00 06 "),
                              QStringLiteral("Nic nie odebrano z Tavrin.")}));
        QCOMPARE(RecCount, 0);
        QCOMPARE(Regs[0], uint16_t(55));
        QCOMPARE(peer.Receive(16).toHex(), QByteArray("0000000c000100010006010300000006"));
    }

    // An answer that stops short is shown as it came and copies nothing.
    void incompleteAnswer() {
        testsupport::Listener listener;
        f.Open();
        QVERIFY(f.Connect(listener.Port()));
        testsupport::Peer peer = listener.Accept();
        QVERIFY(peer.Valid());
        Regs[0] = 55;
        // The peer answers once the request is there, while the window waits.
        std::thread answer([&peer] {
            if (peer.Receive(16).size() == 16)
                peer.Send(QByteArray::fromHex("000100010007010304"));
        });
        f.form->btnSendRRClick(nullptr); // waits about 3 s for the rest
        answer.join();
        QCOMPARE(RecCount, 9);
        QStringList lines = LinesSince(f, f.Lines().size() - 3);
        QCOMPARE(lines.value(0), QStringLiteral("Receive: 00 01 00 01 00 07 01 03 04 "));
        QCOMPARE(lines.value(1),
                 QStringLiteral("Answer incomplete: 9 of 13 bytes: registers unchanged."));
        QCOMPARE(Regs[0], uint16_t(55));
    }
};

QTEST_MAIN(TestFaults)
#include "tst_faults.moc"
