// The main window: start-up, layout, hex labels, caption error display, style.
#include "Dispatch.h"
#include "Edits.h"
#include "FormFixture.h"
#include "MainUnit.h"
#include "MessageBox.h"
#include "StringGrid.h"
#include "Style.h"

#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>
#include <stdexcept>

class TestShell : public QObject {
    Q_OBJECT

    FormFixture f{FormFixture::Timer::Running};
    std::unique_ptr<TMainForm> &form = f.form;
    QList<FormFixture::ShownBox> &boxes = f.boxes;

private slots:
    void init() { f.Open(); }
    void cleanup() { f.Close(); }

    void startupWithoutSettings() {
        QCOMPARE(form->windowTitle(), QStringLiteral("Tavrin V1.04"));
        QCOMPARE(myCaption, QStringLiteral("Tavrin V1.04"));
        QCOMPARE(ProgramPath, f.dir->path() + u'/');
        QCOMPARE(form->edIP->text(), QStringLiteral("192.168.10.50"));
        QCOMPARE(form->sePort->text(), QStringLiteral("502"));
        QCOMPARE(form->edRRStart->text(), QStringLiteral("40001"));
        QCOMPARE(form->edRRNums->text(), QStringLiteral("6"));
        QCOMPARE(form->seTransactionID->text(), QStringLiteral("1"));
        QCOMPARE(form->seProtocolID->text(), QStringLiteral("1"));
        QCOMPARE(form->seNodeID->text(), QStringLiteral("1"));
        QCOMPARE(form->edText->text(), QString());
        QCOMPARE(form->lNode->text(), QStringLiteral("0x01"));
        QCOMPARE(form->lPID->text(), QStringLiteral("0x0001"));
        QCOMPARE(form->lTID->text(), QStringLiteral("0x0001"));
        QCOMPARE(form->labrj->text(), QStringLiteral("---"));
        QCOMPARE(form->Memo1->toPlainText(), QString());
        QVERIFY(!form->cbRepeatJob->isChecked());
        for (uint16_t r : Regs)
            QCOMPARE(r, uint16_t(0));
        QVERIFY(idTCPClient != nullptr);
        QCOMPARE(SelRow, 1);
        QCOMPARE(form->sg->Cell(0, 0), QStringLiteral("L.p."));
        QCOMPARE(form->sg->Cell(1, 0), QStringLiteral("Funkcja"));
        QCOMPARE(form->sg->Cell(2, 0), QString::fromUtf16(u"Warto\u015B\u0107"));
        QCOMPARE(form->sg->Cell(0, 1), QStringLiteral("40001"));
        QCOMPARE(form->sg->Cell(0, 155), QStringLiteral("40155"));
        QCOMPARE(form->sg->Cell(1, 155), QStringLiteral("String[100]"));
        QCOMPARE(form->sg->Cell(1, 40), QStringLiteral("pusty"));
        QCOMPARE(form->sg->Cell(1, 41), QStringLiteral("Test (1-7)"));
        QCOMPARE(form->sg->Cell(2, 1), QStringLiteral("0"));
        QCOMPARE(form->sg->Cell(2, 24), QStringLiteral("0.00"));
        QVERIFY(boxes.isEmpty());
    }

