// The simulator as several modules, spoken to over plain sockets: each port
// its own module with its own registers, connection and fault; the network
// delay; and the restart that moves a module within 127.0.0.0/8, or with
// no-restart ends it.
#include "SimFrames.h"
#include "SimProcess.h"

#include <QFile>
#include <QTemporaryDir>
#include <QtTest>

using testsupport::Peer;
using testsupport::SimProcess;

using simframes::Counted;
using simframes::Hex;
using simframes::ReadOne;
using simframes::ReadValue;
using simframes::Spaced;

namespace {

QString Address(const QList<int> &ip, int port) {
    return QStringLiteral("%1.%2.%3.%4:%5").arg(ip[0]).arg(ip[1]).arg(ip[2]).arg(ip[3]).arg(port);
}

QString Localhost(quint16 port) {
    return QStringLiteral("127.0.0.1:%1").arg(port);
}

// Function 16 to 40025..40037: address, mask 255.0.0.0, gateway 127.0.0.1, port.
QByteArray NetworkWrite(const QList<int> &ip, int port) {
    QByteArray f = Hex("000100010021 01 10 0018 000D 1A");
    const QList<int> regs = ip + QList<int>{255, 0, 0, 0, 127, 0, 0, 1, port};
    for (const int r : regs)
        f.append(char(r >> 8)).append(char(r));
    return f;
}

const QByteArray Restart = Hex("000200010006 01 06 0026 0055"); // 85 to 40039

} // namespace

class TestSimModules : public QObject {
    Q_OBJECT
private slots:
    void modules_data();
    void modules();
    void faultOfOneModule_data();
    void faultOfOneModule();
    void requestLogNamesTheModule();
    void delay_data();
    void delay();
    void restart_data();
    void restart();
};

void TestSimModules::modules_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("count");
    QTest::addColumn<int>("closed"); // the module (from 1) whose port refuses; 0: none
    QTest::newRow("one") << QStringList{} << 1 << 0;
    QTest::newRow("five") << QStringList{"--modules", "5"} << 5 << 0;
    QTest::newRow("five, the third closed")
        << QStringList{"--modules", "5", "--module-fault", "3:closed"} << 5 << 3;
    QTest::newRow("two, the first closed")
        << QStringList{"--modules", "2", "--module-fault", "1:closed"} << 2 << 1;
    QTest::newRow("one closed") << QStringList{"--mode", "closed"} << 1 << 1;
}

// Consecutive ports, one ready line each; every module keeps its own
// registers, and their connections are open at the same time.
void TestSimModules::modules() {
    QFETCH(QStringList, args);
    QFETCH(int, count);
    QFETCH(int, closed);
    SimProcess sim;
    QVERIFY2(sim.Start(QStringList{"--plain"} + args), qPrintable(sim.Diagnostics()));
    const QList<quint16> ports = sim.Ports();
    QCOMPARE(ports.size(), count);
    QCOMPARE(sim.Port(), ports[0]);
    std::vector<Peer> peers;
    for (int k = 1; k <= count; ++k) {
        QCOMPARE(int(ports[k - 1]), ports[0] + k - 1);
        peers.push_back(testsupport::ConnectTo(ports[k - 1]));
        QCOMPARE(peers.back().Valid(), k != closed);
    }
    for (int k = 1; k <= count; ++k) {
        if (k == closed)
            continue;
        Peer &p = peers[size_t(k - 1)];
        const QByteArray write = Hex("000100010006 01 06 0000 00") + QByteArray(1, char(k));
        QVERIFY(p.Send(Counted(write)));
        QCOMPARE(Spaced(p.Receive(12)), Spaced(write));
    }
    for (int k = 1; k <= count; ++k)
        if (k != closed)
            QCOMPARE(ReadValue(peers[size_t(k - 1)], 0), k);
    QVERIFY(sim.Output().isEmpty());
}

