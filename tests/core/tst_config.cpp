// Safe-configuration rules: value states, write acknowledgements, the
// verify and compare texts, configuration files.
#include "Config.h"

#include <QtTest>

using core::ValueState;
Q_DECLARE_METATYPE(core::ValueState)

namespace {
QByteArray Hex(const char *text) {
    return QByteArray::fromHex(QByteArray(text).replace(' ', ""));
}
std::span<const uint8_t> Bytes(const QByteArray &b) {
    return {reinterpret_cast<const uint8_t *>(b.constData()), size_t(b.size())};
}
QByteArray Utf16(const char16_t *text) {
    const QString s = QString::fromUtf16(text);
    return QByteArray(reinterpret_cast<const char *>(s.utf16()), s.size() * 2);
}
QByteArray Utf16Be(const char16_t *text) {
    QByteArray b;
    for (const char16_t *p = text; *p; ++p)
        b.append(char(*p >> 8)).append(char(*p & 0xFF));
    return b;
}
} // namespace

class TestConfig : public QObject {
    Q_OBJECT
private slots:
    // One register (index 5, image word 7) in a state, one event, the state
    // after it.
    void states_data() {
        QTest::addColumn<ValueState>("before");
        QTest::addColumn<QString>("event");
        QTest::addColumn<ValueState>("after");
        const auto P = ValueState::Plain, C = ValueState::Changed, E = ValueState::Pending,
                   D = ValueState::Differs;
        QTest::newRow("plain, read brings 8") << P << "read 8" << C;
        QTest::newRow("changed, read brings 7") << C << "read 7" << P;
        QTest::newRow("changed, read brings 9") << C << "read 9" << C;
        QTest::newRow("pending, read brings 7") << E << "read 7" << P;
        QTest::newRow("pending, read brings 8") << E << "read 8" << C;
        QTest::newRow("differs, read brings 7") << D << "read 7" << P;
        QTest::newRow("changed, read of another register") << C << "read other" << C;
        QTest::newRow("plain, edit to 8") << P << "edit 8" << E;
        QTest::newRow("changed, edit to 7") << C << "edit 7" << C;
        QTest::newRow("differs, edit to 8") << D << "edit 8" << E;
        QTest::newRow("pending, written") << E << "write" << P;
        QTest::newRow("differs, written") << D << "write" << P;
        QTest::newRow("pending, write of another register") << E << "write other" << E;
        QTest::newRow("plain, device holds 8") << P << "compare 8" << D;
        QTest::newRow("pending, device holds 8") << E << "compare 8" << D;
        QTest::newRow("pending, device holds 7") << E << "compare 7" << P;
        QTest::newRow("differs, device holds 7") << D << "compare 7" << P;
        QTest::newRow("changed, device holds 7") << C << "compare 7" << C;
    }
    void states() {
        QFETCH(ValueState, before);
        QFETCH(QString, event);
        QFETCH(ValueState, after);
        ValueState states[core::ImageSize] = {};
        uint16_t image[core::ImageSize] = {};
        states[5] = before;
        image[5] = 7;
        const QStringList e = event.split(u' ');
        const QString arg = e.value(1); // "write" has none
        const uint16_t word = arg == u"other" ? 0 : uint16_t(arg.toUInt());
        const uint16_t device[] = {word};
        if (e[0] == u"read")
            core::MarkRead(states, image, arg == u"other" ? 6 : 5, device);
        else if (e[0] == u"edit")
            core::MarkEdited(states, 5, image[5], word);
        else if (e[0] == u"write")
            core::MarkWritten(states, arg == u"other" ? 6 : 5, 1);
        else
            core::MarkCompared(states, image, 5, device);
        QCOMPARE(states[5], after);
    }

