// Which received bytes answer a request, and whether an answer may enter the
// image: framing by the MBAP header, matching by transaction ID, the checks
// before the copy, and the read/write range fields' rule. No window, no
// socket. Rows are named by their hex bytes.
#include "Answer.h"
#include "Modbus.h"

#include <QtTest>

namespace {

constexpr size_t Capacity = 1024; // the receive buffer's size

// Read holding registers, transaction 0x0007, quantity 6 from index 0.
const QByteArray Request = QByteArray::fromHex("000700010006010300000006");

std::span<const uint8_t> Span(const QByteArray &bytes) {
    return {reinterpret_cast<const uint8_t *>(bytes.constData()), size_t(bytes.size())};
}

// The function-3 answer of transaction tid with n registers of words 0x0100 + k.
QByteArray ReadAnswer(uint16_t tid, int n) {
    QByteArray a;
    a += char(tid >> 8);
    a += char(tid);
    a += QByteArray::fromHex("0001");
    a += char((3 + 2 * n) >> 8);
    a += char(3 + 2 * n);
    a += QByteArray::fromHex("0103");
    a += char(uint8_t(2 * n));
    for (int k = 0; k < n; ++k)
        a += QByteArray::fromHex("01") + char(uint8_t(k));
    return a;
}

// What an exchange makes of a byte stream that arrives in the pieces given:
// the hex of every stale run and of the answer, in order, the answer last
// ("-" when the bytes end before it is whole).
QStringList Exchange(const QByteArray &request, const QList<QByteArray> &pieces) {
    QStringList out;
    QByteArray buffered;
    for (const QByteArray &piece : pieces) {
        buffered += piece;
        for (;;) {
            const core::FrameStep step = core::FrameAnswer(Span(request), Span(buffered), Capacity);
            if (step.framing == core::Framing::Stale) {
                out << QString::fromLatin1(buffered.left(qsizetype(step.bytes)).toHex());
                buffered.remove(0, qsizetype(step.bytes));
                continue;
            }
            if (step.framing == core::Framing::Complete) {
                out << QString::fromLatin1(buffered.left(qsizetype(step.bytes)).toHex());
                return out;
            }
            break;
        }
    }
    out << QStringLiteral("-");
    return out;
}

} // namespace

class TestAnswer : public QObject {
    Q_OBJECT

private slots:
    void framing_data() {
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QList<QByteArray>>("pieces");
        QTest::addColumn<QStringList>("expected");
        const QByteArray ours = ReadAnswer(7, 6);
        const QByteArray late = ReadAnswer(6, 1);
        const auto row = [](const char *name, const QByteArray &req, QList<QByteArray> pieces,
                            QStringList expected) {
            QTest::newRow(name) << req << pieces << expected;
        };
        const auto hex = [](const QByteArray &b) { return QString::fromLatin1(b.toHex()); };

        row("whole read answer", Request, {ours}, {hex(ours)});
        row("00 07 00 01 00 06 01 06 00 01 00 2A: write echo",
            QByteArray::fromHex("0007000100060106000100"
                                "2a"),
            {QByteArray::fromHex("00070001000601060001002a")}, {"00070001000601060001002a"});
        row("00 07 00 01 00 03 01 83 02: exception", Request,
            {QByteArray::fromHex("000700010003018302")}, {"000700010003018302"});
        row("nothing", Request, {}, {"-"});
        row("00 07 00 01 00: no length yet", Request, {QByteArray::fromHex("0007000100")}, {"-"});
        row("two answers back to back: the first", Request, {ours + ReadAnswer(8, 6)}, {hex(ours)});
        row("late answer, then ours", Request, {late + ours}, {hex(late), hex(ours)});
        row("late answer in pieces, then ours", Request,
            {late.left(3), late.mid(3) + ours.left(8), ours.mid(8)}, {hex(late), hex(ours)});
        row("wrong transaction only", Request, {ReadAnswer(0x0107, 6)},
            {hex(ReadAnswer(0x0107, 6)), "-"});
        // A length that lies: larger than sent waits on; one that no answer can
        // have ends ours at what came, and makes another's wholly stale.
        row("00 07 00 01 00 10 ...: announces more than comes", Request,
            {QByteArray::fromHex("0007000100100103020001")}, {"-"});
        row("00 07 00 01 00 02 01 03 02 00 01: length 2", Request,
            {QByteArray::fromHex("0007000100020103020001")}, {"0007000100020103020001"});
        row("00 07 00 01 FF FF 01 03: length past the buffer", Request,
            {QByteArray::fromHex("00070001ffff0103")}, {"00070001ffff0103"});
        row("AA AA AA AA AA AA, then ours: flood filler", Request,
            {QByteArray(6, char(0xAA)), ours}, {"aaaaaaaaaaaa", hex(ours)});
    }
    void framing() {
        QFETCH(QByteArray, request);
        QFETCH(QList<QByteArray>, pieces);
        QFETCH(QStringList, expected);
        QCOMPARE(Exchange(request, pieces), expected);
    }

    // The read-all answer (519 bytes) split in two at every byte: whole only
    // with its last byte, and then exactly the answer.
    void readAllSplitAtEveryByte() {
        const QByteArray request = QByteArray::fromHex("0007000100060103000000ff");
        const QByteArray answer = ReadAnswer(7, 255);
        QCOMPARE(answer.size(), 519);
        for (qsizetype cut = 0; cut <= answer.size(); ++cut) {
            const core::FrameStep first =
                core::FrameAnswer(Span(request), Span(answer.left(cut)), Capacity);
            QCOMPARE(first.framing,
                     cut == answer.size() ? core::Framing::Complete : core::Framing::NeedMore);
            QCOMPARE(Exchange(request, {answer.left(cut), answer.mid(cut)}),
                     QStringList{QString::fromLatin1(answer.toHex())});
        }
    }

