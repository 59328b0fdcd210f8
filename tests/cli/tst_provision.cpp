// tavrin-cli provision over a simulator of five modules: each module's
// result, its records and the report; a dry run writes nothing; a refused
// configuration or device list sends nothing at all.
#include "CliProcess.h"
#include "SimProcess.h"

#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#ifndef _WIN32
#include <csignal>
#include <sys/types.h>
#endif

namespace {

using Run = testsupport::CliRun;

Run Cli(const QStringList &args) {
    return testsupport::RunCli(args, 60000);
}

QByteArray Read(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

bool Write(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

// Writes: function 6 or 16 requests among a module's request lines.
int Writes(const QStringList &requests) {
    static const QRegularExpression write(QStringLiteral("^(\\S\\S ){11}(06|10) "));
    return int(requests.filter(write).size());
}

} // namespace

class TestProvision : public QObject {
    Q_OBJECT
    testsupport::SimProcess sim;
    QTemporaryDir dir;

    QString File(const QString &name) const { return dir.filePath(name); }
    QString At(int module) const {
        return QStringLiteral("127.0.0.1:%1").arg(sim.Ports().value(module));
    }
    // The five modules, each with its own port word (40037).
    QByteArray DeviceList() const {
        QByteArray list = "name,host,port,40037\r\n";
        const char *names[] = {"closed", "refusing", "capped", "late", "plain"};
        for (int k = 0; k < 5; ++k)
            list += QByteArray(names[k]) + ",127.0.0.1," + QByteArray::number(sim.Ports()[k]) +
                    "," + QByteArray::number(1600 + k) + "\r\n";
        return list;
    }

private slots:
    void init() {
        QVERIFY2(sim.Start({"--plain", "--modules", "5", "--module-fault", "1:closed",
                            "--module-fault", "2:refuse-writes", "--module-fault",
                            "3:cap-brightness", "--module-fault", "4:slow=400"}),
                 qPrintable(sim.Diagnostics()));
        QCOMPARE(sim.Ports().size(), 5);
        QVERIFY(Write(File("list.csv"), DeviceList()));
        QVERIFY(Write(File("config.csv"), "Register,Name,Value\r\n40038,Jasno,120\r\n"
                                          "40040,pusty,5\r\n40039,Restart,85\r\n"));
    }
    void cleanup() { sim.Stop(); }

    void fiveModules() {
        const QString records = File("records");
        const Run r = Cli({"provision", "--devices", File("list.csv"), "--config",
                           File("config.csv"), "--records", records, "--jobs", "5"});
        QCOMPARE(r.code, 1);
        QStringList report = QString::fromUtf8(Read(records + "/report.csv")).split("\r\n");
        report.removeAll(QString());
        QCOMPARE(report.value(0),
                 QStringLiteral("Name,Host,Port,Result,Written,Differing,Seconds"));
        const auto row = [&](int k) { return report.value(1 + k).section(u',', 0, 5); };
        const QString host = QStringLiteral("127.0.0.1,");
        const auto port = [&](int k) { return QString::number(sim.Ports()[k]) + u','; };
        QCOMPARE(row(0), "closed," + host + port(0) + "unreachable,0,0");
        QCOMPARE(row(1), "refusing," + host + port(1) + "exception 02,0,0");
        // 120 stored as 100: the verify finds it; 40037, 40038, 40040 written.
        QCOMPARE(row(2), "capped," + host + port(2) + "differs,3,1");
        QCOMPARE(row(3), "late," + host + port(3) + "ok,3,0");
        QCOMPARE(row(4), "plain," + host + port(4) + "ok,3,0");

        // The records of the capped module.
        const QString capped = records + "/capped/";
        QVERIFY(Read(capped + "before.csv").contains("\r\n40038,Jasno\xc5\x9b\xc4\x87,0\r\n"));
        QVERIFY(Read(capped + "after.csv").contains("\r\n40038,Jasno\xc5\x9b\xc4\x87,100\r\n"));
        QVERIFY(Read(capped + "after.csv").contains("\r\n40037,Port,1602\r\n"));
        const QByteArray traffic = Read(capped + "traffic.log");
        QVERIFY(traffic.contains(" Send: 00 01 00 01 00 06 01 03 00 00 00 9B \r\n"));
        const QJsonObject result = QJsonDocument::fromJson(Read(capped + "result.json")).object();
        QCOMPARE(result.value("result").toString(), QStringLiteral("differs"));
        QCOMPARE(result.value("written").toInt(), 3);
        QCOMPARE(result.value("differing").toVariant().toList(), QVariantList{40038});
        QVERIFY(result.contains("start") && result.contains("end"));
        QVERIFY(QFile::exists(records + "/closed/result.json"));
        // The restart in the configuration is a command: never written.
        QVERIFY2(r.err.contains(QStringLiteral("40039 (Restart): a command")), qPrintable(r.err));
        for (int k = 0; k < 5; ++k)
            for (const QString &req : sim.RequestsAt(At(k)))
                QVERIFY2(!req.contains(QStringLiteral(" 06 00 26 00 55")), qPrintable(req));
    }

    void dryRunWritesNothing() {
        const Run r = Cli({"provision", "--dry-run", "--devices", File("list.csv"), "--config",
                           File("config.csv"), "--records", File("dry")});
        QCOMPARE(r.code, 1);
        const QString report = QString::fromUtf8(Read(File("dry/report.csv")));
        QVERIFY2(report.contains(QStringLiteral(",differs,0,3,")), qPrintable(report));
        for (int k = 0; k < 5; ++k)
            QCOMPARE(Writes(sim.RequestsAt(At(k))), 0);
        QVERIFY(!sim.RequestsAt(At(4)).isEmpty());
    }

    // One address for every module, or a bad device list: exit 2, nothing
    // sent to any module.
    void refusedBeforeAnything_data() {
        QTest::addColumn<QByteArray>("config");
        QTest::addColumn<QByteArray>("list");
        QTest::addColumn<QString>("says");
        QTest::newRow("one IP for all")
            << QByteArray("40025,a,127\r\n40026,b,0\r\n40027,c,0\r\n40028,d,9\r\n") << QByteArray()
            << "would both take it";
        QTest::newRow("last element only")
            << QByteArray("40028,d,9\r\n") << QByteArray() << "would both take it";
        QTest::newRow("restart column")
            << QByteArray("40038,x,50\r\n")
            << QByteArray("name,host,port,40039\r\na,127.0.0.1,1,85\r\n") << "is a command";
        QTest::newRow("name twice")
            << QByteArray("40038,x,50\r\n")
            << QByteArray("name,host,port\r\na,127.0.0.1,1\r\na,127.0.0.1,2\r\n") << "twice";
        QTest::newRow("no port column")
            << QByteArray("40038,x,50\r\n") << QByteArray("name,host\r\na,127.0.0.1\r\n")
            << "name, host and port";
    }
    void refusedBeforeAnything() {
        QFETCH(QByteArray, config);
        QFETCH(QByteArray, list);
        QFETCH(QString, says);
        QVERIFY(Write(File("bad-config.csv"), config));
        QVERIFY(Write(File("bad-list.csv"), list.isEmpty() ? DeviceList() : list));
        const Run r = Cli({"provision", "--devices", File("bad-list.csv"), "--config",
                           File("bad-config.csv"), "--records", File("refused")});
        QCOMPARE(r.code, 2);
        QVERIFY2(r.err.contains(says), qPrintable(r.err));
        QThread::msleep(50);
        for (int k = 0; k < 5; ++k)
            QVERIFY(sim.RequestsAt(At(k)).isEmpty());
        QVERIFY(!QFile::exists(File("refused/report.csv")));
    }

#ifndef _WIN32
    // Ctrl+C: no new module starts, the one under way ends, and the records
    // and the report of what was done are still written (exit 130).
    void interruptKeepsWhatWasDone() {
        sim.Stop();
        QVERIFY2(sim.Start({"--plain", "--modules", "5", "--delay", "300"}),
                 qPrintable(sim.Diagnostics()));
        QVERIFY(Write(File("list.csv"), DeviceList()));
        QProcess p;
        p.setProgram(QString::fromUtf8(TAVRIN_CLI_PATH));
        p.setArguments({"provision", "--jobs", "1", "--devices", File("list.csv"), "--config",
                        File("config.csv"), "--records", File("stopped")});
        p.start();
        QVERIFY(p.waitForStarted());
        // The first module's line on standard error, then Ctrl+C.
        QDeadlineTimer deadline(20000);
        QByteArray err;
        while (!err.contains('\n') && !deadline.hasExpired()) {
            p.waitForReadyRead(100);
            err += p.readAllStandardError();
        }
        QVERIFY2(err.contains("closed "), err.constData());
        ::kill(pid_t(p.processId()), SIGINT);
        QVERIFY(p.waitForFinished(20000));
        QCOMPARE(p.exitCode(), 130);
        QStringList report = QString::fromUtf8(Read(File("stopped/report.csv"))).split("\r\n");
        report.removeAll(QString());
        QVERIFY2(report.size() >= 2 && report.size() < 6, qPrintable(report.join(u'|')));
        for (const QString &row : report.mid(1))
            QVERIFY(QFile::exists(File("stopped/") + row.section(u',', 0, 0) + "/result.json"));
    }
#endif
};

QTEST_GUILESS_MAIN(TestProvision)
#include "tst_provision.moc"
