// The traffic log in the main window: lines of real exchanges, typing,
// the focus walk through it, and the saved file of a session.
#include "FormFixture.h"
#include "SimProcess.h"
#include "StringGrid.h"

#include <QApplication>
#include <QCheckBox>
#include <QClipboard>
#include <QMenu>
#include <QRegularExpression>
#include <QScrollBar>
#include <QtTest>

class TestLogWindow : public QObject {
    Q_OBJECT
    FormFixture f;
    testsupport::SimProcess sim;

    void OpenShown() {
        f.Open();
        f.form->resize(983, 779);
        f.form->show();
        f.form->activateWindow();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
    }

private slots:
    void initTestCase() { QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics())); }
    void cleanupTestCase() { sim.Stop(); }
    void cleanup() { f.Close(); }

    // Exchanges add their lines at the end, the answer line leaves an empty
    // line, the newest line is in view, the long answer wraps at the width.
    void exchangeLines() {
        OpenShown();
        ui::TMemo *log = f.form->Memo1;
        QCOMPARE(log->Lines(), QStringList());
        QVERIFY(f.Connect(sim.Port()));
        f.form->btnReadAllRegsClick(f.form->btnReadAllRegs);
        f.form->btnSendRRClick(f.form->btnSendRR);
        const QStringList lines = log->Lines();
        QCOMPARE(lines.size(), 7);
        QCOMPARE(lines[0], QStringLiteral("Successful connect with Tavrin"));
        QVERIFY(lines[1].startsWith(QStringLiteral("Send: 00 01 00 01 00 06 01 03 00 00 00 FF")));
        QCOMPARE(lines[2].size(), qsizetype(9 + 3 * 519));
        QCOMPARE(lines[3], QString());
        QVERIFY(lines[4].startsWith(QStringLiteral("Send: 00 02 ")));
        QVERIFY(lines[5].startsWith(QStringLiteral("Receive: 00 02 ")));
        QCOMPARE(lines[6], QString());
        const int columns = log->Columns();
        QVERIFY(columns > 80);
        QCOMPARE(log->Store().RowsOf(2), (9 + 3 * 519 + columns - 1) / columns);
        // Every row of the answer line after the first starts with a hex pair.
        for (int start = columns; start < lines[2].size(); start += columns)
            QVERIFY2(QStringView(lines[2]).mid(start, 3).toString().contains(
                         QRegularExpression(QStringLiteral("^[0-9A-F]{2}( |$)"))),
                     qPrintable(QString::number(start)));
        auto *bar = log->verticalScrollBar();
        QCOMPARE(bar->value(), bar->maximum());
        QVERIFY(log->Store().Rows() - 1 < bar->value() + log->VisibleRows());
    }

    // The operator types into the log between exchanges; Tab goes on to the
    // IP field and Shift+Tab back to the grid, typing nothing.
    void typingAndFocus() {
        OpenShown();
        ui::TMemo *log = f.form->Memo1;
        QVERIFY(f.Connect(sim.Port()));
        log->setFocus();
        QTRY_VERIFY(log->hasFocus());
        QTest::keyClick(log, Qt::Key_End, Qt::ControlModifier);
        QTest::keyClicks(log, QStringLiteral("note: "));
        QTest::keyClick(log, Qt::Key_Backspace);
        QTest::keyClicks(log, QStringLiteral("-cable swapped"));
        f.form->btnSendRRClick(f.form->btnSendRR);
        QStringList lines = log->Lines();
        QCOMPARE(lines.value(0),
                 QStringLiteral("Successful connect with Tavrinnote:-cable swapped"));
        QVERIFY(lines.value(1).startsWith(QStringLiteral("Send: ")));
        QTest::keyClick(log, Qt::Key_Tab);
        QTRY_VERIFY(f.form->edIP->hasFocus());
        log->setFocus();
        QTRY_VERIFY(log->hasFocus());
        QTest::keyClick(log, Qt::Key_Backtab, Qt::ShiftModifier);
        QTRY_VERIFY(f.form->sg->hasFocus());
        QCOMPARE(log->Lines(), lines);
    }

    // The keys, the mouse and the menu in the window's log.
    void editingInTheWindow() {
        OpenShown();
        QVERIFY(f.Connect(sim.Port()));
        f.form->btnReadAllRegsClick(f.form->btnReadAllRegs);
        ui::TMemo *log = f.form->Memo1;
        QVERIFY(log->verticalScrollBar()->isVisible());
        log->setFocus();
        QTRY_VERIFY(log->hasFocus());
        QTest::keyClick(log, Qt::Key_A, Qt::ControlModifier);
        QTest::keyClick(log, Qt::Key_C, Qt::ControlModifier);
        QCOMPARE(QApplication::clipboard()->text(), f.Lines().join(u'\n'));
        // Dragged over the wrapped answer line from its second row to the
        // empty line after it.
        const QString answer = f.Lines().at(2);
        const int columns = log->Columns();
        log->verticalScrollBar()->setValue(0);
        const qreal cw = QFontMetricsF(log->font()).horizontalAdvance(u'0');
        const int lh = QFontMetrics(log->font()).lineSpacing();
        const auto at = [&](int row, int col) {
            return QPoint(4 + qRound(col * cw), 4 + row * lh + lh / 2);
        };
        const int answerRows = (int(answer.size()) + columns - 1) / columns;
        QTest::mousePress(log->viewport(), Qt::LeftButton, {}, at(3, 0));
        QTest::mouseMove(log->viewport(), at(2 + answerRows, 0));
        QTest::mouseRelease(log->viewport(), Qt::LeftButton, {}, at(2 + answerRows, 0));
        QCOMPARE(log->SelectedText(), answer.mid(columns) + u'\n');
        QTest::keyClick(log, Qt::Key_X, Qt::ControlModifier);
        QCOMPARE(f.Lines().at(2), answer.left(columns));
        QTest::keyClick(log, Qt::Key_Home);
        QTest::keyClick(log, Qt::Key_V, Qt::ControlModifier);
        QCOMPARE(f.Lines().mid(2), (QStringList{answer.mid(columns), answer.left(columns)}));
        QTest::keyClick(log, Qt::Key_PageUp);
        QCOMPARE(log->Caret().line, 0);
        std::unique_ptr<QMenu> menu(log->CreateContextMenu());
        QVERIFY(menu->findChild<QAction *>(QStringLiteral("Save log as...")));
    }

    // A session saved: every line in order with its time, CR LF, the round
    // trip after every answer line, none after an exchange nobody answered.
    void savedSession() {
        OpenShown();
        QVERIFY(f.Connect(sim.Port()));
        f.form->cbRepeatJob->setChecked(true);
        for (int i = 0; i < 5; ++i)
            f.form->Timer1Timer(f.form->Timer1);
        f.form->btnReadAllRegsClick(f.form->btnReadAllRegs);
        f.form->btnDisconnectClick(f.form->btnDisconnect);
        testsupport::SimProcess silent;
        QVERIFY2(silent.Start({"--mode", "silent"}), qPrintable(silent.Diagnostics()));
        QVERIFY(f.Connect(silent.Port()));
        f.form->btnSendRRClick(f.form->btnSendRR); // about 3 s, no answer
        silent.Stop();

        QMenu *menu = f.form->Memo1->CreateContextMenu();
        QVERIFY(menu->findChild<QAction *>(QStringLiteral("Save log as...")));
        delete menu;
        const QString path = f.dir->filePath(QStringLiteral("session.log"));
        QVERIFY(f.form->Memo1->SaveLog(path));
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QByteArray all = file.readAll();
        QVERIFY(all.endsWith("\r\n"));
        QCOMPARE(all.count("\r\n"), all.count('\n'));
        const QStringList saved = QString::fromUtf8(all.chopped(2)).split(QStringLiteral("\r\n"));
        const QStringList lines = f.Lines();
        QCOMPARE(saved.size(), lines.size());
        static const QRegularExpression re(
            QStringLiteral(R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3}) (\((\d+\.\d{3}) ms\) )?)"));
        QString previous;
        int answers = 0;
        for (int i = 0; i < saved.size(); ++i) {
            const auto m = re.match(saved[i]);
            QVERIFY2(m.hasMatch(), qPrintable(saved[i]));
            QCOMPARE(saved[i].mid(m.capturedLength()), lines[i]);
            QVERIFY(previous <= m.captured(1)); // the format sorts as text
            previous = m.captured(1);
            const bool answer = lines[i].startsWith(QStringLiteral("Receive: "));
            QCOMPARE(m.hasCaptured(2), answer);
            answers += answer;
        }
        // Every exchange was answered but the last one.
        QVERIFY(answers >= 6);
        QCOMPARE(answers, lines.filter(QRegularExpression(QStringLiteral("^Send: "))).size() - 1);
        QVERIFY(lines.contains(QStringLiteral("Nic nie odebrano z Tavrin.")));
    }
};

QTEST_MAIN(TestLogWindow)
#include "tst_logwindow.moc"
