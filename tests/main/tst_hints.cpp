// Tooltips and accessible names: every register name cell and every button
// explains itself, the network rows show their whole setting, and no caption
// or register name has changed.
#include "FormFixture.h"
#include "StringGrid.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QHelpEvent>
#include <QLabel>
#include <QMenu>
#include <QToolTip>
#include <QtTest>

class TestHints : public QObject {
    Q_OBJECT
    FormFixture f;

    // The caption a control shows: its text, its title, or for a field the
    // text of the label whose buddy it is.
    static QString Caption(QWidget *w) {
        if (auto *b = qobject_cast<QAbstractButton *>(w))
            return b->text();
        if (auto *g = qobject_cast<QGroupBox *>(w))
            return g->title();
        if (auto *l = qobject_cast<QLabel *>(w))
            return l->text();
        for (QLabel *l : w->parentWidget()->findChildren<QLabel *>(Qt::FindDirectChildrenOnly))
            if (l->buddy() == w)
                return l->text();
        return QString();
    }

private slots:
    void init() { f.Open(); }
    void cleanup() { f.Close(); }

    void captionsUnchanged_data() {
        QTest::addColumn<QString>("object");
        QTest::addColumn<QString>("caption");
        const char *const rows[][2] = {
            {"GroupBox1", "Registers"},
            {"gbClient", "Client"},
            {"edIP", "IP:"},
            {"sePort", "Port:"},
            {"btnConnect", "Connect"},
            {"btnDisconnect", "Disconnect"},
            {"gbReadRegs", "Read range registers (func 3)"},
            {"edRRStart", "Start Adr:"},
            {"edRRNums", "Num. of point:"},
            {"btnSendRR", "Read range registers (f3)"},
            {"btnWriteRangeRegs", "Write range registers (f16)"},
            {"btnRestartSend", "Send restart (func 6)"},
            {"btnReadAllRegs", "Read all registers (func 3)"},
            {"gbText", "Text (func 16)"},
            {"BitBtn1", "Send (func 16)"},
            {"gbModbus", "Modbus"},
            {"seTransactionID", "Transaction ID:"},
            {"seProtocolID", "Protocol ID:"},
            {"seNodeID", "Node ID (Slave):"},
            {"gbFunc", "Functions"},
            {"cbRepeatJob", "Repeat job"},
            {"btnRead", "read"},
            {"btnWrite", "write"},
        };
        for (const auto &[object, caption] : rows)
            QTest::newRow(object) << QString::fromLatin1(object) << QString::fromLatin1(caption);
    }
    // Each control keeps its caption and is named by it.
    void captionsUnchanged() {
        QFETCH(QString, object);
        QFETCH(QString, caption);
        auto *w = f.form->findChild<QWidget *>(object);
        QVERIFY(w);
        QCOMPARE(Caption(w), caption);
        QCOMPARE(w->accessibleName(), caption);
    }

    void windowTextsUnchanged() {
        QCOMPARE(f.form->windowTitle(), QStringLiteral("Tavrin V1.04"));
        QCOMPARE(f.form->pmSendRegister->text(), QStringLiteral("Send this register"));
        QCOMPARE(f.form->labrj->text(), QStringLiteral("---"));
        QCOMPARE(f.form->lNode->text(), QStringLiteral("0x01"));
        QCOMPARE(f.form->lTID->text(), QStringLiteral("0x0001"));
        QVERIFY(!f.form->windowIcon().isNull());
        QVERIFY(!QApplication::windowIcon().isNull()); // message boxes have no parent
    }

