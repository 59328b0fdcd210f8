// The line store against a plain list of lines, across page boundaries;
// the file it is saved as, line by line and with the local time.
#include "LogFile.h"
#include "LogStore.h"

#include <QBuffer>
#include <QRandomGenerator>
#include <QtTest>

using trafficlog::LogStore;

namespace {

struct Model {
    QStringList lines;
    QList<qint64> times;
};

int RowsOf(const QString &s, int columns) {
    return std::max(1, int((s.size() + columns - 1) / columns));
}

// A device that takes `room` bytes and then fails, as a full disk does.
class FullDevice : public QIODevice {
public:
    explicit FullDevice(qint64 room) : m_room(room) { open(WriteOnly); }
    QByteArray written;

protected:
    qint64 readData(char *, qint64) override { return -1; }
    qint64 writeData(const char *data, qint64 len) override {
        if (written.size() + len > m_room) {
            setErrorString(QStringLiteral("No space left on device"));
            return -1;
        }
        written.append(data, len);
        return len;
    }

private:
    qint64 m_room;
};

} // namespace

class TestLogStore : public QObject {
    Q_OBJECT

    static void Compare(const LogStore &s, const Model &m, int columns) {
        QCOMPARE(s.Count(), m.lines.size());
        int64_t row = 0;
        for (qsizetype i = 0; i < m.lines.size(); ++i) {
            QCOMPARE(s.Line(i), m.lines[i]);
            QCOMPARE(s.Time(i), m.times[i]);
            QCOMPARE(s.Length(i), int(m.lines[i].size()));
            QCOMPARE(s.FirstRowOf(i), row);
            const int rows = RowsOf(m.lines[i], columns);
            QCOMPARE(s.RowsOf(i), rows);
            const LogStore::RowPos last = s.LineAtRow(row + rows - 1);
            QCOMPARE(last.line, i);
            QCOMPARE(last.sub, rows - 1);
            row += rows;
        }
        QCOMPARE(s.Rows(), row);
    }

private slots:
    // Random appends, inserts, replacements and removals, checked line by
    // line, row by row: pages fill, split and empty on the way.
    void editsMatchAList_data() {
        QTest::addColumn<int>("seed");
        QTest::addColumn<int>("columns");
        QTest::newRow("seed 1, 7 columns") << 1 << 7;
        QTest::newRow("seed 2, 80 columns") << 2 << 80;
        QTest::newRow("seed 3, 1 column") << 3 << 1;
    }
    void editsMatchAList() {
        QFETCH(int, seed);
        QFETCH(int, columns);
        QRandomGenerator rng{quint32(seed)};
        LogStore s;
        s.SetColumns(columns);
        Model m;
        const auto text = [&] {
            const int n = int(rng.bounded(40));
            QString t;
            for (int i = 0; i < n; ++i) {
                const int k = int(rng.bounded(30));
                t += k == 0 ? QChar(0x142) : k == 1 ? QChar(u'€') : QChar(u'a' + k % 26);
            }
            if (rng.bounded(50) == 0) // a four-byte character: two code units
                t += QString::fromUcs4(U"\U0001F600");
            return t;
        };
        qint64 clock = 1000;
        for (int step = 0; step < 6000; ++step) {
            const int op = int(rng.bounded(10));
            const qsizetype n = m.lines.size();
            if (op < 5 || n == 0) {
                const QString t = text();
                s.Append(t, ++clock);
                m.lines << t;
                m.times << clock;
            } else if (op < 7) {
                const auto at = qsizetype(rng.bounded(int(n + 1)));
                const QString t = text();
                s.Insert(at, t, ++clock);
                m.lines.insert(at, t);
                m.times.insert(at, clock);
            } else if (op < 9) {
                const auto at = qsizetype(rng.bounded(int(n)));
                const QString t = text();
                s.Replace(at, t);
                m.lines[at] = t;
            } else {
                const auto at = qsizetype(rng.bounded(int(n)));
                const auto count =
                    qsizetype(rng.bounded(int(std::min<qsizetype>(n - at, 1500)) + 1));
                s.Remove(at, count);
                m.lines.remove(at, count);
                m.times.remove(at, count);
            }
            if (step % 1000 == 999) {
                Compare(s, m, columns);
                if (QTest::currentTestFailed())
                    return;
            }
        }
        Compare(s, m, columns);
        s.SetColumns(columns + 3);
        Compare(s, m, columns + 3);
    }

