// The window by keyboard alone: the Tab order in both directions, Return and
// Enter on push buttons, and the mouse wheel on spin edits.
#include "FormFixture.h"
#include "SimProcess.h"
#include "StringGrid.h"

#include <QApplication>
#include <QCheckBox>
#include <QWheelEvent>
#include <QtTest>

namespace {

const QString NotConnectedBox =
    QStringLiteral("Tavrin nie jest po\u0142\u0105czony (not connected)");

void WheelOver(QWidget *w, int angle) {
    const QPointF at(w->width() / 2.0, w->height() / 2.0);
    QWheelEvent e(at, w->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton, Qt::NoModifier,
                  Qt::NoScrollPhase, false);
    QApplication::sendEvent(w, &e);
}

} // namespace

class TestKeyboard : public QObject {
    Q_OBJECT

    FormFixture f;

    // The window shown and active, so that key events reach the focus.
    bool Show() {
        f.form->show();
        f.form->activateWindow();
        return QTest::qWaitForWindowActive(f.form.get());
    }

    QList<QWidget *> TabOrder() const {
        TMainForm &w = *f.form;
        return {w.sg,
                w.Memo1,
                w.edIP,
                w.sePort,
                w.btnConnect,
                w.btnDisconnect,
                w.edRRStart,
                w.edRRNums,
                w.btnSendRR,
                w.btnWriteRangeRegs,
                w.btnRestartSend,
                w.btnReadAllRegs,
                w.edText,
                w.BitBtn1,
                w.seTransactionID,
                w.seProtocolID,
                w.seNodeID,
                w.cbRepeatJob};
    }

    static QString Name(QWidget *w) { return w ? w->objectName() : QStringLiteral("(none)"); }

private slots:
    void init() { f.Open(); }
    void cleanup() { f.Close(); }

