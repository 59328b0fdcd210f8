// tavrin-cli as a script runs it: the real executable against the simulator,
// its standard output, standard error and exit code. A usage error or a bad
// file must send nothing: the simulator's request log stays empty.
#include "CliProcess.h"
#include "SimProcess.h"

#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

namespace {

using Run = testsupport::CliRun;

Run Cli(const QStringList &args, int timeoutMs = 20000) {
    return testsupport::RunCli(args, timeoutMs);
}

QStringList At(quint16 port) {
    return {QStringLiteral("--host"), QStringLiteral("127.0.0.1"), QStringLiteral("--port"),
            QString::number(port)};
}

bool WriteFile(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

} // namespace

class TestCli : public QObject {
    Q_OBJECT
    testsupport::SimProcess sim;
    QTemporaryDir dir;

    QString File(const QString &name) const { return dir.filePath(name); }

private slots:
    void init() { QVERIFY2(sim.Start(), qPrintable(sim.Diagnostics())); }
    void cleanup() { sim.Stop(); }

    // Each is refused before anything is sent; the message names the fault.
    void usageErrorsSendNothing_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("says");
        QTest::newRow("no command") << QStringList{} << "no command given";
        QTest::newRow("unknown command") << QStringList{"flash"} << "unknown command flash";
        QTest::newRow("unknown option") << QStringList{"read", "--speed", "9"} << "speed";
        QTest::newRow("register below") << QStringList{"read", "40000"} << "40000 is outside";
        QTest::newRow("register above") << QStringList{"read", "40156"} << "40156 is outside";
        QTest::newRow("range backwards") << QStringList{"read", "40010..40005"} << "ends before";
        QTest::newRow("value above") << QStringList{"write", "40038=65536"} << "65536 is outside";
        QTest::newRow("value not a number") << QStringList{"write", "40038=x"} << "x is outside";
        QTest::newRow("no value") << QStringList{"write", "40038"} << "is not REG=VALUE";
        QTest::newRow("register twice")
            << QStringList{"write", "40038=1", "40038=2"} << "given twice";
        QTest::newRow("empty text") << QStringList{"text", ""} << "can't be empty";
        QTest::newRow("text of 100") << QStringList{"text", QString(100, u'x')} << "99 at most";
        QTest::newRow("port 0") << QStringList{"read", "--port", "0"} << "--port needs";
        QTest::newRow("node 256") << QStringList{"read", "--node", "256"} << "--node needs";
        QTest::newRow("format xml") << QStringList{"read", "--format", "xml"} << "--format";
        QTest::newRow("no such file") << QStringList{"load", "missing.csv"} << "Unable to read";
        QTest::newRow("bad line") << QStringList{"load", "bad.csv"} << "line 2";
        QTest::newRow("commands only") << QStringList{"load", "commands.csv"} << "no register";
        QTest::newRow("compare bad file") << QStringList{"compare", "bad.csv"} << "line 2";
        QTest::newRow("save into no folder")
            << QStringList{"save", "no/such/dir/x.csv"} << "cannot write";
    }
    void usageErrorsSendNothing() {
        QFETCH(QStringList, args);
        QFETCH(QString, says);
        QVERIFY(WriteFile(File("bad.csv"), "Register,Name,Value\r\n40038,Jasno,seventy\r\n"));
        QVERIFY(WriteFile(File("commands.csv"), "40001,x,1\r\n40039,x,85\r\n"));
        for (QString &a : args)
            if (a.endsWith(u".csv"))
                a = File(a);
        // The row's own options come last and win.
        const Run r = Cli(At(sim.Port()) + args);
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(says), qPrintable(r.err));
        QVERIFY(r.out.isEmpty());
        QThread::msleep(50);
        QVERIFY2(sim.Requests().isEmpty(), qPrintable(sim.Requests().join(u'\n')));
    }

    void noHostIsAUsageError() {
        const Run r = Cli({"read"});
        QCOMPARE(r.code, 2);
        QVERIFY(r.err.contains(QStringLiteral("--host")));
        QVERIFY(WriteFile(File("noip.ini"), "[Modbus]\r\nseNodeID=1\r\n"));
        QCOMPARE(Cli({"read", "--ini", File("noip.ini")}).code, 2);
    }

    // Every command's request on the wire, its output and exit code 0.
    void commands_data() {
        QTest::addColumn<QStringList>("args");
        QTest::addColumn<QString>("request");
        QTest::addColumn<QString>("out");
        QTest::newRow("read one") << QStringList{"read", "40024"}
                                  << "00 00 00 0C 00 01 00 01 00 06 01 03 00 17 00 01"
                                  << "40024   104  Wersja\n";
        QTest::newRow("read csv") << QStringList{"read", "40024..40025", "--format", "csv"}
                                  << "00 00 00 0C 00 01 00 01 00 06 01 03 00 17 00 02"
                                  << "Register,Name,Value\n40024,Wersja,104\n40025,IP[0],192\n";
        QTest::newRow("read json, node 5, tid 9")
            << QStringList{"read", "40024", "--format", "json", "--node", "5", "--tid", "9"}
            << "00 00 00 0C 00 09 00 01 00 06 05 03 00 17 00 01"
            << "{\"registers\":[{\"name\":\"Wersja\",\"register\":40024,\"value\":104}]}\n";
        QTest::newRow("write one: function 6") << QStringList{"write", "40040=0x0102"}
                                               << "00 00 00 0C 00 01 00 01 00 06 01 06 00 27 01 02"
                                               << "Wrote 1 of 1 register in 1 request.\n";
        QTest::newRow("write a run: function 16")
            << QStringList{"write", "40041=8", "40040=7"}
            << "00 00 00 11 00 01 00 01 00 0B 01 10 00 27 00 02 04 00 07 00 08"
            << "Wrote 2 of 2 registers in 1 request.\n";
        QTest::newRow("text")
            << QStringList{"text", "Hi"}
            << "00 00 00 13 00 01 00 01 00 0D 01 10 00 37 00 03 06 00 48 00 69 00 00"
            << "Text sent: 2 characters.\n";
        QTest::newRow("restart") << QStringList{"restart"}
                                 << "00 00 00 0C 00 01 00 01 00 06 01 06 00 26 00 55"
                                 << "Restart sent.\n";
    }
    void commands() {
        QFETCH(QStringList, args);
        QFETCH(QString, request);
        QFETCH(QString, out);
        const Run r = Cli(args + At(sim.Port()));
        QCOMPARE(r.code, 0);
        QCOMPARE(r.out, out);
        QVERIFY(sim.WaitForRequests(1));
        QCOMPARE(sim.Requests().value(0), request);
    }

    // save, compare and load round the window's CSV; a device that keeps
    // another word fails the verify (1), a refused write is an exception (4).
    void saveCompareLoad() {
        const QString saved = File("saved.csv");
        Run r = Cli(QStringList{"save", saved} + At(sim.Port()));
        QCOMPARE(r.code, 0);
        QFile f(saved);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QByteArray csv = f.readAll();
        QVERIFY(csv.startsWith("Register,Name,Value\r\n40001,"));
        QCOMPARE(csv.count("\r\n"), 156);
        QCOMPARE(Cli(QStringList{"compare", saved} + At(sim.Port())).code, 0);

        // Brightness 120: the device keeps 100.
        csv.replace("40038,Jasno\xc5\x9b\xc4\x87,80", "40038,Jasno\xc5\x9b\xc4\x87,120");
        QVERIFY(WriteFile(File("bright.csv"), csv));
        r = Cli(QStringList{"compare", File("bright.csv")} + At(sim.Port()));
        QCOMPARE(r.code, 1);
        QVERIFY2(r.out.contains(QStringLiteral("40038 Jasno\u015b\u0107: file 120, device 80")),
                 qPrintable(r.out));
        r = Cli(QStringList{"load", File("bright.csv")} + At(sim.Port()));
        QCOMPARE(r.code, 1);
        QVERIFY2(r.out.contains(QStringLiteral("40038: written 120, device holds 100")),
                 qPrintable(r.out));
        QVERIFY2(r.err.contains(QStringLiteral("40039 (Restart): a command")), qPrintable(r.err));

        // The version is read-only on the module.
        QVERIFY(WriteFile(File("version.csv"), "40024,Wersja,105\r\n"));
        r = Cli(QStringList{"load", File("version.csv")} + At(sim.Port()));
        QCOMPARE(r.code, 4);
        QVERIFY2(r.err.contains(QStringLiteral("Exception answer 02 (illegal data address)")),
                 qPrintable(r.err));
    }

    void noConnectionOrAnswer() {
        Run r = Cli(QStringList{"read"} + At(testsupport::RefusedPort()));
        QCOMPARE(r.code, 3);
        QVERIFY2(r.err.contains(QStringLiteral("no connection to 127.0.0.1:")), qPrintable(r.err));
        sim.Stop();
        QVERIFY(sim.Start({"--mode", "silent"}));
        r = Cli(QStringList{"read", "40024"} + At(sim.Port()));
        QCOMPARE(r.code, 3);
        QVERIFY(r.err.contains(QStringLiteral("no answer from the device")));
        QVERIFY(r.out.isEmpty());
    }

    void exceptionAnswer() {
        sim.Stop();
        QVERIFY(sim.Start({"--mode", "exception"}));
        const Run r = Cli(QStringList{"read", "40024"} + At(sim.Port()));
        QCOMPARE(r.code, 4);
        QVERIFY(r.err.contains(QStringLiteral("Exception answer 04 (device failure)")));
    }

    // --log: the window's traffic lines, each after a local time.
    void logOnStandardError() {
        const Run r = Cli(QStringList{"read", "40024", "--log", "--tid", "7"} + At(sim.Port()));
        QCOMPARE(r.code, 0);
        const QStringList lines = r.err.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 2);
        static const QRegularExpression stamp(
            QStringLiteral("^\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d\\.\\d{3} "));
        QVERIFY(stamp.match(lines[0]).hasMatch());
        QVERIFY(lines[0].endsWith(QStringLiteral("Send: 00 07 00 01 00 06 01 03 00 17 00 01 ")));
        QVERIFY(
            lines[1].contains(QStringLiteral("ms) Receive: 00 07 00 01 00 05 01 03 02 00 68 ")));
    }

    // The counter read every interval; the trigger after three equal
    // readings (the simulator's counter stalls at once).
    void watchTriggers() {
        sim.Stop();
        QVERIFY(sim.Start({"--stall-after", "0"}));
        const Run r =
            Cli(QStringList{"watch", "--seconds", "1", "--interval", "200", "--format", "csv"} +
                At(sim.Port()));
        QCOMPARE(r.code, 0);
        const QStringList lines = r.out.split(u'\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.value(0), QStringLiteral("Time,Counter,Answered,Unchanged,Trigger"));
        QCOMPARE(lines.size(), 1 + 6);
        QVERIFY2(lines.filter(QStringLiteral(",written")).size() == 1, qPrintable(r.out));
        static const QRegularExpression trigger(
            QStringLiteral("^00 00 00 0C .. .. 00 01 00 06 01 06 00 00 00 01$"));
        QCOMPARE(sim.Requests().filter(trigger).size(), 1);
    }

    // network: checked, written, read back; with --restart followed from
    // 127.0.0.1:P to 127.0.0.2:Q, or told where the module still answers.
    void networkFollow_data() {
        QTest::addColumn<QString>("mode");
        QTest::addColumn<bool>("blockNew"); // the new port taken on 127.0.0.2
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("says");
        QTest::newRow("moves") << "normal" << false << 0 << "The module answers at 127.0.0.2:";
        QTest::newRow("cannot take the new port")
            << "normal" << true << 3 << "still answers at 127.0.0.1:";
        QTest::newRow("never comes back") << "no-restart" << false << 3 << "answers neither";
    }
    void networkFollow() {
        QFETCH(QString, mode);
        QFETCH(bool, blockNew);
        QFETCH(int, code);
        QFETCH(QString, says);
        sim.Stop();
        QVERIFY(sim.Start({"--mode", mode}));
        const quint16 port = testsupport::RefusedPort();
        // Bound and not listening: the module cannot move there, and a
        // connect there is refused.
        testsupport::sock::Fd blocker = -1;
        if (blockNew) {
            blocker = testsupport::sock::Open();
            sockaddr_in a = testsupport::sock::Loopback(port);
            a.sin_addr.s_addr = htonl(0x7F000002);
            QVERIFY(::bind(testsupport::sock::Native(blocker), reinterpret_cast<sockaddr *>(&a),
                           sizeof a) == 0);
        }
        const Run r = Cli(QStringList{"network", "--set-ip", "127.0.0.2", "--set-mask", "255.0.0.0",
                                      "--set-gateway", "0.0.0.0", "--set-port",
                                      QString::number(port), "--restart"} +
                              At(sim.Port()),
                          40000);
        if (blocker >= 0)
            testsupport::sock::Close(blocker);
        QCOMPARE(r.code, code);
        QVERIFY2(r.out.contains(says), qPrintable(r.out + r.err));
        QVERIFY(r.out.startsWith(QStringLiteral("Written and read back: IP 127.0.0.2, mask "
                                                "255.0.0.0 (/8), gateway 0.0.0.0 (none)")));
        QVERIFY(r.err.contains(QStringLiteral("loopback")));
        // The thirteen words in one function-16 request, then their read-back.
        const QStringList requests = sim.Requests();
        QVERIFY(requests.value(0).contains(QStringLiteral(" 01 10 00 18 00 0D 1A 00 7F ")));
        QVERIFY(requests.value(1).endsWith(QStringLiteral(" 01 03 00 18 00 0D")));
        QVERIFY(requests.value(2).endsWith(QStringLiteral(" 01 06 00 26 00 55")));
    }
};

QTEST_GUILESS_MAIN(TestCli)
#include "tst_cli.moc"
