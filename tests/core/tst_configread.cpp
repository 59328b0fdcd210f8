// Configuration files read from a device: a read that fails part-way, the
// size limit, and the texts of a refusal.
#include "Config.h"

#include <QBuffer>
#include <QtTest>
#include <algorithm>

namespace {

// Gives data (repeated without end when endless) until failAt bytes have
// gone, then fails every read, as a disk that reports an I/O error part-way
// through a file. A read that would find the end fails too when failAt is
// the data's size.
class FailingDevice : public QIODevice {
public:
    FailingDevice(QByteArray data, qint64 failAt, bool endless = false)
        : m_data(std::move(data)), m_failAt(failAt), m_endless(endless) {
        open(QIODevice::ReadOnly | QIODevice::Unbuffered); // delivered(): what was asked for
    }
    bool isSequential() const override { return true; }
    qint64 delivered() const { return m_at; }

protected:
    qint64 readData(char *out, qint64 max) override {
        if (m_at >= m_failAt) {
            setErrorString(QStringLiteral("Input/output error"));
            return -1;
        }
        qint64 n = 0;
        while (n < max && m_at < m_failAt && (m_endless || m_at < m_data.size()))
            out[n++] = m_data[qsizetype(m_at++ % m_data.size())];
        return n;
    }
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QByteArray m_data;
    qint64 m_failAt;
    bool m_endless;
    qint64 m_at = 0;
};

} // namespace

class TestConfigRead : public QObject {
    Q_OBJECT
private slots:
    // Whatever came before the failure, nothing is taken.
    void readFails_data() {
        QTest::addColumn<int>("failAt"); // bytes of the saved CSV read before it
        QTest::newRow("at once") << 0;
        QTest::newRow("after the header and 40001") << 47;
        QTest::newRow("inside a line") << 1000;
        QTest::newRow("at the end") << -1; // all of it read, then the failure
    }
    void readFails() {
        QFETCH(int, failAt);
        uint16_t image[core::ImageSize] = {};
        const QByteArray csv = core::RegistersCsv(image);
        FailingDevice in(csv, failAt < 0 ? csv.size() : failAt);
        const core::ConfigFile f = core::ReadConfig(in);
        QVERIFY(!f.ok);
        QVERIFY(f.readFailed);
        QCOMPARE(f.reason, QStringLiteral("Input/output error"));
        QCOMPARE(f.count, 0);
        QVERIFY(std::none_of(std::begin(f.given), std::end(f.given), [](bool b) { return b; }));
        QCOMPARE(core::ConfigRefusal(f, QStringLiteral("C:\\unit.csv")),
                 QStringLiteral("Unable to read C:\\unit.csv: Input/output error"));
    }

    void readToTheEnd() {
        uint16_t image[core::ImageSize] = {};
        image[37] = 80;
        const QByteArray csv = core::RegistersCsv(image);
        FailingDevice in(csv, csv.size() + 1); // the end comes first
        const core::ConfigFile f = core::ReadConfig(in);
        QVERIFY(f.ok);
        QCOMPARE(f.count, 155);
        QCOMPARE(f.values[37], uint16_t(80));
    }

    // Up to MaxConfigSize bytes load; a file that says it is larger is
    // refused before a byte of it is read; an endless one after one byte
    // more than the limit.
    void sizeLimit_data() {
        QTest::addColumn<qint64>("size");
        QTest::addColumn<bool>("sequential");
        QTest::addColumn<bool>("loads");
        QTest::newRow("1 MiB file") << core::MaxConfigSize << false << true;
        QTest::newRow("1 MiB stream") << core::MaxConfigSize << true << true;
        QTest::newRow("1 MiB + 1 file") << core::MaxConfigSize + 1 << false << false;
        QTest::newRow("1 MiB + 1 stream") << core::MaxConfigSize + 1 << true << false;
        QTest::newRow("endless stream") << qint64(-1) << true << false;
    }
    void sizeLimit() {
        QFETCH(qint64, size);
        QFETCH(bool, sequential);
        QFETCH(bool, loads);
        core::ConfigFile f;
        if (size < 0) {
            FailingDevice in("40001,x,1\n", std::numeric_limits<qint64>::max(), true);
            f = core::ReadConfig(in);
            QCOMPARE(in.delivered(), core::MaxConfigSize + 1);
        } else {
            const QByteArray data = QByteArray("40001,x,1\n").leftJustified(qsizetype(size), '\n');
            if (sequential) {
                FailingDevice in(data, size + 1);
                f = core::ReadConfig(in);
            } else {
                QBuffer in;
                in.setData(data);
                QVERIFY(in.open(QIODevice::ReadOnly));
                f = core::ReadConfig(in);
                if (!loads)
                    QCOMPARE(in.pos(), qint64(0)); // not a byte read
            }
        }
        QCOMPARE(f.ok, loads);
        QVERIFY(!f.readFailed);
        QCOMPARE(f.reason, loads ? QString() : QStringLiteral("file larger than 1 MiB"));
        if (!loads)
            QCOMPARE(core::ConfigRefusal(f, QStringLiteral("big.csv")),
                     QStringLiteral("Nothing loaded from big.csv: file larger than 1 MiB."));
    }

    void refusalTexts_data() {
        QTest::addColumn<QByteArray>("file");
        QTest::addColumn<QString>("text");
        QTest::newRow("bad line") << QByteArray("40001,a,1\n40200,b,2\n")
                                  << "Nothing loaded from f.csv: line 2, \"40200,b,2\": unknown "
                                     "register.";
        QTest::newRow("%1 in the line")
            << QByteArray("40001,%1,x\n")
            << "Nothing loaded from f.csv: line 1, \"40001,%1,x\": not a number.";
        QTest::newRow("no registers")
            << QByteArray("\n") << "Nothing loaded from f.csv: no registers.";
    }
    void refusalTexts() {
        QFETCH(QByteArray, file);
        QFETCH(QString, text);
        QBuffer in(&file);
        QVERIFY(in.open(QIODevice::ReadOnly));
        QCOMPARE(core::ConfigRefusal(core::ReadConfig(in), QStringLiteral("f.csv")), text);
    }
};

QTEST_GUILESS_MAIN(TestConfigRead)
#include "tst_configread.moc"