    void acknowledged_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<bool>("ack");
        const QByteArray f6 = Hex("000100010006 01 06 0025 0096");
        const QByteArray f16 = Hex("00020001000B 01 10 0024 0002 04 01F6 0096");
        QTest::newRow("f6 echo") << f6 << f6 << true;
        QTest::newRow("f6 other value") << f6 << Hex("000100010006 01 06 0025 0064") << false;
        QTest::newRow("f6 other address") << f6 << Hex("000100010006 01 06 0024 0096") << false;
        QTest::newRow("f6 other transaction") << f6 << Hex("000900010006 01 06 0025 0096") << false;
        QTest::newRow("f6 exception 02") << f6 << Hex("00010001000301 86 02") << false;
        QTest::newRow("f6 cut short") << f6 << f6.left(11) << false;
        QTest::newRow("f6 nothing") << f6 << QByteArray() << false;
        // The echo's bytes all there, the header lying about them.
        QTest::newRow("f6 length field 0") << f6 << Hex("000100010000 01 06 0025 0096") << false;
        QTest::newRow("f6 length field 7, 6 came")
            << f6 << Hex("000100010007 01 06 0025 0096") << false;
        QTest::newRow("f16 echo of start and quantity")
            << f16 << Hex("000200010006 01 10 0024 0002") << true;
        QTest::newRow("f16 other quantity") << f16 << Hex("000200010006 01 10 0024 0001") << false;
        QTest::newRow("f16 answered as f6") << f16 << Hex("000200010006 01 06 0024 0002") << false;
        QTest::newRow("f16 exception 02") << f16 << Hex("00020001000301 90 02") << false;
        QTest::newRow("f3 is no write")
            << Hex("000100010006 01 03 0000 0001") << Hex("000100010006 01 03 0000 0001") << false;
    }
    void acknowledged() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(bool, ack);
        QCOMPARE(core::WriteAcknowledged(Bytes(request), Bytes(answer)), ack);
    }

    void verifyText_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<QString>("text");
        const QByteArray f16 = Hex("00020001000B 01 10 000B 0002 04 0005 0000");
        QTest::newRow("both OK") << f16 << Hex("000300010007 01 03 04 0005 0000")
                                 << "Verify: 2 registers OK.";
        QTest::newRow("both differ") << f16 << Hex("000300010007 01 03 04 0004 0001")
                                     << "Verify: 40012 written 5, device holds 4; 40013 written "
                                        "0, device holds 1.";
        QTest::newRow("f6 cut to 100")
            << Hex("000100010006 01 06 0025 0096") << Hex("000300010005 01 03 02 0064")
            << "Verify: 40038 written 150, device holds 100.";
        QTest::newRow("f6 OK") << Hex("000100010006 01 06 0025 0050")
                               << Hex("000300010005 01 03 02 0050") << "Verify: 1 register OK.";
        QTest::newRow("nothing") << f16 << QByteArray() << "Verify: no answer from the device.";
        QTest::newRow("exception") << f16 << Hex("00030001000301 83 02")
                                   << "Verify: the device answered with exception 02.";
        QTest::newRow("one register short")
            << f16 << Hex("000300010005 01 03 02 0005")
            << "Verify: the answer does not hold the 2 registers read.";
    }
    void verifyText() {
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(QString, text);
        core::Written w;
        QVERIFY(core::WrittenRegisters(Bytes(request), w));
        const core::ReadBack back = core::ReadAnswerWords(Bytes(answer), int(w.words.size()));
        QCOMPARE(core::VerifyText(w, back), text);
    }

    void compareText_data() {
        QTest::addColumn<QList<int>>("differing");
        QTest::addColumn<QString>("text");
        QTest::newRow("two") << QList<int>{4, 11}
                             << "Differs from the device: 40005, 40012 (2 registers).";
        QTest::newRow("one") << QList<int>{37} << "Differs from the device: 40038 (1 register).";
        QTest::newRow("none") << QList<int>{} << "Same as the device: 155 registers.";
    }
    void compareText() {
        QFETCH(QList<int>, differing);
        QFETCH(QString, text);
        QCOMPARE(core::CompareText(differing, 155), text);
    }

    void csvRoundTrip() {
        uint16_t image[core::ImageSize] = {};
        for (int i = 0; i < core::ImageSize; ++i)
            image[i] = uint16_t(i * 421 + 7);
        image[0] = 0;
        image[1] = 65535;
        const QByteArray csv = core::RegistersCsv(image);
        const QList<QByteArray> lines = csv.split('\n');
        QCOMPARE(lines.size(), 1 + 155 + 1); // the last line ends in CR LF too
        QCOMPARE(lines[0], QByteArray("Register,Name,Value\r"));
        QCOMPARE(lines[1], QByteArray("40001,Triger Start/Stop,0\r"));
        QCOMPARE(lines[2], QByteArray("40002,Licznik,65535\r"));
        QCOMPARE(lines[38],
                 QByteArray("40038,Jasno\xC5\x9B\xC4\x87,") + QByteArray::number(image[37]) + '\r');
        QCOMPARE(lines[155],
                 QByteArray("40155,String[100],") + QByteArray::number(image[154]) + '\r');
        const core::ConfigFile f = core::ParseConfig(csv);
        QVERIFY(f.ok);
        QCOMPARE(f.count, 155);
        for (int i = 0; i < 155; ++i)
            QCOMPARE(f.values[i], image[i]);
    }

    void parse_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<int>("badLine"); // 0: loads
        QTest::addColumn<QString>("reason");
        QTest::addColumn<int>("count");
        QTest::addColumn<int>("index"); // of a register that it gives
        QTest::addColumn<int>("value");
        // clang-format off
        QTest::newRow("no header, LF") << QByteArray("40038,Jasno,80\n40001,x,1\n") << 0 << "" << 2 << 37 << 80;
        QTest::newRow("CR only, no name") << QByteArray("40038,80\r40001,1") << 0 << "" << 2 << 0 << 1;
        QTest::newRow("hex value") << QByteArray("Register,Name,Value\r\n40037,Port,0x1F6\r\n") << 0 << "" << 1 << 36 << 502;
        QTest::newRow("BOM, quoted name, blank line") << QByteArray("\xEF\xBB\xBF" "40005,\"a, \"\"b\"\"\",3\r\n\r\n") << 0 << "" << 1 << 4 << 3;
        QTest::newRow("65535") << QByteArray("40001,x,65535\n") << 0 << "" << 1 << 0 << 65535;
        QTest::newRow("register 40156") << QByteArray("40001,x,1\n40156,x,1\n") << 2 << "unknown register" << 0 << 0 << 0;
        QTest::newRow("register 40000") << QByteArray("40000,x,1\n") << 1 << "unknown register" << 0 << 0 << 0;
        QTest::newRow("value 65536") << QByteArray("Register,Name,Value\n40001,x,65536\n") << 2 << "value outside 0..65535" << 0 << 0 << 0;
        QTest::newRow("value -1") << QByteArray("40001,x,-1\n") << 1 << "value outside 0..65535" << 0 << 0 << 0;
        QTest::newRow("value 12a") << QByteArray("40001,x,12a\n") << 1 << "not a number" << 0 << 0 << 0;
        QTest::newRow("value empty") << QByteArray("40001,x,\n") << 1 << "not a number" << 0 << 0 << 0;
        QTest::newRow("register abc") << QByteArray("40001,x,1\nabc,x,1\n") << 2 << "not a number" << 0 << 0 << 0;
        QTest::newRow("header later") << QByteArray("40001,x,1\nRegister,Name,Value\n") << 2 << "not a number" << 0 << 0 << 0;
        QTest::newRow("one field") << QByteArray("40001\n") << 1 << "not a register line" << 0 << 0 << 0;
        QTest::newRow("given twice") << QByteArray("40001,x,1\n40001,x,2\n") << 2 << "register given twice" << 0 << 0 << 0;
        QTest::newRow("settings file")
            << QByteArray("[Main]\r\nTop=1\r\n[REG]\r\nR0=5\r\nr37 = 80\r\nR155=9\r\n[LAN]\r\nip=127.0.0.1\r\n") << 0 << "" << 2 << 37 << 80;
        QTest::newRow("settings file in UTF-16")
            << QByteArray("\xFF\xFE") + Utf16(u"[REG]\r\nR36=502\r\n")
            << 0 << "" << 1 << 36 << 502;
        QTest::newRow("settings file R156") << QByteArray("[REG]\nR0=1\nR156=1\n") << 3 << "unknown register" << 0 << 0 << 0;
        QTest::newRow("settings file R01") << QByteArray("[REG]\nR01=1\n") << 2 << "unknown register" << 0 << 0 << 0;
        QTest::newRow("settings file 70000") << QByteArray("[REG]\nR0=70000\n") << 2 << "value outside 0..65535" << 0 << 0 << 0;
        QTest::newRow("settings file without REG") << QByteArray("[Main]\nTop=1\n") << 0 << "no [REG] section" << 0 << 0 << 0;
        // As the settings file's reader has it: BOMs, blanks in a section's
        // name, quotes around a value, a run of CRs before LF as one line end.
        QTest::newRow("settings file in UTF-16BE")
            << QByteArray("\xFE\xFF") + Utf16Be(u"[REG]\r\nR36=502\r\n")
            << 0 << "" << 1 << 36 << 502;
        QTest::newRow("CSV in UTF-16BE")
            << QByteArray("\xFE\xFF") + Utf16Be(u"40038,Jasno\u015B\u0107,80\r\n")
            << 0 << "" << 1 << 37 << 80;
        QTest::newRow("section [ REG ]") << QByteArray("[ REG ]\r\nR5 = 7\r\n") << 0 << "" << 1 << 5 << 7;
        QTest::newRow("section [\treg] and a note") << QByteArray("[\treg] ; by hand\nR5=7\n") << 0 << "" << 1 << 5 << 7;
        QTest::newRow("quoted value") << QByteArray("[REG]\nR5=\"7\"\nR6='8'\n") << 0 << "" << 2 << 6 << 8;
        QTest::newRow("CR CR LF") << QByteArray("40001,x,1\r\r\n40002,x,y\r\r\n") << 2 << "not a number" << 0 << 0 << 0;
        QTest::newRow("empty file") << QByteArray() << 0 << "no registers" << 0 << 0 << 0;
        QTest::newRow("blank lines") << QByteArray("\r\n \r\n") << 0 << "no registers" << 0 << 0 << 0;
        QTest::newRow("header only") << QByteArray("Register,Name,Value\r\n") << 0 << "no registers" << 0 << 0 << 0;
        QTest::newRow("REG without registers") << QByteArray("[REG]\r\nR155=9\r\n[LAN]\r\nip=1\r\n") << 0 << "no registers" << 0 << 0 << 0;
        // clang-format on
    }
    void parse() {
        QFETCH(QByteArray, file);
        QFETCH(int, badLine);
        QFETCH(QString, reason);
        QFETCH(int, count);
        QFETCH(int, index);
        QFETCH(int, value);
        const core::ConfigFile f = core::ParseConfig(file);
        QCOMPARE(f.ok, reason.isEmpty());
        QCOMPARE(f.badLine, badLine);
        QCOMPARE(f.reason, reason);
        if (!f.ok)
            return;
        QCOMPARE(f.count, count);
        QVERIFY(f.given[index]);
        QCOMPARE(int(f.values[index]), value);
    }

    // A refusal quotes at most MaxQuoted characters of the bad line, decoded
    // as the file is.
    void badText_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("badText");
        const QByteArray longLine = "40001,x," + QByteArray(100000, '1');
        QTest::newRow("80 characters") << QByteArray("40001,x,") + QByteArray(72, 'a') + '\n'
                                       << QStringLiteral("40001,x,") + QString(72, u'a');
        QTest::newRow("100000 characters")
            << longLine + '\n'
            << QStringLiteral("40001,x,") + QString(72, u'1') + u'\u2026';
        // 79 characters, then a character outside the BMP: not cut in half.
        QTest::newRow("pair at the cut")
            << QByteArray("4000x,") + QByteArray(73, 'b') + "\xF0\x9F\x98\x80,1\n"
            << QStringLiteral("4000x,") + QString(73, u'b') + u'\u2026';
        QTest::newRow("8-bit code page")
            << QByteArray("40038,Jasno\x9C\xE6,x\n") << QStringLiteral("40038,Jasno\u015B\u0107,x");
    }
    void badText() {
        QFETCH(QByteArray, file);
        QFETCH(QString, badText);
        const core::ConfigFile f = core::ParseConfig(file);
        QVERIFY(!f.ok);
        QCOMPARE(f.badLine, 1);
        QCOMPARE(f.badText, badText);
    }
};

QTEST_GUILESS_MAIN(TestConfig)
#include "tst_config.moc"