// Module 2 of three runs the fault; modules 1 and 3 are bare register stores.
void TestSimModules::faultOfOneModule_data() {
    QTest::addColumn<QString>("fault");
    QTest::addColumn<QByteArray>("request");
    QTest::addColumn<QByteArray>("answer"); // module 2's; empty: none at all
    QTest::addColumn<QByteArray>("plainAnswer");
    QTest::addColumn<int>("index");
    QTest::addColumn<int>("value"); // module 2's afterwards; -1: not read
    QTest::addColumn<int>("plainValue");
    const QByteArray f6 = Hex("000100010006 01 06 0025 0096"); // 150 to 40038
    const QByteArray f16 = Hex("00010001000B 01 10 0024 0002 04 01F6 0096");
    const QByteArray f16Answer = Hex("000100010006 01 10 0024 0002");
    const QByteArray read = ReadOne(23);
    const QByteArray version = Hex("000100010005 01 03 02 0068");
    // clang-format off
    QTest::newRow("refuse-writes f6") << "refuse-writes" << f6 << Hex("00010001000301 86 02") << f6 << 37 << 0 << 150;
    QTest::newRow("refuse-writes f16") << "refuse-writes" << f16 << Hex("00010001000301 90 02") << f16Answer << 36 << 0 << 502;
    QTest::newRow("refuse-writes reads") << "refuse-writes" << read << version << version << 23 << 104 << 104;
    QTest::newRow("cap-brightness 150") << "cap-brightness" << f6 << f6 << f6 << 37 << 100 << 150;
    QTest::newRow("cap-brightness f16") << "cap-brightness" << f16 << f16Answer << f16Answer << 37 << 100 << 150;
    QTest::newRow("exception") << "exception" << f6 << Hex("00010001000301 86 04") << f6 << 37 << -1 << 150;
    QTest::newRow("silent") << "silent" << read << QByteArray() << version << 23 << -1 << 104;
    QTest::newRow("wrong-tid") << "wrong-tid" << read << Hex("000000010005 01 03 02 0068") << version << 23 << -1 << 104;
    // clang-format on
}

void TestSimModules::faultOfOneModule() {
    QFETCH(QString, fault);
    QFETCH(QByteArray, request);
    QFETCH(QByteArray, answer);
    QFETCH(QByteArray, plainAnswer);
    QFETCH(int, index);
    QFETCH(int, value);
    QFETCH(int, plainValue);
    SimProcess sim;
    QVERIFY2(sim.Start({"--plain", "--modules", "3", "--module-fault", "2:" + fault}),
             qPrintable(sim.Diagnostics()));
    for (int k = 1; k <= 3; ++k) {
        Peer p = testsupport::ConnectTo(sim.Ports()[k - 1]);
        QVERIFY(p.Valid());
        QVERIFY(p.Send(Counted(request)));
        const QByteArray want = k == 2 ? answer : plainAnswer;
        if (want.isEmpty())
            QVERIFY2(!p.Readable(300), "no answer");
        else
            QCOMPARE(Spaced(p.Receive(want.size())), Spaced(want));
        const int kept = k == 2 ? value : plainValue;
        if (kept >= 0)
            QCOMPARE(ReadValue(p, index), kept);
    }
}

// With several modules each request line names the module it came to, so a
// module that was never asked has none.
void TestSimModules::requestLogNamesTheModule() {
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = dir.filePath(QStringLiteral("requests.log"));
    SimProcess sim;
    QVERIFY2(sim.Start({"--modules", "3", "--log", path}), qPrintable(sim.Diagnostics()));
    const QList<quint16> ports = sim.Ports();
    Peer first = testsupport::ConnectTo(ports[0]);
    Peer third = testsupport::ConnectTo(ports[2]);
    QCOMPARE(ReadValue(third, 23), 104);
    QCOMPARE(ReadValue(first, 54), 12);
    QCOMPARE(ReadValue(first, 23), 104);
    QVERIFY(sim.WaitForRequests(3));
    const QString read23 = QStringLiteral("00 00 00 0C 00 01 00 01 00 06 01 03 00 17 00 01");
    const QString read54 = QStringLiteral("00 00 00 0C 00 01 00 01 00 06 01 03 00 36 00 01");
    QCOMPARE(sim.RequestsAt(Localhost(ports[0])), (QStringList{read54, read23}));
    QVERIFY(sim.RequestsAt(Localhost(ports[1])).isEmpty());
    QCOMPARE(sim.RequestsAt(Localhost(ports[2])), QStringList{read23});
    QFile f(path);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString expected = "REQ " + Localhost(ports[2]) + " " + read23 + "\n" + "REQ " +
                             Localhost(ports[0]) + " " + read54 + "\n" + "REQ " +
                             Localhost(ports[0]) + " " + read23 + "\n";
    QCOMPARE(QString::fromLatin1(f.readAll()), expected);
}

void TestSimModules::delay_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("one module") << QStringList{"--delay", "600"};
    QTest::newRow("each of two modules") << QStringList{"--modules", "2", "--delay", "600"};
    QTest::newRow("on top of split") << QStringList{"--delay", "600", "--mode", "split"};
}

// Three requests at once: nothing comes early, all come in order.
void TestSimModules::delay() {
    QFETCH(QStringList, args);
    SimProcess sim;
    QVERIFY2(sim.Start(args), qPrintable(sim.Diagnostics()));
    for (const quint16 port : sim.Ports()) {
        Peer p = testsupport::ConnectTo(port);
        QByteArray burst, want;
        for (char tid = 1; tid <= 3; ++tid) {
            QByteArray req = ReadOne(23), answer = Hex("000000010005 01 03 02 0068");
            req[1] = answer[1] = tid;
            burst += Counted(req);
            want += answer;
        }
        QVERIFY(p.Send(burst));
        QVERIFY2(!p.Readable(200), "answers held back");
        QCOMPARE(Spaced(p.Receive(want.size(), 10000)), Spaced(want));
    }
}

