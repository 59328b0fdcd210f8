// Spin edit, limited edit, caption labels and the traffic log.
#include "Edits.h"
#include "Memo.h"

#include <QAbstractButton>
#include <QApplication>
#include <QClipboard>
#include <QLabel>
#include <QLocale>
#include <QScrollBar>
#include <QSignalSpy>
#include <QtTest>

using ui::TLimitEdit;
using ui::TSpinEdit;

class TestWidgets : public QObject {
    Q_OBJECT
private slots:
    void init() { QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates)); }

    void reading_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("min");
        QTest::addColumn<int>("value");
        QTest::newRow("empty reads 0") << "" << 40001 << 0;
        QTest::newRow("blanks read 0") << "   " << 40001 << 0;
        QTest::newRow("word reads lower bound") << "abc" << 40001 << 40001;
        QTest::newRow("word, bound 1") << "abc" << 1 << 1;
        QTest::newRow("minus only") << "-" << 0 << 0;
        QTest::newRow("above range") << "70000" << 1 << 70000;
        QTest::newRow("below range") << "-5" << 1 << -5;
        QTest::newRow("trailing blank trimmed") << "12 " << 1 << 12;
        QTest::newRow("hex") << "$1F" << 0 << 31;
        QTest::newRow("too big reads bound") << "2147483648" << 1 << 1;
    }
    void reading() {
        QFETCH(QString, text);
        QFETCH(int, min);
        QFETCH(int, value);
        TSpinEdit e;
        e.SetRange(min, min + 100);
        e.setText(text);
        QCOMPARE(e.Value(), value);
    }

    void settingNeverClampsOrCuts() {
        TSpinEdit e;
        e.SetRange(1, 65534);
        e.SetTypingLimit(5);
        e.SetValue(-2147483647 - 1);
        QCOMPARE(e.text(), QStringLiteral("-2147483648"));
        e.SetValue(65536);
        QCOMPARE(e.text(), QStringLiteral("65536"));
    }

    void changeOnlyWhenTextChanges() {
        TSpinEdit e;
        e.SetValue(5);
        QSignalSpy spy(&e, &TSpinEdit::Changed);
        e.SetValue(5);
        QCOMPARE(spy.count(), 0);
        e.SetValue(6);
        QCOMPARE(spy.count(), 1);
        e.setText(QStringLiteral("06")); // same value, other text
        QCOMPARE(spy.count(), 2);
        e.SetValue(6);
        QCOMPARE(spy.count(), 3);
    }

    void stepping_data() {
        QTest::addColumn<int>("start");
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("result");
        QTest::newRow("up past max") << 65534 << int(Qt::Key_Up) << 65535;
        QTest::newRow("down past min") << 1 << int(Qt::Key_Down) << 0;
        QTest::newRow("page up") << 65530 << int(Qt::Key_PageUp) << 65540;
        QTest::newRow("page down") << 5 << int(Qt::Key_PageDown) << -5;
        QTest::newRow("wraps at int max") << 2147483647 << int(Qt::Key_Up) << int(-2147483647 - 1);
    }
    void stepping() {
        QFETCH(int, start);
        QFETCH(int, key);
        QFETCH(int, result);
        TSpinEdit e;
        e.SetRange(1, 65534);
        e.SetValue(start);
        QTest::keyClick(&e, Qt::Key(key));
        QCOMPARE(e.Value(), result);
    }

    void buttonsAndWheelStep() {
        TSpinEdit e;
        e.SetRange(1, 65534);
        e.resize(121, 22);
        e.SetValue(65534);
        auto *up = e.findChild<QAbstractButton *>(QStringLiteral("spinUp"));
        auto *down = e.findChild<QAbstractButton *>(QStringLiteral("spinDown"));
        QVERIFY(up && down);
        up->click();
        QCOMPARE(e.Value(), 65535);
        up->click();
        QCOMPARE(e.Value(), 65536);
        down->click();
        QCOMPARE(e.Value(), 65535);

        // The wheel steps a field that has the focus.
        e.show();
        e.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&e));
        e.setFocus();
        QVERIFY(e.hasFocus());
        QWheelEvent forward(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, 120), Qt::NoButton,
                            Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&e, &forward);
        QCOMPARE(e.Value(), 65536);
        QWheelEvent back(QPointF(5, 5), QPointF(5, 5), QPoint(), QPoint(0, -120), Qt::NoButton,
                         Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(&e, &back);
        QApplication::sendEvent(&e, &back);
        QCOMPARE(e.Value(), 65534);
    }

    void typingFilterAndLimit() {
        TSpinEdit e;
        e.SetRange(0, 255);
        e.SetTypingLimit(3);
        e.setText(QString());
        QTest::keyClicks(&e, QStringLiteral("a1b-x+ .9"));
        QCOMPARE(e.text(), QStringLiteral("1-+")); // letters, blank, point refused; limit 3
        e.setText(QString());
        QTest::keyClicks(&e, QStringLiteral("9999"));
        QCOMPARE(e.text(), QStringLiteral("999"));
        // A selection makes room: typing replaces it.
        e.selectAll();
        QTest::keyClicks(&e, QStringLiteral("12"));
        QCOMPARE(e.text(), QStringLiteral("12"));
        QTest::keyClick(&e, Qt::Key_Backspace);
        QCOMPARE(e.text(), QStringLiteral("1"));
    }

    void paste_data() {
        QTest::addColumn<QString>("locale");
        QTest::addColumn<QString>("clip");
        QTest::addColumn<bool>("accepted");
        QTest::addColumn<int>("value");
        QTest::newRow("integer") << "en_US"
                                 << "42" << true << 42;
        QTest::newRow("fraction point") << "en_US"
                                        << "1.5" << true << 0;
        QTest::newRow("fraction comma pl") << "pl_PL"
                                           << "1,5" << true << 0;
        QTest::newRow("point in pl is not a number") << "pl_PL"
                                                     << "1.5" << false << 0;
        QTest::newRow("exponent") << "en_US"
                                  << "1e3" << true << 0;
        QTest::newRow("word refused") << "en_US"
                                      << "hello" << false << 0;
        QTest::newRow("minus alone refused") << "en_US"
                                             << "-" << false << 0;
        // Words the number parser knows are words all the same.
        for (const char *word : {"INF", "inf", "-inf", "NaN", "nan", "Infinity"})
            QTest::addRow("%s refused", word) << "en_US" << word << false << 0;
        QTest::newRow("inf refused pl") << "pl_PL"
                                        << "inf" << false << 0;
        QTest::newRow("cut to limit") << "en_US"
                                      << "1234567" << true << 12345;
    }
    void paste() {
        QFETCH(QString, locale);
        QFETCH(QString, clip);
        QFETCH(bool, accepted);
        QFETCH(int, value);
        QLocale::setDefault(QLocale(locale));
        TSpinEdit e;
        e.SetRange(0, 65535);
        e.SetTypingLimit(5);
        e.setText(QString());
        QCOMPARE(e.PasteText(clip), accepted);
        QCOMPARE(e.text().isEmpty(), !accepted);
        QCOMPARE(e.Value(), value);

        // The same through the keyboard shortcut.
        e.setText(QString());
        QApplication::clipboard()->setText(clip);
        if (QApplication::clipboard()->text() == clip) {
            QTest::keyClick(&e, Qt::Key_V, Qt::ControlModifier);
            QCOMPARE(e.Value(), value);
            QCOMPARE(e.text().isEmpty(), !accepted);
        }
    }

    void limitEditKeepsProgramText() {
        TLimitEdit e;
        e.SetTypingLimit(99);
        const QString longText(120, u'x');
        e.setText(longText);
        QCOMPARE(e.text(), longText);
        QTest::keyClicks(&e, QStringLiteral("abc"));
        QCOMPARE(e.text(), longText); // full: nothing more can be typed

        e.setText(QString());
        QTest::keyClicks(&e, QString(105, u'y'));
        QCOMPARE(e.text().size(), 99);
        QVERIFY(!e.PasteText(QStringLiteral("z")));
        QCOMPARE(e.text().size(), 99);
        QTest::keyClick(&e, Qt::Key_Backspace);
        QVERIFY(e.PasteText(QStringLiteral("Polish ł")));
        QCOMPARE(e.text().size(), 99);
        QCOMPARE(e.text().right(1), QStringLiteral("P"));
    }

    void captionLabelPlacement() {
        QWidget parent;
        auto *e = new TSpinEdit(&parent);
        e->setGeometry(92, 18, 121, 22);
        QLabel *label = ui::AttachLabel(e, QStringLiteral("Transaction ID:"));
        QCOMPARE(label->geometry().right() + 1, 92 - 4);
        const int centreDiff = (label->y() * 2 + label->height()) - (18 * 2 + 22);
        QVERIFY(qAbs(centreDiff) <= 1);
        parent.show(); // hidden widgets get their move events when shown
        e->move(150, 40);
        QTRY_COMPARE(label->geometry().right() + 1, 150 - 4);

        auto *edit = new ui::TLabeledEdit(QStringLiteral("IP:"), &parent);
        edit->setGeometry(40, 19, 121, 21);
        edit->show();
        QTRY_COMPARE(edit->EditLabel()->geometry().right() + 1, 36);
        QCOMPARE(edit->EditLabel()->text(), QStringLiteral("IP:"));
    }

    void memoLines() {
        ui::TMemo m;
        m.setPlainText(QStringLiteral("Memo1"));
        m.ClearLines();
        QCOMPARE(m.Lines(), QStringList());
        m.AddLine(QStringLiteral("Send: 00 01 "));
        m.AddLine(QStringLiteral("Receive: 00 \r\n"));
        m.AddLine(QStringLiteral("next"));
        QCOMPARE(m.Lines(), (QStringList{"Send: 00 01 ", "Receive: 00 ", "", "next"}));
    }

    void memoShowsNewestLine() {
        ui::TMemo m;
        m.resize(300, 80);
        m.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m));
        for (int i = 0; i < 200; ++i)
            m.AddLine(QStringLiteral("line %1").arg(i));
        QCoreApplication::processEvents();
        auto *bar = m.verticalScrollBar();
        QVERIFY(bar->maximum() > 0);
        QCOMPARE(bar->value(), bar->maximum());
    }

    // The log's background is its base colour in any look, also where no
    // style sheet paints it (the standard look after an unknown style).
    void memoBackgroundIsBase() {
        ui::TMemo m;
        QPalette pal = m.palette();
        pal.setColor(QPalette::Base, QColor(0x12, 0x34, 0x56));
        pal.setColor(QPalette::Window, QColor(0xEE, 0xEE, 0xEE));
        m.setPalette(pal);
        m.resize(300, 200);
        m.AddLine(QStringLiteral("line"));
        m.show();
        QVERIFY(QTest::qWaitForWindowExposed(&m));
        const QImage shot = m.grab().toImage();
        QCOMPARE(shot.pixelColor(150, 150), QColor(0x12, 0x34, 0x56));
    }
};

QTEST_MAIN(TestWidgets)
#include "tst_widgets.moc"