    void controls_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QRect>("geometry");
        QTest::addColumn<QString>("caption");
        QTest::newRow("gbClient") << "gbClient" << QRect(9, 4, 176, 135) << "Client";
        QTest::newRow("edIP") << "edIP" << QRect(40, 19, 121, 21) << "";
        QTest::newRow("sePort") << "sePort" << QRect(40, 42, 121, 22) << "";
        QTest::newRow("btnConnect") << "btnConnect" << QRect(42, 70, 119, 25) << "Connect";
        QTest::newRow("btnDisconnect") << "btnDisconnect" << QRect(42, 98, 119, 25) << "Disconnect";
        QTest::newRow("gbReadRegs")
            << "gbReadRegs" << QRect(191, 90, 176, 134) << "Read range registers (func 3)";
        QTest::newRow("edRRStart") << "edRRStart" << QRect(80, 19, 89, 22) << "";
        QTest::newRow("edRRNums") << "edRRNums" << QRect(80, 47, 89, 22) << "";
        QTest::newRow("btnSendRR")
            << "btnSendRR" << QRect(3, 75, 164, 25) << "Read range registers (f3)";
        QTest::newRow("btnWriteRangeRegs")
            << "btnWriteRangeRegs" << QRect(3, 101, 164, 25) << "Write range registers (f16)";
        QTest::newRow("btnRestartSend")
            << "btnRestartSend" << QRect(530, 196, 155, 25) << "Send restart (func 6)";
        QTest::newRow("btnReadAllRegs")
            << "btnReadAllRegs" << QRect(369, 196, 160, 25) << "Read all registers (func 3)";
        QTest::newRow("gbText") << "gbText" << QRect(191, 4, 494, 83) << "Text (func 16)";
        QTest::newRow("edText") << "edText" << QRect(8, 19, 477, 21) << "";
        QTest::newRow("BitBtn1") << "BitBtn1" << QRect(386, 46, 100, 25) << "Send (func 16)";
        QTest::newRow("gbModbus") << "gbModbus" << QRect(373, 90, 312, 95) << "Modbus";
        QTest::newRow("seTransactionID") << "seTransactionID" << QRect(92, 18, 121, 22) << "";
        QTest::newRow("seProtocolID") << "seProtocolID" << QRect(92, 42, 121, 22) << "";
        QTest::newRow("seNodeID") << "seNodeID" << QRect(92, 66, 121, 22) << "";
        QTest::newRow("gbFunc") << "gbFunc" << QRect(9, 142, 179, 82) << "Functions";
        QTest::newRow("cbRepeatJob") << "cbRepeatJob" << QRect(10, 20, 75, 17) << "Repeat job";
        QTest::newRow("btnRead") << "btnRead" << QRect(7, 56, 75, 25) << "read";
        QTest::newRow("btnWrite") << "btnWrite" << QRect(88, 58, 75, 25) << "write";
    }
    void controls() {
        QFETCH(QString, name);
        QFETCH(QRect, geometry);
        QFETCH(QString, caption);
        auto *w = form->findChild<QWidget *>(name);
        QVERIFY(w);
        QCOMPARE(w->geometry(), geometry);
        if (auto *b = qobject_cast<QAbstractButton *>(w))
            QCOMPARE(b->text(), caption);
        if (auto *g = qobject_cast<QGroupBox *>(w))
            QCOMPARE(g->title(), caption);
        QCOMPARE(w->font().pixelSize(), 11);
    }

    void spinEditDesign_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("max");
        QTest::addColumn<int>("limit");
        QTest::addColumn<QString>("caption");
        QTest::newRow("sePort") << "sePort" << 1 << 65534 << 5 << "Port:";
        QTest::newRow("edRRStart") << "edRRStart" << 40001 << 40255 << 5 << "Start Adr:";
        QTest::newRow("edRRNums") << "edRRNums" << 1 << 255 << 5 << "Num. of point:";
        QTest::newRow("seTransactionID")
            << "seTransactionID" << 0 << 65535 << 5 << "Transaction ID:";
        QTest::newRow("seProtocolID") << "seProtocolID" << 0 << 65535 << 5 << "Protocol ID:";
        QTest::newRow("seNodeID") << "seNodeID" << 0 << 255 << 3 << "Node ID (Slave):";
    }
    void spinEditDesign() {
        QFETCH(QString, name);
        QFETCH(int, min);
        QFETCH(int, max);
        QFETCH(int, limit);
        QFETCH(QString, caption);
        auto *s = form->findChild<ui::TSpinEdit *>(name);
        QVERIFY(s);
        QCOMPARE(s->MinValue(), min);
        QCOMPARE(s->MaxValue(), max);
        QCOMPARE(s->TypingLimit(), limit);
        // Its caption label: right edge 4 px left of the field, centred on it.
        QLabel *label = nullptr;
        for (auto *l : s->parentWidget()->findChildren<QLabel *>(Qt::FindDirectChildrenOnly))
            if (l->text() == caption)
                label = l;
        QVERIFY2(label, qPrintable(caption));
        QCOMPARE(label->geometry().right() + 1, s->x() - 4);
        QVERIFY(qAbs((label->y() * 2 + label->height()) - (s->y() * 2 + s->height())) <= 1);
    }

    void layoutAndResize() {
        form->show();
        QVERIFY(QTest::qWaitForWindowExposed(form.get()));
        form->resize(983, 779);
        QTRY_COMPARE(form->GroupBox1->geometry(), QRect(0, 0, 289, 779));
        QCOMPARE(form->sg->geometry(), QRect(2, 15, 285, 762));
        QCOMPARE(form->PanelClient->geometry(), QRect(289, 0, 694, 779));
        QCOMPARE(form->PanelTop->geometry(), QRect(0, 0, 694, 253));
        QCOMPARE(form->Memo1->geometry(), QRect(0, 253, 694, 526));
        QVERIFY(form->btnRead->isHidden());
        QVERIFY(form->btnWrite->isHidden());

        form->resize(1200, 900);
        QTRY_COMPARE(form->GroupBox1->geometry(), QRect(0, 0, 289, 900));
        QCOMPARE(form->sg->geometry(), QRect(2, 15, 285, 883));
        QCOMPARE(form->PanelTop->geometry(), QRect(0, 0, 911, 253));
        QCOMPARE(form->Memo1->geometry(), QRect(0, 253, 911, 647));
        QCOMPARE(form->gbModbus->geometry(), QRect(373, 90, 312, 95));
    }

    void components() {
        QCOMPARE(form->Timer1->interval(), 3000);
        QVERIFY(form->Timer1->isActive());
        // "Send this register" first, then the safe-configuration items and
        // the network settings.
        QStringList items;
        for (const QAction *a : form->pmSendOneReg->actions())
            items << (a->isSeparator() ? QStringLiteral("-") : a->text());
        QCOMPARE(items, (QStringList{"Send this register", "-", "Compare with device",
                                     "Verify writes", "-", "Save registers as...",
                                     "Load registers...", "-", "Network settings..."}));
        QVERIFY(form->pmVerifyWrites->isCheckable());
        QVERIFY(!form->pmVerifyWrites->isChecked());
        QCOMPARE(form->pmSendRegister->text(), QStringLiteral("Send this register"));
        QCOMPARE(form->sg->PopupMenu(), form->pmSendOneReg);
        QCOMPARE(form->sg->ColCount(), 3);
        QCOMPARE(form->sg->RowCount(), 156);
        QCOMPARE(form->sg->FixedCols(), 2);
        QCOMPARE(form->sg->FixedRows(), 1);
        QCOMPARE(form->sg->ColWidth(0), 48);
        QCOMPARE(form->sg->ColWidth(1), 162);
        QCOMPARE(form->sg->ColWidth(2), 48);
        QCOMPARE(form->sg->DefaultRowHeight(), 18);
        QCOMPARE(form->edText->TypingLimit(), 99);
        QVERIFY(form->Memo1->font().pixelSize() == 11);
        QVERIFY(QFontInfo(form->Memo1->font()).fixedPitch());
    }

    void tabOrder() {
        // clang-format off
        const QStringList expected = {
            "sg", "Memo1", "edIP", "sePort", "btnConnect", "btnDisconnect", "edRRStart",
            "edRRNums", "btnSendRR", "btnWriteRangeRegs", "btnRestartSend", "btnReadAllRegs",
            "edText", "BitBtn1", "seTransactionID", "seProtocolID", "seNodeID", "cbRepeatJob"};
        // clang-format on
        QStringList chain;
        QWidget *w = form->sg;
        for (int i = 0; i < 200 && chain.size() < expected.size(); ++i) {
            if (expected.contains(w->objectName()) && !chain.contains(w->objectName()))
                chain << w->objectName();
            w = w->nextInFocusChain();
        }
        QCOMPARE(chain, expected);
    }

    void hexLabelsFollowFields_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("node");
        QTest::newRow("999") << "999"
                             << "0x3E7";
        QTest::newRow("minus one") << "-1"
                                   << "0xFFFFFFFF";
        QTest::newRow("letters refused") << "abc"
                                         << "0x00";
        QTest::newRow("255") << "255"
                             << "0xFF";
    }
    void hexLabelsFollowFields() {
        QFETCH(QString, typed);
        QFETCH(QString, node);
        form->seNodeID->selectAll();
        QTest::keyClick(form->seNodeID, Qt::Key_Delete);
        QCOMPARE(form->lNode->text(), QStringLiteral("0x00")); // emptied reads 0
        QTest::keyClicks(form->seNodeID, typed);
        QCOMPARE(form->lNode->text(), node);

        form->seTransactionID->selectAll();
        QTest::keyClick(form->seTransactionID, Qt::Key_Backspace);
        QCOMPARE(form->lTID->text(), QStringLiteral("0x0000"));
        form->seTransactionID->SetValue(65536);
        QCOMPARE(form->lTID->text(), QStringLiteral("0x10000"));
        form->seProtocolID->SetValue(300);
        QCOMPARE(form->lPID->text(), QStringLiteral("0x012C"));
        QTest::keyClick(form->seProtocolID, Qt::Key_Up);
        QCOMPARE(form->lPID->text(), QStringLiteral("0x012D"));
    }

    void twoErrorsInCaption() {
        ui::Dispatch([] { throw std::runtime_error("first failure"); });
        QCOMPARE(form->windowTitle(),
                 QString::fromUtf16(
                     u"Tavrin V1.04 B\u0142\u0105d programu nr: 1 Tre\u015B\u0107: first failure"));
        ui::Dispatch([] { throw std::runtime_error("second"); });
        QCOMPARE(form->windowTitle(),
                 QString::fromUtf16(
                     u"Tavrin V1.04 B\u0142\u0105d programu nr: 2 Tre\u015B\u0107: second"));
        QCOMPARE(errorcount, 3);
        QVERIFY(boxes.isEmpty());
    }

    void handlerErrorEndsHandlerOnly() {
        // A handler entered through a signal: the error reaches the caption and
        // the event loop goes on.
        QPushButton b;
        int after = 0;
        QObject::connect(&b, &QPushButton::clicked, &b, ui::Guarded([&] {
            throw std::runtime_error("boom");
            ++after;
        }));
        b.click();
        b.click();
        QCOMPARE(after, 0);
        QVERIFY(form->windowTitle().endsWith(QString::fromUtf16(u"nr: 2 Tre\u015B\u0107: boom")));
    }

    void errorBeforeCaptionDisplay() {
        form.reset(); // no window: the standard error box
        ui::Dispatch([] { throw std::runtime_error("early"); });
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, QStringLiteral("early"));
        QCOMPARE(boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(boxes[0].title, ui::ProgramTitle());
    }

    void programTitle_data() {
        QTest::addColumn<QString>("path");
        QTest::addColumn<QString>("title");
        auto row = [](const char *name, const QString &path, const QString &title) {
            QTest::newRow(name) << path << title;
        };
        row("mixed case", QStringLiteral("/opt/TaVRIN.Exe"), QStringLiteral("Tavrin"));
        row("all upper, two dots", QStringLiteral("/opt/TAVRIN.V2.EXE"), QStringLiteral("Tavrin"));
        row("first letter small", QStringLiteral("tAVRIN"), QStringLiteral("tavrin"));
        row("one letter", QStringLiteral("/x/T.exe"), QStringLiteral("T"));
        row("dot first", QStringLiteral("/x/.Tavrin"), QString());
        row("Polish letters", QString::fromUtf16(u"/x/\u0141\u00D3D\u0179.bin"),
            QString::fromUtf16(u"\u0141\u00F3d\u017A"));
    }

    void programTitle() {
        QFETCH(QString, path);
        QFETCH(QString, title);
        QCOMPARE(ui::ProgramTitleFor(path), title);
    }

    void programTitleOfThisExecutable() {
        QCOMPARE(ui::ProgramTitle(), QStringLiteral("tst_shell"));
    }

    void styleByName() {
        qApp->setStyleSheet(QString());
        QVERIFY(SelectStyle(QStringLiteral("onyx BLUE")));
        QVERIFY(qApp->styleSheet().contains(QLatin1String("QPushButton")));
        QVERIFY(boxes.isEmpty());
        qApp->setStyleSheet(QString());
    }

    void unknownStyle() {
        qApp->setStyleSheet(QString());
        SelectStyleOrWarn(QStringLiteral("Granite Red"));
        QCOMPARE(boxes.size(), 1);
        QCOMPARE(boxes[0].text, QStringLiteral("Style 'Granite Red' not found"));
        QCOMPARE(boxes[0].icon, QMessageBox::Critical);
        QCOMPARE(boxes[0].buttons, QMessageBox::StandardButtons(QMessageBox::Close));
        QCOMPARE(qApp->styleSheet(), QString());
    }
};

QTEST_MAIN(TestShell)
#include "tst_shell.moc"