    void tabWalk_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::addColumn<bool>("forward");
        QTest::newRow("Tab") << int(Qt::Key_Tab) << int(Qt::NoModifier) << true;
        // Shift+Tab arrives as Backtab from the keyboard layout, or as Tab
        // with Shift from some input methods.
        QTest::newRow("Shift+Tab (Backtab)")
            << int(Qt::Key_Backtab) << int(Qt::ShiftModifier) << false;
        QTest::newRow("Shift+Tab (Tab)") << int(Qt::Key_Tab) << int(Qt::ShiftModifier) << false;
    }

    void tabWalk() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        QFETCH(bool, forward);
        QVERIFY(Show());
        f.form->Memo1->AddLine(QStringLiteral("log"));
        const QList<QWidget *> order = TabOrder();
        const int n = int(order.size());
        QCOMPARE(n, 18);
        order[0]->setFocus(Qt::OtherFocusReason);
        QCOMPARE(Name(QApplication::focusWidget()), Name(order[0]));

        // Round the whole order and back to the grid, one key press per stop.
        for (int step = 1; step <= n; ++step) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key),
                            Qt::KeyboardModifiers(modifiers));
            QWidget *expected = order[forward ? step % n : (n - step) % n];
            QCOMPARE(Name(QApplication::focusWidget()), Name(expected));
        }
        // Tab moved on from the log and the fields: nothing was typed.
        QCOMPARE(f.Lines(), QStringList{"log"});
        QCOMPARE(f.form->edIP->text(), QStringLiteral("192.168.10.50"));
        QCOMPARE(f.form->edText->text(), QString());
        QVERIFY(!f.form->cbRepeatJob->isChecked());
    }

    void returnPressesButton_data() {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Return") << int(Qt::Key_Return) << int(Qt::NoModifier);
        QTest::newRow("keypad Enter") << int(Qt::Key_Enter) << int(Qt::KeypadModifier);
    }

    // Every push button the operator can reach, pressed from the keyboard,
    // runs its handler: each leaves its own trace in the log.
    void returnPressesButton() {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        testsupport::SimProcess sim;
        QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics()));
        QVERIFY(Show());
        TMainForm &w = *f.form;
        QList<QPushButton *> pressed;
        const auto press = [&](QPushButton *b) {
            pressed << b;
            b->setFocus(Qt::TabFocusReason);
            QCOMPARE(Name(QApplication::focusWidget()), Name(b));
            QTest::keyClick(QApplication::focusWidget(), Qt::Key(key),
                            Qt::KeyboardModifiers(modifiers));
        };
        const auto lastSend = [&] {
            const QStringList lines = f.Lines();
            for (qsizetype i = lines.size() - 1; i >= 0; --i)
                if (lines[i].startsWith(QStringLiteral("Send: ")))
                    return lines[i].mid(6 + 7 * 3).trimmed(); // after the header
            return QString();
        };
        w.edIP->setText(QStringLiteral("127.0.0.1"));
        w.sePort->SetValue(sim.Port());

        // Not connected yet: the exchange's box shows that the handler ran.
        press(w.btnSendRR);
        QCOMPARE(f.boxes.size(), 1);
        QCOMPARE(f.boxes.last().text, NotConnectedBox);

        press(w.btnConnect);
        QCOMPARE(f.LastLine(), QStringLiteral("Successful connect with Tavrin"));
        press(w.btnSendRR);
        QCOMPARE(lastSend(), QStringLiteral("03 00 00 00 06"));
        press(w.btnWriteRangeRegs);
        QVERIFY(lastSend().startsWith(QStringLiteral("10 00 00 00 06 0C")));
        press(w.btnRestartSend);
        QCOMPARE(lastSend(), QStringLiteral("06 00 26 00 55"));
        press(w.btnReadAllRegs);
        QCOMPARE(lastSend(), QStringLiteral("03 00 00 00 FF"));
        w.edText->setText(QStringLiteral("A"));
        press(w.BitBtn1);
        QCOMPARE(lastSend(), QStringLiteral("10 00 37 00 02 04 00 41 00 00"));
        press(w.btnDisconnect);
        QCOMPARE(f.LastLine(), QStringLiteral("Disconnect with Tavrin"));
        QCOMPARE(f.boxes.size(), 1);
        QVERIFY(sim.WaitForRequests(5));
        QCOMPARE(sim.Requests().size(), 5);

        // That was every button the operator can reach.
        QList<QPushButton *> reachable;
        for (QPushButton *b : w.findChildren<QPushButton *>())
            if (b->isVisibleTo(&w) && b->focusPolicy() & Qt::TabFocus)
                reachable << b;
        std::sort(reachable.begin(), reachable.end());
        std::sort(pressed.begin(), pressed.end());
        pressed.erase(std::unique(pressed.begin(), pressed.end()), pressed.end());
        QCOMPARE(pressed, reachable);
        QCOMPARE(sim.Stop(), 0);
    }

    void returnElsewhereClicksNothing() {
        QVERIFY(Show());
        // Were Return to press Connect after all, it would try a refused
        // loopback port, never the default address.
        f.form->edIP->setText(QStringLiteral("127.0.0.1"));
        f.form->sePort->SetValue(testsupport::RefusedPort());
        f.form->edIP->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Return);
        f.form->Memo1->setFocus(Qt::TabFocusReason);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Enter, Qt::KeypadModifier);
        QVERIFY(f.boxes.isEmpty());
        // Return in the log is the log's own key (a line break), no button's.
        QVERIFY(f.Lines().join(QString()).isEmpty());
    }

    void wheelOnlyWithFocus() {
        QVERIFY(Show());
        TMainForm &w = *f.form;
        for (ui::TSpinEdit *s :
             {w.sePort, w.edRRStart, w.edRRNums, w.seTransactionID, w.seProtocolID, w.seNodeID}) {
            const int32_t start = s->Value();
            w.edIP->setFocus(Qt::OtherFocusReason);
            WheelOver(s, 120);
            WheelOver(s, 120);
            QCOMPARE(s->Value(), start);
            s->setFocus(Qt::OtherFocusReason);
            WheelOver(s, 120);
            QCOMPARE(s->Value(), start + 1);
            WheelOver(s, -120);
            WheelOver(s, -120);
            QCOMPARE(s->Value(), start - 1);
        }
    }
};

QTEST_MAIN(TestKeyboard)
#include "tst_keyboard.moc"
