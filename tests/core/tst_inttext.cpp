// Integer text rules, used by the spin edits and the settings file.
#include "IntText.h"

#include <QLocale>
#include <QtTest>

class TestIntText : public QObject {
    Q_OBJECT
private slots:
    void initTestCase() { QLocale::setDefault(QLocale(QLocale::Polish, QLocale::Poland)); }

    void rules_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("ok");
        QTest::addColumn<int>("value");

        // decimal limits
        QTest::newRow("0") << "0" << true << 0;
        QTest::newRow("max") << "2147483647" << true << 2147483647;
        QTest::newRow("max+1") << "2147483648" << false << 0;
        QTest::newRow("min") << "-2147483648" << true << int(-2147483647 - 1);
        QTest::newRow("min-1") << "-2147483649" << false << 0;
        QTest::newRow("plus") << "+17" << true << 17;
        QTest::newRow("leading zeros") << "007" << true << 7;
        QTest::newRow("long zeros") << "000000000000000000042" << true << 42;
        QTest::newRow("huge") << "99999999999999999999999" << false << 0;
        // hex prefixes and signs
        QTest::newRow("$") << "$1F" << true << 31;
        QTest::newRow("x") << "x1f" << true << 31;
        QTest::newRow("X") << "X1F" << true << 31;
        QTest::newRow("0x") << "0x1F" << true << 31;
        QTest::newRow("0X") << "0X1f" << true << 31;
        QTest::newRow("-$10") << "-$10" << true << -16;
        QTest::newRow("+0x10") << "+0x10" << true << 16;
        QTest::newRow("$FFFFFFFF") << "$FFFFFFFF" << true << -1;
        QTest::newRow("$80000000") << "$80000000" << true << int(-2147483647 - 1);
        QTest::newRow("-$80000000") << "-$80000000" << true << int(-2147483647 - 1);
        QTest::newRow("$7FFFFFFF") << "$7FFFFFFF" << true << 2147483647;
        QTest::newRow("$100000000") << "$100000000" << false << 0;
        QTest::newRow("$000000001") << "$000000001" << true << 1;
        QTest::newRow("$ alone") << "$" << false << 0;
        QTest::newRow("0x alone") << "0x" << false << 0;
        QTest::newRow("hex bad digit") << "$1G" << false << 0;
        QTest::newRow("hex without prefix") << "1F" << false << 0;
        QTest::newRow("double prefix") << "0x$1" << false << 0;
        // blanks and trailing characters
        QTest::newRow("leading blanks") << "   12" << true << 12;
        QTest::newRow("leading blanks sign") << "  -12" << true << -12;
        QTest::newRow("blank after sign") << "- 12" << false << 0;
        QTest::newRow("trailing blank") << "12 " << false << 0;
        QTest::newRow("trailing letter") << "12a" << false << 0;
        QTest::newRow("fraction") << "1.5" << false << 0;
        QTest::newRow("polish fraction") << "1,5" << false << 0;
        QTest::newRow("empty") << "" << false << 0;
        QTest::newRow("blanks only") << "   " << false << 0;
        QTest::newRow("sign only") << "-" << false << 0;
        QTest::newRow("two signs") << "+-1" << false << 0;
        QTest::newRow("tab") << "\t1" << false << 0;
        QTest::newRow("arabic digit") << QString::fromUtf16(u"\u0661") << false << 0;
    }
    void rules() {
        QFETCH(QString, text);
        QFETCH(bool, ok);
        QFETCH(int, value);
        int32_t v = 12345;
        QCOMPARE(core::TryStrToInt(text, v), ok);
        if (ok)
            QCOMPARE(v, value);
        QCOMPARE(core::StrToIntDef(text, -77), ok ? value : -77);
    }

    // What a paste into a spin edit may produce: a number in the user's
    // format, never one of the words the parser reads as a number.
    void localeNumber_data() {
        QTest::addColumn<QString>("text");
        QTest::addColumn<bool>("number");
        QTest::newRow("integer") << "42" << true;
        QTest::newRow("comma fraction") << "1,5" << true;
        QTest::newRow("point is not the pl separator") << "1.5" << false;
        QTest::newRow("exponent") << "-2,5e-3" << true;
        QTest::newRow("overflow") << "1e400" << false;
        QTest::newRow("empty") << "" << false;
        for (const char *word : {"INF", "inf", "+inf", "-INF", "NaN", "nan", "Infinity", "abc"})
            QTest::newRow(word) << word << false;
    }
    void localeNumber() {
        QFETCH(QString, text);
        QFETCH(bool, number);
        QCOMPARE(core::IsLocaleNumber(text, QLocale()), number);
    }
};

QTEST_APPLESS_MAIN(TestIntText)
#include "tst_inttext.moc"
