// Modbus frames and function-3 answers of the core, without a window. Rows
// are named by their hex bytes.
#include "Modbus.h"
#include "RegisterMap.h"

#include <QtTest>

#include <algorithm>
#include <array>

namespace {

using Image = std::array<uint16_t, core::ImageSize>;

const core::Mbap Defaults{1, 1, 1};

QByteArray Bytes(std::span<const uint8_t> bytes) {
    return QByteArray(reinterpret_cast<const char *>(bytes.data()), qsizetype(bytes.size()));
}

std::span<const uint8_t> Span(const QByteArray &bytes) {
    return {reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())};
}

// A row named by its hex frame; the frame is what the name says.
QTestData &FrameRow(const char *hex) {
    return QTest::newRow(hex) << QByteArray::fromHex(hex);
}

// The header and function fields of a function-16 frame with n registers,
// then the values 0x0100 + k.
QByteArray RangeFrame(int first, int n) {
    const int sendCount = 13 + 2 * n;
    QByteArray f = QByteArray::fromHex("0001000100000110");
    f[4] = char(uint8_t((sendCount - 6) >> 8));
    f[5] = char(uint8_t(sendCount - 6));
    f += char(0);
    f += char(uint8_t(first));
    f += char(0);
    f += char(uint8_t(n));
    f += char(uint8_t(2 * n));
    for (int k = 0; k < n; ++k)
        f += QByteArray::fromHex("01") + char(uint8_t(k));
    return f;
}

} // namespace