    // Rows follow from length and width: n characters in c columns.
    void rows_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("columns");
        QTest::addColumn<int>("rows");
        QTest::newRow("empty") << 0 << 10 << 1;
        QTest::newRow("one short") << 9 << 10 << 1;
        QTest::newRow("full") << 10 << 10 << 1;
        QTest::newRow("one over") << 11 << 10 << 2;
        QTest::newRow("read-all answer at 94") << 1566 << 94 << 17;
    }
    void rows() {
        QFETCH(int, length);
        QFETCH(int, columns);
        QFETCH(int, rows);
        LogStore s;
        s.SetColumns(columns);
        s.Append(QString(length, u'x'), 0);
        QCOMPARE(s.RowsOf(0), rows);
        QCOMPARE(s.Rows(), int64_t(rows));
    }

    // The writer: every line, its time, CR LF, the round trip after a
    // "Receive: " line from the "Send: " line before it.
    void writer() {
        LogStore s;
        const int64_t t0 = 1733745600000000; // 2024-12-09 12:00:00 UTC
        s.Append(u"Send: 00 01 ", t0);
        s.Append(u"Receive: 00 01 ", t0 + 2345);
        s.Append(u"", t0 + 2345);
        s.Append(u"Send: 00 02 ", t0 + 1000000);
        s.Append(u"Nic nie odebrano z Tavrin.", t0 + 4000000);
        s.Append(u"Receive: typed by hand", t0 + 5000000);
        const QByteArray oldTz = qgetenv("TZ");
        qputenv("TZ", "UTC");
        tzset();
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QString error;
        const bool ok = trafficlog::WriteLog(s, s.Count(), buffer, {}, &error);
        qputenv("TZ", oldTz);
        tzset();
        QVERIFY(ok);
        QCOMPARE(buffer.data(),
                 QByteArray("2024-12-09 12:00:00.000 Send: 00 01 \r\n"
                            "2024-12-09 12:00:00.002 (2.345 ms) Receive: 00 01 \r\n"
                            "2024-12-09 12:00:00.002 \r\n"
                            "2024-12-09 12:00:01.000 Send: 00 02 \r\n"
                            "2024-12-09 12:00:04.000 Nic nie odebrano z Tavrin.\r\n"
                            "2024-12-09 12:00:05.000 (4000.000 ms) Receive: typed by hand\r\n"));
    }

    // The local time as the system gives it, also across the change to
    // summer time and back.
    void localTime_data() {
        QTest::addColumn<QString>("zone");
        QTest::addColumn<qint64>("ms");
        QTest::newRow("UTC epoch") << "UTC" << qint64(0);
        QTest::newRow("Warsaw winter") << "Europe/Warsaw" << qint64(1733745600123);
        QTest::newRow("Warsaw, 1 ms before summer time")
            << "Europe/Warsaw" << qint64(1711846799999);
        QTest::newRow("Warsaw, summer time") << "Europe/Warsaw" << qint64(1711846800000);
        QTest::newRow("Warsaw, back to winter") << "Europe/Warsaw" << qint64(1729990800001);
        QTest::newRow("Kathmandu") << "Asia/Kathmandu" << qint64(1700000000777);
        QTest::newRow("leap day") << "America/New_York" << qint64(1709251199500);
    }
    void localTime() {
        QFETCH(QString, zone);
        QFETCH(qint64, ms);
        const QByteArray oldTz = qgetenv("TZ");
        qputenv("TZ", zone.toLatin1());
        tzset();
        trafficlog::LocalTimeText text;
        char out[trafficlog::LocalTimeText::Size];
        text.Write(ms * 1000 + 456, out);
        const QString expected =
            QDateTime::fromMSecsSinceEpoch(ms).toString(QStringLiteral("yyyy-MM-dd HH:mm:ss.zzz"));
        qputenv("TZ", oldTz);
        tzset();
        QCOMPARE(QString::fromLatin1(out, trafficlog::LocalTimeText::Size), expected);
    }

    void writerReportsAFullDisk() {
        LogStore s;
        for (int i = 0; i < 100000; ++i)
            s.Append(u"Send: 00 01 00 01 00 06 01 03 00 01 00 01 ", i);
        FullDevice device(3 << 20);
        QString error;
        QVERIFY(!trafficlog::WriteLog(s, s.Count(), device, {}, &error));
        QCOMPARE(error, QStringLiteral("No space left on device"));
    }

    // Progress comes in steps and stops the write when told to.
    void writerProgress() {
        LogStore s;
        for (int i = 0; i < 50000; ++i)
            s.Append(u"x", i);
        QBuffer buffer;
        buffer.open(QIODevice::WriteOnly);
        QList<qsizetype> calls;
        QVERIFY(trafficlog::WriteLog(
            s, s.Count(), buffer, [&](qsizetype done) { return calls << done, true; }, nullptr));
        QCOMPARE(calls.last(), qsizetype(50000));
        QVERIFY(std::is_sorted(calls.begin(), calls.end()));
        QVERIFY(calls.size() >= 3);
        buffer.buffer().clear();
        buffer.seek(0);
        QVERIFY(!trafficlog::WriteLog(
            s, s.Count(), buffer, [](qsizetype) { return false; }, nullptr));
    }
};

QTEST_GUILESS_MAIN(TestLogStore)
#include "tst_logstore.moc"
