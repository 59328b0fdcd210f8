// The repeat job: ticks driven by hand against the simulator, plus one run
// with the real timer.
#include "Dispatch.h"
#include "Edits.h"
#include "FormFixture.h"
#include "LoopbackPeer.h"
#include "SimProcess.h"
#include "StringGrid.h"

#include <QCheckBox>
#include <QLabel>
#include <QtTest>

namespace {
const QString TriggerWrite = QStringLiteral("01 06 00 00 00 01"); // unit, f6, 40001 := 1
}

class TestRepeat : public QObject {
    Q_OBJECT
    FormFixture f;

    void Tick() { f.form->Timer1Timer(f.form->Timer1); }
    void SwitchOn() { f.form->cbRepeatJob->setChecked(true); }
    static int Writes(testsupport::SimProcess &sim) {
        int n = 0;
        for (const QString &r : sim.Requests())
            n += r.endsWith(TriggerWrite);
        return n;
    }
    bool StartConnected(testsupport::SimProcess &sim, const QStringList &args) {
        if (!sim.Start(args))
            return false;
        f.Open();
        return f.Connect(sim.Port());
    }

private slots:
    void cleanup() { f.Close(); }

    void labels() {
        f.Open();
        Tick();
        QCOMPARE(f.form->labrj->text(), QStringLiteral("---"));
        SwitchOn();
        QCOMPARE(f.form->labrj->text(), QStringLiteral("Start"));
        QCOMPARE(timlastsameNumber, -1);
        QCOMPARE(timsameNumber, 1);
        QCOMPARE(timCount, 0);
        Regs[1] = 40000;
        Tick();
        QCOMPARE(f.form->labrj->text(), QStringLiteral("Reg[1]=40000 Cnt=0"));
        f.form->cbRepeatJob->setChecked(false);
        QCOMPARE(f.form->labrj->text(), QStringLiteral("Stop"));
        Tick();
        QCOMPARE(f.form->labrj->text(), QStringLiteral("---"));
    }

    // Counter stalled from switching on: the ticks that write, and the count.
    void stalledTimeline_data() {
        QTest::addColumn<bool>("atOne");
        QTest::addColumn<QList<int>>("writeTicks");
        QTest::newRow("stuck at 0") << false << QList<int>{5, 8, 11};
        QTest::newRow("stuck at 1") << true << QList<int>{4, 7, 10};
    }
    void stalledTimeline() {
        QFETCH(bool, atOne);
        QFETCH(QList<int>, writeTicks);
        testsupport::SimProcess sim;
        QVERIFY(StartConnected(sim, {"--stall-after", "0"}));
        if (atOne)
            f.form->WriteRegister(1, 1); // park the device's counter at 1
        const int before = Writes(sim);
        SwitchOn();
        for (int tick = 1; tick <= 11; ++tick) {
            Tick();
            const bool wrote = writeTicks.contains(tick);
            QTRY_COMPARE_WITH_TIMEOUT(Writes(sim) - before,
                                      int(std::count_if(writeTicks.begin(), writeTicks.end(),
                                                        [&](int t) { return t <= tick; })),
                                      2000);
            if (wrote) {
                QCOMPARE(timCount, 1);
                QCOMPARE(f.form->sg->Cell(2, 1), QStringLiteral("1")); // 40001 shows the write
            }
            QCOMPARE(f.form->labrj->text(),
                     QStringLiteral("Reg[1]=%1 Cnt=%2").arg(atOne ? 1 : 0).arg(timCount));
        }
    }

    void movingCounterNeverTriggers() {
        testsupport::SimProcess sim;
        QVERIFY(StartConnected(sim, {"--stall-after", "0"}));
        SwitchOn();
        for (int tick = 1; tick <= 8; ++tick) {
            f.form->WriteRegister(1, 100 + tick); // the device's counter moves
            Tick();
            QCOMPARE(timCount, 0);
        }
        QCOMPARE(Writes(sim), 0);
        QCOMPARE(Regs[1], uint16_t(108));
    }

    void moveAfterCountReachedThree() {
        testsupport::SimProcess sim;
        QVERIFY(StartConnected(sim, {"--stall-after", "0"}));
        SwitchOn();
        for (int tick = 1; tick <= 4; ++tick)
            Tick();
        QCOMPARE(timCount, 3);
        f.form->WriteRegister(1, 7);
        Tick();
        QTRY_COMPARE(Writes(sim), 1);
        QCOMPARE(timCount, 0);
    }

    void offAndOnResets() {
        f.Open();
        SwitchOn();
        for (int tick = 1; tick <= 3; ++tick)
            Tick();
        QCOMPARE(timCount, 2);
        f.form->cbRepeatJob->setChecked(false);
        Tick();
        QCOMPARE(timCount, 2); // kept while off
        SwitchOn();
        QCOMPARE(timCount, 0);
        QCOMPARE(timsameNumber, 1);
        QCOMPARE(timlastsameNumber, -1);
    }

