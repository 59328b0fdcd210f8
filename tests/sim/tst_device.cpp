// The simulated module's counter on a clock the test sets: it counts once a
// second, stops where --stall-after says, and 85 written to 40039 restarts it;
// the faults a single module can have.
#include "Device.h"

#include <QtTest>

using sim::Bytes;
using sim::Device;

namespace {

using namespace std::chrono_literals;
const sim::Clock::time_point T0{};

int Counter(Device &d, sim::Clock::time_point now) {
    std::string warning;
    // 0001 0001 0006 01 03 0001 0001: read 40002
    const Bytes a = d.Answer({0, 1, 0, 1, 0, 6, 1, 3, 0, 1, 0, 1}, now, false, warning);
    return a.size() == 11 && a[7] == 3 ? a[9] << 8 | a[10] : -1;
}

Bytes FromHex(const char *hex) {
    const QByteArray b = QByteArray::fromHex(hex);
    return Bytes(b.begin(), b.end());
}

} // namespace

class TestDevice : public QObject {
    Q_OBJECT
private slots:
    void counts_data() {
        QTest::addColumn<int>("stallAfter");
        QTest::addColumn<int>("at5s");
        QTest::newRow("counts for ever") << -1 << 5;
        QTest::newRow("never counts") << 0 << 0;
        QTest::newRow("stops after 1 s") << 1 << 1;
    }
    void counts() {
        QFETCH(int, stallAfter);
        QFETCH(int, at5s);
        Device d(stallAfter, T0);
        QCOMPARE(Counter(d, T0), 0);
        QCOMPARE(Counter(d, T0 + 999ms), 0);
        QCOMPARE(Counter(d, T0 + 1s), std::min(1, at5s));
        QCOMPARE(Counter(d, T0 + 5s + 300ms), at5s);
    }

    void restartResetsCounter_data() {
        QTest::addColumn<QByteArray>("restart");
        QTest::newRow("f6 85 to 40039") << QByteArray("000900010006 01 06 0026 0055");
        QTest::newRow("f16 85 to 40039") << QByteArray("000900010009 01 10 0026 0001 02 0055");
    }
    void restartResetsCounter() {
        QFETCH(QByteArray, restart);
        Device d(-1, T0);
        QCOMPARE(Counter(d, T0 + 2s + 500ms), 2);
        std::string warning;
        QCOMPARE(d.Answer(FromHex(restart.constData()), T0 + 2s + 500ms, false, warning).size(),
                 size_t(12));
        QCOMPARE(Counter(d, T0 + 2s + 500ms), 0);
        QCOMPARE(d.Restarts(), 1L);
        QCOMPARE(Counter(d, T0 + 3s + 400ms), 0); // a full second from the restart
        QCOMPARE(Counter(d, T0 + 3s + 500ms), 1);
        // Any other value is just stored.
        QCOMPARE(d.Answer(FromHex("000A00010006 01 06 0026 0054"), T0 + 4s, false, warning).size(),
                 size_t(12));
        QCOMPARE(d.Reg(Device::RestartIndex), 0x54);
        QCOMPARE(Counter(d, T0 + 4s + 500ms), 2);
        QCOMPARE(d.Restarts(), 1L);
    }

    // The faults of single modules, on a bare store and on the built-in module.
    void faults_data() {
        QTest::addColumn<bool>("plain");
        QTest::addColumn<QString>("fault");
        QTest::addColumn<QByteArray>("request");
        QTest::addColumn<QByteArray>("answer");
        QTest::addColumn<int>("index");
        QTest::addColumn<int>("value");
        // clang-format off
        QTest::newRow("refuse-writes f6") << true << "refuse-writes" << QByteArray("000100010006 01 06 0025 0005") << QByteArray("00010001000301 86 02") << 37 << 0;
        QTest::newRow("refuse-writes f16") << true << "refuse-writes" << QByteArray("00010001000B 01 10 0000 0002 04 0007 0008") << QByteArray("00010001000301 90 02") << 1 << 0;
        QTest::newRow("refuse-writes restart") << false << "refuse-writes" << QByteArray("000100010006 01 06 0026 0055") << QByteArray("00010001000301 86 02") << 38 << 0;
        QTest::newRow("refuse-writes f3") << true << "refuse-writes" << QByteArray("000100010006 01 03 0017 0001") << QByteArray("000100010005 01 03 02 0068") << 23 << 104;
        QTest::newRow("cap-brightness f6") << true << "cap-brightness" << QByteArray("000100010006 01 06 0025 0096") << QByteArray("000100010006 01 06 0025 0096") << 37 << 100;
        QTest::newRow("cap-brightness f16") << true << "cap-brightness" << QByteArray("00010001000B 01 10 0025 0002 04 0065 0007") << QByteArray("000100010006 01 10 0025 0002") << 37 << 100;
        QTest::newRow("cap-brightness leaves the version") << true << "cap-brightness" << QByteArray("000100010006 01 06 0017 0001") << QByteArray("000100010006 01 06 0017 0001") << 23 << 1;
        QTest::newRow("plain keeps 150") << true << "" << QByteArray("000100010006 01 06 0025 0096") << QByteArray("000100010006 01 06 0025 0096") << 37 << 150;
        // clang-format on
    }
    void faults() {
        QFETCH(bool, plain);
        QFETCH(QString, fault);
        QFETCH(QByteArray, request);
        QFETCH(QByteArray, answer);
        QFETCH(int, index);
        QFETCH(int, value);
        Device d(0, T0);
        if (plain)
            d.MakePlain();
        if (fault == "refuse-writes")
            d.RefuseWrites();
        if (fault == "cap-brightness")
            d.CapBrightness();
        std::string warning;
        const Bytes a = d.Answer(FromHex(request.constData()), T0, false, warning);
        QCOMPARE(QByteArray(reinterpret_cast<const char *>(a.data()), qsizetype(a.size())),
                 QByteArray::fromHex(answer));
        QCOMPARE(int(d.Reg(index)), value);
        QCOMPARE(d.Restarts(), 0L);
    }
};

QTEST_GUILESS_MAIN(TestDevice)
#include "tst_device.moc"