// Module 2 of two gets its network registers and the restart command.
void TestSimModules::restart_data() {
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QList<int>>("ip");
    QTest::addColumn<int>("port");      // -1: its own; -2: a free one; -3: module 1's
    QTest::addColumn<QString>("where"); // "new", "old" or "nowhere" it serves afterwards
    QTest::addColumn<QString>("says");  // {to}: the registers' address, {from}: the old one
    const QString moved = QStringLiteral("tavrin-sim listening on {to} (moved from {from})");
    // clang-format off
    QTest::newRow("to 127.0.0.2, same port") << "normal" << QList<int>{127, 0, 0, 2} << -1 << "new" << moved;
    QTest::newRow("to another port") << "normal" << QList<int>{127, 0, 0, 1} << -2 << "new" << moved;
    QTest::newRow("to 127.1.2.3") << "normal" << QList<int>{127, 1, 2, 3} << -2 << "new" << moved;
    QTest::newRow("to where it is") << "normal" << QList<int>{127, 0, 0, 1} << -1 << "old" << "";
    QTest::newRow("outside 127.0.0.0/8") << "normal" << QList<int>{192, 168, 10, 50} << 502 << "old"
        << "would move to 192.168.10.50:502, outside 127.0.0.0/8; stays on {from}";
    QTest::newRow("to a taken port") << "normal" << QList<int>{127, 0, 0, 1} << -3 << "old" << "cannot move";
    QTest::newRow("element above 255") << "normal" << QList<int>{127, 0, 0, 256} << -1 << "old" << "name no address";
    QTest::newRow("port 0") << "normal" << QList<int>{127, 0, 0, 2} << 0 << "old" << "name no address";
    QTest::newRow("no-restart") << "no-restart" << QList<int>{127, 0, 0, 2} << -1 << "nowhere"
        << "tavrin-sim closed on {from}";
    // clang-format on
}

void TestSimModules::restart() {
    QFETCH(QString, mode);
    QFETCH(QList<int>, ip);
    QFETCH(int, port);
    QFETCH(QString, where);
    QFETCH(QString, says);
    SimProcess sim;
    QVERIFY2(sim.Start({"--plain", "--modules", "2", "--module-fault", "2:" + mode}),
             qPrintable(sim.Diagnostics()));
    const quint16 own = sim.Ports()[1];
    const int to = port == -1   ? own
                   : port == -2 ? testsupport::RefusedPort()
                   : port == -3 ? sim.Ports()[0]
                                : port;
    const QString from = Localhost(own), dest = Address(ip, to);
    says.replace(QLatin1String("{to}"), dest).replace(QLatin1String("{from}"), from);

    Peer p = testsupport::ConnectTo(own);
    const QByteArray write = NetworkWrite(ip, to);
    QVERIFY(p.Send(Counted(write)));
    const QByteArray written = Hex("000100010006 01 10 0018 000D");
    QCOMPARE(Spaced(p.Receive(written.size())), Spaced(written));
    QVERIFY(p.Send(Counted(Restart)));
    QCOMPARE(Spaced(p.Receive(Restart.size())), Spaced(Restart)); // answered first

    const quint32 host =
        quint32(ip[0]) << 24 | quint32(ip[1]) << 16 | quint32(ip[2]) << 8 | quint32(ip[3]);
    if (where == "old") {
        QCOMPARE(ReadValue(p, 27), ip[3]); // the same connection goes on
        if (!says.isEmpty())
            QVERIFY2(sim.WaitForErrorOutput(says), qPrintable(sim.ErrorOutput()));
        QVERIFY(sim.Output().isEmpty());
    } else {
        QByteArray rest;
        QCOMPARE(p.ReadToEnd(rest), Peer::End::Eof);
        QVERIFY(rest.isEmpty());
        QVERIFY2(sim.WaitForOutput(says), qPrintable(sim.Output().join(u'\n')));
        QVERIFY(!testsupport::ConnectTo(own).Valid());
        Peer there = testsupport::ConnectTo(quint16(to), host);
        QCOMPARE(there.Valid(), where == "new");
        if (where == "new") {
            QCOMPARE(ReadValue(there, 36), to); // its registers went along
            QCOMPARE(sim.RequestsAt(dest).size(), 1);
        }
    }
    QCOMPARE(sim.RequestsAt(from).size(), where == "old" ? 3 : 2);
    Peer first = testsupport::ConnectTo(sim.Ports()[0]); // module 1 untouched
    QCOMPARE(ReadValue(first, 27), 0);
}

QTEST_GUILESS_MAIN(TestSimModules)
#include "tst_simmodules.moc"