class TestFrames : public QObject {
    Q_OBJECT
private slots:
    void readHolding_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("first");
        QTest::addColumn<int>("quantity");
        FrameRow("00 01 00 01 00 06 01 03 00 00 00 FF") << 0 << 255; // read all
        FrameRow("00 01 00 01 00 06 01 03 00 00 00 06") << 0 << 6;   // read range, the defaults
        FrameRow("00 01 00 01 00 06 01 03 00 FE 00 01") << 254 << 1;
        FrameRow("00 01 00 01 00 06 01 03 00 01 00 01") << 1 << 1; // ReadRegister(1)
    }
    void readHolding() {
        QFETCH(QByteArray, frame);
        QFETCH(int, first);
        QFETCH(int, quantity);
        std::array<uint8_t, 16> buf;
        buf.fill(0xEE);
        QCOMPARE(core::ReadHoldingFrame(buf, Defaults, first, quantity), 12);
        QCOMPARE(Bytes(buf).left(12), frame);
        QCOMPARE(buf[12], uint8_t(0xEE)); // nothing past the frame
    }

    void writeSingle_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("value");
        FrameRow("00 01 00 01 00 06 01 06 00 26 00 55") << 38 << 85;   // restart
        FrameRow("00 01 00 01 00 06 01 06 00 00 00 01") << 0 << 1;     // the repeat job's trigger
        FrameRow("00 01 00 01 00 06 01 06 00 26 12 34") << 38 << 4660; // send this register, row 39
    }
    void writeSingle() {
        QFETCH(QByteArray, frame);
        QFETCH(int, index);
        QFETCH(int, value);
        std::array<uint8_t, 12> buf{};
        QCOMPARE(core::WriteSingleFrame(buf, Defaults, index, uint16_t(value)), 12);
        QCOMPARE(Bytes(buf), frame);
    }

    void writeMultiple_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<int>("first");
        QTest::addColumn<QList<int>>("values");
        FrameRow("00 01 00 01 00 0B 01 10 00 02 00 02 04 01 02 03 04") << 2 << QList<int>{258, 772};
        // 128 registers: quantity 80, byte count 00 (low bits of 256), length 01 07.
        QList<int> values;
        for (int k = 0; k < 255; ++k)
            values << 0x0100 + k;
        QTest::newRow("00 01 00 01 01 07 01 10 00 00 00 80 00 + 128 registers")
            << RangeFrame(0, 128) << 0 << values.mid(0, 128);
        QTest::newRow("00 01 00 01 02 05 01 10 00 01 00 FF FE + 255 registers")
            << RangeFrame(1, 255) << 1 << values;
    }
    void writeMultiple() {
        QFETCH(QByteArray, frame);
        QFETCH(int, first);
        QFETCH(QList<int>, values);
        std::vector<uint16_t> regs(values.begin(), values.end());
        std::array<uint8_t, core::MaxFrame> buf{};
        const int count = core::WriteMultipleFrame(buf, Defaults, first, regs);
        QCOMPARE(count, int(frame.size()));
        QCOMPARE(Bytes(buf).left(count), frame);
    }

    void frameDoesNotFit() {
        std::array<uint8_t, 16> buf;
        buf.fill(0xEE);
        const uint16_t values[2] = {1, 2};
        QCOMPARE(core::ReadHoldingFrame(std::span(buf).first(11), Defaults, 0, 1), 0);
        QCOMPARE(core::WriteSingleFrame(std::span(buf).first(11), Defaults, 0, 1), 0);
        QCOMPARE(core::WriteMultipleFrame(std::span(buf).first(16), Defaults, 0, values), 0);
        QVERIFY(std::all_of(buf.begin(), buf.end(), [](uint8_t b) { return b == 0xEE; }));
    }

    void text_data() {
        QTest::addColumn<QByteArray>("frame");
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("length"); // code units sent, without the ending zero
        FrameRow("00 01 00 01 00 0D 01 10 00 37 00 03 06 00 41 00 42 00 00") << "AB" << 2;
        FrameRow("00 01 00 01 00 0B 01 10 00 37 00 02 04 00 58 00 00") << "X" << 1;
        FrameRow("00 01 00 01 00 0B 01 10 00 37 00 02 04 01 42 00 00")
            << QStringLiteral("\u0142") << 1;
        // head, then n times 00 61 ("a") and the ending zero
        const auto as = [](const char *head, int n) {
            return QByteArray::fromHex(head) + QByteArray::fromHex("0061").repeated(n) +
                   QByteArray::fromHex("0000");
        };
        const QByteArray full = as("00 01 00 01 00 CF 01 10 00 37 00 64 C8", 99);
        QTest::newRow("00 01 00 01 00 CF 01 10 00 37 00 64 C8 + 99 characters and the zero")
            << full << QString(99, u'a') << 99;
        // Longer texts (from the settings file) are cut at 99 code units,
        // never inside a surrogate pair.
        QTest::newRow("00 01 00 01 00 CF ... 120 characters cut to 99")
            << full << QString(120, u'a') << 99;
        QTest::newRow("00 01 00 01 00 CD 01 10 00 37 00 63 C6 + 98 characters, pair left out")
            << as("00 01 00 01 00 CD 01 10 00 37 00 63 C6", 98)
            << QString(98, u'a') + QStringLiteral("\U0001F600") << 98;
    }
    void text() {
        QFETCH(QByteArray, frame);
        QFETCH(QString, text);
        QFETCH(int, length);
        Image regs;
        regs.fill(7); // a longer text before, and words past the map
        QCOMPARE(core::TextToRegs(text, regs), length);
        std::array<uint8_t, core::MaxFrame> buf{};
        const int count = core::TextFrame(buf, Defaults, regs);
        QCOMPARE(count, 15 + 2 * length);
        QCOMPARE(Bytes(buf).left(count), frame);
        QCOMPARE(regs[core::TextLength], uint16_t(length));
        for (int i = 0; i < length; ++i)
            QCOMPARE(regs[size_t(core::TextStart + i)], text.at(i).unicode());
        for (int i = core::TextStart + length; i <= core::TextClearEnd; ++i)
            QCOMPARE(regs[size_t(i)], uint16_t(0));
        QCOMPARE(regs[core::TextClearEnd + 1], uint16_t(7));
        QCOMPARE(regs[core::TextLength - 1], uint16_t(7));
        QCOMPARE(core::TextFromRegs(regs), text.left(length));
    }

    void readAnswer_data() {
        QTest::addColumn<QByteArray>("answer"); // what this exchange received
        QTest::addColumn<int>("s");
        QTest::addColumn<int>("c");
        QTest::addColumn<QList<int>>("expected"); // image[s..s+2] after the copy

        // clang-format off
        FrameRow("00 01 00 01 00 07 01 03 04 12 34 00 FF") << 10 << 2 << QList<int>{4660, 255, 7};
        // Short answers: only the registers that came in whole.
        FrameRow("00 01 00 01 00 07 01 03 04 12 34 AA")    << 10 << 2 << QList<int>{4660, 7, 7};
        FrameRow("00 01 00 01 00 07 01 03 04")             << 10 << 2 << QList<int>{7, 7, 7};
        FrameRow("00")                                     << 10 << 2 << QList<int>{7, 7, 7};
        QTest::newRow("nothing") << QByteArray()            << 10 << 2 << QList<int>{7, 7, 7};
        // Exception answers carry no register values.
        FrameRow("00 01 00 01 00 03 01 83 02")             << 10 << 1 << QList<int>{7, 7, 7};
        FrameRow("00 01 00 01 00 07 01 83 04 12 34")       << 10 << 1 << QList<int>{7, 7, 7};
        // Nothing asked for.
        QTest::newRow("00 01 00 01 00 07 01 03 04 12 34 for 0 registers")
            << QByteArray::fromHex("0001000100070103041234") << 10 << 0 << QList<int>{7, 7, 7};
        QTest::newRow("00 01 00 01 00 07 01 03 04 12 34 for -1 registers")
            << QByteArray::fromHex("0001000100070103041234") << 10 << -1 << QList<int>{7, 7, 7};
        // Past the image: cut at index 255, or nothing from outside it.
        QTest::newRow("00 01 00 01 00 07 01 03 04 12 34 into 256")
            << QByteArray::fromHex("0001000100070103041234") << 256 << 1 << QList<int>{};
        QTest::newRow("00 01 00 01 00 07 01 03 04 12 34 into -1")
            << QByteArray::fromHex("0001000100070103041234") << -1 << 1 << QList<int>{};
        QTest::newRow("00 01 00 01 00 07 01 03 04 11 11 22 22 into 255")
            << QByteArray::fromHex("00010001000701030411112222") << 255 << 2 << QList<int>{0x1111};
        // clang-format on
    }
    void readAnswer() {
        QFETCH(QByteArray, answer);
        QFETCH(int, s);
        QFETCH(int, c);
        QFETCH(QList<int>, expected);
        // Bytes past the answer (left from an earlier, longer one) must not
        // enter the image.
        QByteArray buffer(1024, char(0x5A));
        buffer.replace(0, answer.size(), answer);
        Image regs;
        regs.fill(7);
        const int copied =
            core::DecodeReadAnswer(Span(buffer).first(size_t(answer.size())), s, c, regs);
        for (int k = 0; k < expected.size(); ++k)
            QCOMPARE(int(regs[size_t(s + k)]), expected[k]);
        int changed = 0;
        for (uint16_t r : regs)
            changed += r != 7;
        int expectChanged = 0;
        for (int v : expected)
            expectChanged += v != 7;
        QCOMPARE(changed, expectChanged);
        QCOMPARE(copied, expectChanged);
    }
};

QTEST_APPLESS_MAIN(TestFrames)
#include "tst_frames.moc"