    void notConnected() {
        f.Open();
        Regs[1] = 1;
        SwitchOn();
        for (int tick = 1; tick <= 5; ++tick) {
            f.form->sg->SetCell(2, 1, QStringLiteral("x"));
            Tick();
            QCOMPARE(f.form->sg->Cell(2, 1), QStringLiteral("0")); // redrawn
            QCOMPARE(f.form->labrj->text(), QStringLiteral("Reg[1]=1 Cnt=%1").arg(timCount));
        }
        // Tick 4 took the write branch, which did nothing without a connection.
        QCOMPARE(timCount, 2);
        QCOMPARE(Regs[0], uint16_t(0));
        QCOMPARE(f.form->Memo1->Lines(), QStringList());
        QVERIFY(f.boxes.isEmpty());
        QCOMPARE(f.form->seTransactionID->Value(), 1);
    }

    void silentDeviceStillTriggered() {
        testsupport::SimProcess sim;
        QVERIFY(StartConnected(sim, {"--mode", "silent"}));
        Regs[1] = 1; // the last reading that got an answer
        SwitchOn();
        for (int tick = 1; tick <= 4; ++tick) // each exchange waits ~3 s
            Tick();
        QTRY_COMPARE(Writes(sim), 1);
        QCOMPARE(Regs[0], uint16_t(1));
        QCOMPARE(timCount, 1);
    }

    void errorInTickEndsTick() {
        testsupport::Listener listener;
        f.Open();
        QVERIFY(f.Connect(listener.Port()));
        testsupport::Peer peer = listener.Accept();
        QVERIFY(peer.Valid());
        // One stray byte, then the device closes: the client still reports
        // connected while the byte is unread, and the send fails.
        QVERIFY(peer.Send(QByteArray::fromHex("00")));
        peer.ShutdownAndWaitAcked();
        QTest::qWait(50);
        SwitchOn();
        timCount = 2;
        f.form->labrj->setText(QStringLiteral("before"));
        QVERIFY(!ui::Dispatch([&] { Tick(); }));
        QVERIFY2(f.form->windowTitle().endsWith(QStringLiteral("Connection Closed Gracefully.")),
                 qPrintable(f.form->windowTitle()));
        QCOMPARE(timCount, 2);
        QCOMPARE(timlastsameNumber, 1);
        QCOMPARE(f.form->labrj->text(), QStringLiteral("before"));
    }

    // The job redraws on every tick; what the operator is typing into the
    // text field is not the registers' text and stays, until it is sent or
    // the focus moves on.
    void typingSurvivesTicks() {
        f.Open();
        f.form->show();
        ui::TLimitEdit *ed = f.form->edText;
        const auto regsSay = [](const QString &text) { core::TextToRegs(text, Regs); };
        regsSay(QStringLiteral("Abc"));
        SwitchOn();
        Tick();
        QCOMPARE(ed->text(), QStringLiteral("Abc"));

        // Focus alone keeps nothing: the field still follows the registers.
        ed->setFocus();
        regsSay(QStringLiteral("Abd"));
        Tick();
        QCOMPARE(ed->text(), QStringLiteral("Abd"));

        ed->selectAll();
        QTest::keyClicks(ed, QStringLiteral("Hel"));
        for (int tick = 0; tick < 3; ++tick) {
            Tick();
            QCOMPARE(ed->text(), QStringLiteral("Hel"));
        }
        QCOMPARE(f.form->sg->Cell(2, 56), QStringLiteral("A")); // the grid is redrawn
        QTest::keyClicks(ed, QStringLiteral("lo"));
        QCOMPARE(ed->text(), QStringLiteral("Hello"));

        // Sent (no device: the not-connected box), then the registers rule.
        f.form->btnSendClick(f.form->BitBtn1);
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(core::TextFromRegs(Regs), QStringLiteral("Hello"));
        regsSay(QStringLiteral("World"));
        Tick();
        QCOMPARE(ed->text(), QStringLiteral("World"));

        // Typed again and left unsent: the focus moving on hands it back.
        QTest::keyClicks(ed, QStringLiteral("!"));
        Tick();
        QCOMPARE(ed->text(), QStringLiteral("World!"));
        f.form->sePort->setFocus();
        Tick();
        QCOMPARE(ed->text(), QStringLiteral("World"));
    }

    void realTimer() {
        testsupport::SimProcess sim;
        QVERIFY(StartConnected(sim, {"--stall-after", "0"}));
        SwitchOn();
        // The same timer and wiring, ticking faster so the test stays short.
        f.form->Timer1->setInterval(100);
        f.form->Timer1->start();
        QTRY_VERIFY_WITH_TIMEOUT(Writes(sim) >= 1, 10000);
        f.form->Timer1->stop();
        QVERIFY(f.form->labrj->text().startsWith(QStringLiteral("Reg[1]=0 Cnt=")));
    }
};

QTEST_MAIN(TestRepeat)
#include "tst_repeat.moc"
