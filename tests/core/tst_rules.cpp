// Pure rules: hex rendering, hex labels, frame header, register map.
#include "Hex.h"
#include "Modbus.h"
#include "RegisterMap.h"

#include <QtTest>

class TestLogic : public QObject {
    Q_OBJECT
private slots:
    void hexLabel_data() {
        QTest::addColumn<int>("value");
        QTest::addColumn<int>("digits");
        QTest::addColumn<QString>("text");
        QTest::newRow("node 1") << 1 << 2 << "0x01";
        QTest::newRow("tid 1") << 1 << 4 << "0x0001";
        QTest::newRow("255") << 255 << 2 << "0xFF";
        QTest::newRow("300") << 300 << 2 << "0x12C";
        QTest::newRow("300 tid") << 300 << 4 << "0x012C";
        QTest::newRow("65536") << 65536 << 4 << "0x10000";
        QTest::newRow("-1") << -1 << 2 << "0xFFFFFFFF";
        QTest::newRow("0") << 0 << 4 << "0x0000";
        QTest::newRow("999") << 999 << 2 << "0x3E7";
        QTest::newRow("min") << int(-2147483647 - 1) << 4 << "0x80000000";
    }
    void hexLabel() {
        QFETCH(int, value);
        QFETCH(int, digits);
        QFETCH(QString, text);
        QCOMPARE(core::HexLabelText(value, digits), text);
    }

    void hexRendering_data() {
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<QString>("text");
        QTest::newRow("empty") << QByteArray() << "";
        QTest::newRow("one") << QByteArray::fromHex("0a") << "0A ";
        QTest::newRow("read all") << QByteArray::fromHex("000100010006010300 0000ff")
                                  << "00 01 00 01 00 06 01 03 00 00 00 FF ";
        QTest::newRow("all digits")
            << QByteArray::fromHex("0123456789abcdef") << "01 23 45 67 89 AB CD EF ";
    }
    void hexRendering() {
        QFETCH(QByteArray, bytes);
        QFETCH(QString, text);
        const QString s = core::HexRendering(
            {reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())});
        QCOMPARE(s, text);
        QCOMPARE(s.size(), bytes.size() * 3);
    }

    void header_data() {
        QTest::addColumn<int>("tid");
        QTest::addColumn<int>("pid");
        QTest::addColumn<int>("node");
        QTest::addColumn<int>("sendCount");
        QTest::addColumn<QByteArray>("header");
        QTest::newRow("defaults f3") << 1 << 1 << 1 << 12 << QByteArray::fromHex("00010001000601");
        QTest::newRow("tid 65535")
            << 65535 << 0 << 255 << 12 << QByteArray::fromHex("ffff00000006ff");
        QTest::newRow("tid 65536 wraps")
            << 65536 << 1 << 1 << 12 << QByteArray::fromHex("00000001000601");
        QTest::newRow("f16 128 regs")
            << 0x1234 << 0xABCD << 300 << 269 << QByteArray::fromHex("1234abcd01072c");
        QTest::newRow("negative tid")
            << -1 << -1 << -1 << 213 << QByteArray::fromHex("ffffffff00cfff");
    }
    void header() {
        QFETCH(int, tid);
        QFETCH(int, pid);
        QFETCH(int, node);
        QFETCH(int, sendCount);
        QFETCH(QByteArray, header);
        uint8_t frame[8];
        std::fill(std::begin(frame), std::end(frame), uint8_t(0xEE));
        core::PutHeader(frame, {tid, pid, node}, sendCount);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(frame), 7), header);
        QCOMPARE(frame[7], uint8_t(0xEE)); // nothing written past the header
    }

    void registerMap_data() {
        QTest::addColumn<int>("row");
        QTest::addColumn<QString>("name");
        QTest::newRow("1") << 1 << "Triger Start/Stop";
        QTest::newRow("3 en dash") << 3 << QString::fromUtf16(u"(Zakres/Kolor 1 \u2013 min)");
        QTest::newRow("22") << 22 << QString::fromUtf16(u"(Zakres/Kolor 7 \u2013 maks)");
        QTest::newRow("23") << 23 << QString::fromUtf16(u"(Zakres/Kolor 7 \u2013 nr)");
        QTest::newRow("24") << 24 << "Wersja";
        QTest::newRow("38") << 38 << QString::fromUtf16(u"Jasno\u015B\u0107");
        QTest::newRow("39") << 39 << "Restart";
        QTest::newRow("40") << 40 << "pusty";
        QTest::newRow("41") << 41 << "Test (1-7)";
        for (int r = 42; r <= 50; ++r)
            QTest::addRow("%d", r) << r << "pusty";
        QTest::newRow("53") << 53 << QString::fromUtf16(u"Szybko\u015B\u0107 przesuwu");
        QTest::newRow("55") << 55 << QString::fromUtf16(u"D\u0142ugo\u015B\u0107 stringu");
        QTest::newRow("56") << 56 << "String[1]";
        QTest::newRow("155") << 155 << "String[100]";
        QTest::newRow("156 none") << 156 << "";
        QTest::newRow("0 none") << 0 << "";
    }
    void registerMap() {
        QFETCH(int, row);
        QFETCH(QString, name);
        QCOMPARE(core::RegisterName(row), name);
    }

    void mapIsComplete() {
        // Every register row has a name; ranges 1..7 each have min, maks, nr.
        for (int row = 1; row <= 155; ++row)
            QVERIFY2(!core::RegisterName(row).isEmpty(), qPrintable(QString::number(row)));
        for (int k = 1; k <= 7; ++k) {
            const int row = 3 * k;
            QCOMPARE(core::RegisterName(row),
                     QStringLiteral("(Zakres/Kolor %1 \u2013 min)").arg(k));
            QCOMPARE(core::RegisterName(row + 1),
                     QStringLiteral("(Zakres/Kolor %1 \u2013 maks)").arg(k));
            QCOMPARE(core::RegisterName(row + 2),
                     QStringLiteral("(Zakres/Kolor %1 \u2013 nr)").arg(k));
        }
    }
};

QTEST_APPLESS_MAIN(TestLogic)
#include "tst_rules.moc"