    void check_data() {
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("function");
        QTest::addColumn<int>("quantity");
        QTest::addColumn<int>("registers"); // -1: refused
        QTest::addColumn<QString>("why");
        const auto row = [](const QByteArray &a, int fn, int q, int regs, const char *why) {
            QTest::newRow(a.toHex(' ').constData())
                << a << fn << q << regs << QString::fromUtf8(why);
        };
        row(ReadAnswer(7, 6), 3, 6, 6, "");
        row(ReadAnswer(7, 2), 3, 2, 2, "");
        // Fewer registers than asked for, with the byte count they imply.
        row(QByteArray::fromHex("000700010007010304000100020003"), 3, 2, 2, "");
        row(ReadAnswer(7, 6), 3, 5, -1, "Answer byte count 12, not 10");
        row(ReadAnswer(8, 6), 3, 6, -1, "Answer to transaction 8, not 7");
        row(ReadAnswer(7, 6).left(20), 3, 6, -1, "Answer incomplete: 20 of 21 bytes");
        row(QByteArray::fromHex("0007"), 3, 6, -1, "Answer incomplete: 2 bytes, no header");
        row(QByteArray::fromHex("0007000100020103"), 3, 6, -1,
            "Answer length field 2 fits no answer");
        row(QByteArray::fromHex("00070001000601060001002a"), 3, 1, -1,
            "Answer of function 6, not 3");
        row(QByteArray::fromHex("00070001000601060001002a"), 6, 0, 0, "");
        row(QByteArray::fromHex("000700010003018301"), 3, 6, -1,
            "Exception answer 01 (illegal function)");
        row(QByteArray::fromHex("000700010003018302"), 3, 6, -1,
            "Exception answer 02 (illegal data address)");
        row(QByteArray::fromHex("000700010003018303"), 3, 6, -1,
            "Exception answer 03 (illegal data value)");
        row(QByteArray::fromHex("000700010003018604"), 6, 0, -1,
            "Exception answer 04 (device failure)");
        row(QByteArray::fromHex("000700010003019005"), 16, 0, -1,
            "Exception answer 05 (acknowledge)");
        row(QByteArray::fromHex("000700010003019006"), 16, 0, -1, "Exception answer 06 (busy)");
        row(QByteArray::fromHex("00070001000301830a"), 3, 6, -1, "Exception answer 0A");
    }
    void check() {
        QFETCH(QByteArray, answer);
        QFETCH(int, function);
        QFETCH(int, quantity);
        QFETCH(int, registers);
        QFETCH(QString, why);
        const core::AnswerCheck c =
            core::CheckAnswer(Span(answer), 7, uint8_t(function), quantity, Capacity);
        QCOMPARE(c.fault == core::AnswerFault::None, registers >= 0);
        QCOMPARE(core::AnswerFaultText(c), why);
        if (registers >= 0)
            QCOMPARE(c.registers, registers);
    }

    // 255 registers: the one-byte count holds FE, the length tells them all.
    void readAllByteCount() {
        const core::AnswerCheck c =
            core::CheckAnswer(Span(ReadAnswer(7, 255)), 7, core::FnReadHolding, 255, Capacity);
        QCOMPARE(c.fault, core::AnswerFault::None);
        QCOMPARE(c.registers, 255);
    }

    void range_data() {
        QTest::addColumn<qint64>("start");
        QTest::addColumn<int>("wanted");
        QTest::addColumn<QList<int>>("expected"); // first, count, cut; empty: refused
        QTest::newRow("40001 x 6") << qint64(40001) << 6 << QList<int>{0, 6, 0};
        QTest::newRow("40256 x 1") << qint64(40256) << 1 << QList<int>{255, 1, 0};
        QTest::newRow("40001 x 255") << qint64(40001) << 255 << QList<int>{0, 255, 0};
        QTest::newRow("40001 x 300: cut to 255") << qint64(40001) << 300 << QList<int>{0, 255, 1};
        QTest::newRow("40250 x 10: cut at 40256") << qint64(40250) << 10 << QList<int>{249, 7, 1};
        QTest::newRow("40000 x 1") << qint64(40000) << 1 << QList<int>{};
        QTest::newRow("40257 x 1") << qint64(40257) << 1 << QList<int>{};
        QTest::newRow("40001 x 0") << qint64(40001) << 0 << QList<int>{};
        QTest::newRow("40001 x -5") << qint64(40001) << -5 << QList<int>{};
        QTest::newRow("-2147483648 x 1") << qint64(INT32_MIN) << 1 << QList<int>{};
    }
    void range() {
        QFETCH(qint64, start);
        QFETCH(int, wanted);
        QFETCH(QList<int>, expected);
        const core::FieldRange r = core::RangeFromFields(start, wanted);
        QCOMPARE(r.refused, expected.isEmpty());
        if (r.refused)
            return;
        QCOMPARE((QList<int>{r.first, r.count, int(r.cut)}), expected);
        QCOMPARE(r.FirstNumber(), int(start));
        QCOMPARE(r.LastNumber(), int(start) + r.count - 1);
    }
};

QTEST_APPLESS_MAIN(TestAnswer)
#include "tst_answer.moc"