    void registerNameCells_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("meaning");
        QTest::newRow("40001") << 1 << QStringLiteral("Triger Start/Stop")
                               << QStringLiteral("trigger start/stop; the repeat job writes 1 here "
                                                 "when the counter has stopped");
        QTest::newRow("40002") << 2 << QStringLiteral("Licznik")
                               << QStringLiteral(
                                      "counter; the repeat job reads it every 3 seconds");
        QTest::newRow("40003") << 3 << QString::fromUtf16(u"(Zakres/Kolor 1 \u2013 min)")
                               << QStringLiteral("range/colour 1, minimum");
        QTest::newRow("40023") << 23 << QString::fromUtf16(u"(Zakres/Kolor 7 \u2013 nr)")
                               << QStringLiteral("range/colour 7, number");
        QTest::newRow("40024") << 24 << QStringLiteral("Wersja")
                               << QStringLiteral("version, shown as 1.04 for 104");
        QTest::newRow("40032") << 32 << QStringLiteral("MASKA[3]")
                               << QStringLiteral("network mask, element 3");
        QTest::newRow("40038") << 38 << QString::fromUtf16(u"Jasno\u015B\u0107")
                               << QStringLiteral("brightness");
        QTest::newRow("40039") << 39 << QStringLiteral("Restart")
                               << QStringLiteral("restart; the restart command writes 85 here");
        QTest::newRow("40040") << 40 << QStringLiteral("pusty")
                               << QStringLiteral("empty (unassigned)");
        QTest::newRow("40041") << 41 << QStringLiteral("Test (1-7)")
                               << QStringLiteral("test, 1 to 7");
        QTest::newRow("40054") << 54 << QStringLiteral("Kolor stringu")
                               << QStringLiteral("string colour");
        QTest::newRow("40055") << 55 << QString::fromUtf16(u"D\u0142ugo\u015B\u0107 stringu")
                               << QStringLiteral("string length; the text command writes the "
                                                 "length of the text here, the grid keeps it at "
                                                 "most 100");
        QTest::newRow("40056") << 56 << QStringLiteral("String[1]")
                               << QStringLiteral("character 1 of the string");
        QTest::newRow("40155") << 155 << QStringLiteral("String[100]")
                               << QStringLiteral("character 100 of the string");
    }
    void registerNameCells() {
        QFETCH(int, row);
        QFETCH(QString, name);
        QFETCH(QString, meaning);
        QCOMPARE(f.form->sg->Cell(1, row), name);
        // Rows 25 to 37 go on with the network setting (networkRows).
        QCOMPARE(f.form->sg->CellHint(1, row).section(u'\n', 0, 0), meaning);
    }

    // The thirteen network rows show the whole setting as the image holds
    // it, in the name cell after the meaning and in the value cell.
    void networkRows_data() {
        QTest::addColumn<QList<int>>("words"); // 40025..40037
        QTest::addColumn<QString>("setting");
        QTest::newRow("the module's")
            << QList<int>{192, 168, 10, 50, 255, 255, 255, 0, 192, 168, 10, 1, 502}
            << "IP 192.168.10.50, mask 255.255.255.0 (/24), gateway 192.168.10.1, port 502";
        QTest::newRow("loopback")
            << QList<int>{127, 0, 0, 2, 255, 0, 0, 0, 0, 0, 0, 0, 1503}
            << "IP 127.0.0.2, mask 255.0.0.0 (/8), gateway 0.0.0.0 (none), port 1503\n"
               "Warning: 127.0.0.2 is a loopback address: only a program on the same computer "
               "reaches it (the simulator does)";
        QTest::newRow("broadcast IP, port 0")
            << QList<int>{10, 0, 0, 255, 255, 255, 255, 0, 0, 0, 0, 0, 0}
            << "IP 10.0.0.255, mask 255.255.255.0 (/24), gateway 0.0.0.0 (none), port 0\n"
               "Not a valid setting: IP: 10.0.0.255 is the broadcast address of 10.0.0.0/24; "
               "port: 0 is outside 1 to 65534";
    }
    void networkRows() {
        QFETCH(QList<int>, words);
        QFETCH(QString, setting);
        for (int i = 0; i < 13; ++i)
            Regs[24 + i] = uint16_t(words[i]);
        f.form->RefreshSG();
        ui::TStringGrid *sg = f.form->sg;
        QCOMPARE(sg->CellHint(1, 25), QStringLiteral("IP address, element 0\n") + setting);
        QCOMPARE(sg->CellHint(1, 37), QStringLiteral("TCP port\n") + setting);
        for (int row = 25; row <= 37; ++row)
            QCOMPARE(sg->CellHint(2, row), setting);
        for (int row : {24, 38})
            QVERIFY(!sg->CellHint(1, row).contains(u'\n'));
    }

    // A typed word changes the setting of all thirteen rows at once, and its
    // own value cell keeps the state before it.
    void networkRowsFollowTyping() {
        const int module[] = {192, 168, 10, 50, 255, 255, 255, 0, 192, 168, 10, 1, 502};
        for (int i = 0; i < 13; ++i)
            Regs[24 + i] = uint16_t(module[i]);
        f.form->RefreshSG();
        f.form->sg->SetCell(2, 28, QStringLiteral("51"));
        f.form->sgSetEditText(f.form->sg, 2, 28, QStringLiteral("51"));
        const QString setting =
            QStringLiteral("IP 192.168.10.51, mask 255.255.255.0 (/24), gateway 192.168.10.1, "
                           "port 502");
        QCOMPARE(f.form->sg->CellHint(2, 28),
                 QStringLiteral("Pending: typed or loaded, not yet written to the device\n") +
                     setting);
        QCOMPARE(f.form->sg->CellHint(2, 37), setting);
        QCOMPARE(f.form->sg->CellHint(1, 33), QStringLiteral("gateway, element 0\n") + setting);
    }

    // Every register row explains its name, and only the name cell does;
    // headings and names stay as they were.
    void everyRegisterRowHasHint() {
        ui::TStringGrid *sg = f.form->sg;
        QCOMPARE(sg->Cell(0, 0), QStringLiteral("L.p."));
        QCOMPARE(sg->Cell(1, 0), QStringLiteral("Funkcja"));
        QCOMPARE(sg->Cell(2, 0), QString::fromUtf16(u"Warto\u015B\u0107"));
        QStringList hints;
        for (int row = 1; row <= 155; ++row) {
            QVERIFY2(!sg->CellHint(1, row).isEmpty(), qPrintable(sg->Cell(0, row)));
            QCOMPARE(sg->CellHint(0, row), QString());
            if (row < 25 || row > 37) // the network rows: networkRows
                QCOMPARE(sg->CellHint(2, row), QString());
            hints << sg->CellHint(1, row);
        }
        // Rows 40 and 42 to 50 share "empty (unassigned)"; all others differ.
        hints.removeDuplicates();
        QCOMPARE(hints.size(), 155 - 9);
        // A redraw rewrites the names, not the hints.
        Regs[23] = 104;
        f.form->RefreshSG();
        QCOMPARE(sg->CellHint(1, 24), QStringLiteral("version, shown as 1.04 for 104"));
    }

    void everyButtonHasTooltip() {
        const auto buttons = f.form->findChildren<QPushButton *>();
        QCOMPARE(buttons.size(), 9); // the hidden "read" and "write" included
        for (QPushButton *b : buttons)
            QVERIFY2(!b->toolTip().isEmpty(), qPrintable(b->objectName()));
        QVERIFY(f.form->btnRestartSend->toolTip().contains(
            QStringLiteral("writes 85 to 40039 (Restart)")));
        QVERIFY(f.form->btnReadAllRegs->toolTip().startsWith(QStringLiteral("Function 3")));
        QVERIFY(f.form->btnWriteRangeRegs->toolTip().startsWith(QStringLiteral("Function 16")));
        QVERIFY(f.form->BitBtn1->toolTip().startsWith(QStringLiteral("Function 16")));
        QVERIFY(!f.form->pmSendRegister->toolTip().isEmpty());
        QVERIFY(f.form->pmSendOneReg->toolTipsVisible());
        for (QWidget *w : std::initializer_list<QWidget *>{f.form->lTID, f.form->lPID,
                                                           f.form->lNode, f.form->cbRepeatJob})
            QVERIFY2(!w->toolTip().isEmpty(), qPrintable(w->objectName()));
    }

    void everyControlHasAccessibleName() {
        QWidget *const controls[] = {f.form->sg,        f.form->Memo1,   f.form->edText,
                                     f.form->lTID,      f.form->lPID,    f.form->lNode,
                                     f.form->labrj,     f.form->edIP,    f.form->sePort,
                                     f.form->edRRStart, f.form->edRRNums};
        for (QWidget *w : controls)
            QVERIFY2(!w->accessibleName().isEmpty(), qPrintable(w->objectName()));
        QCOMPARE(f.form->edText->accessibleName(), QStringLiteral("Text (func 16)"));
        QCOMPARE(f.form->sg->accessibleName(), QStringLiteral("Registers"));
    }

    // The tip shows when the pointer rests on a name cell, through the
    // grid's own event handling; other cells show none.
    void tooltipEventOnNameCell() {
        f.form->show();
        QVERIFY(QTest::qWaitForWindowExposed(f.form.get()));
        ui::TStringGrid *sg = f.form->sg;
        QWidget *vp = sg->viewport();
        const auto hover = [&](int col, int row) {
            const QPoint at = sg->CellRect(col, row).center();
            QHelpEvent help(QEvent::ToolTip, at, vp->mapToGlobal(at));
            QApplication::sendEvent(vp, &help);
        };
        hover(1, 3);
        QTRY_VERIFY(QToolTip::isVisible());
        QCOMPARE(QToolTip::text(), QStringLiteral("range/colour 1, minimum"));
        hover(1, 39);
        QTRY_COMPARE(QToolTip::text(),
                     QStringLiteral("restart; the restart command writes 85 here"));
        hover(2, 3);
        QTRY_VERIFY(!QToolTip::isVisible());
    }
};

QTEST_MAIN(TestHints)
#include "tst_hints.moc"
