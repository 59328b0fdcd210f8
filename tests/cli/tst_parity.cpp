// The window and tavrin-cli are two front ends over one engine: the same
// commands put the same bytes on the wire and the same lines in the traffic
// log.
#include "FormFixture.h"
#include "SimProcess.h"

#include <QProcess>
#include <QtTest>

namespace {

// The traffic lines of a tavrin-cli run, without their time and round trip.
QStringList CliTraffic(const QStringList &args, quint16 port) {
    QProcess p;
    p.setProgram(QString::fromUtf8(TAVRIN_CLI_PATH));
    p.setArguments(args +
                   QStringList{"--log", "--host", "127.0.0.1", "--port", QString::number(port)});
    p.start();
    if (!p.waitForFinished(20000) || p.exitCode() != 0)
        return {QStringLiteral("tavrin-cli failed: ") +
                QString::fromUtf8(p.readAllStandardError())};
    static const QRegularExpression head(QStringLiteral("^\\S+ \\S+ (\\(\\d+\\.\\d+ ms\\) )?"));
    QStringList lines;
    for (QString l : QString::fromUtf8(p.readAllStandardError()).split(u'\n', Qt::SkipEmptyParts))
        lines << l.remove(head);
    return lines;
}

} // namespace

class TestParity : public QObject {
    Q_OBJECT
    FormFixture f;

private slots:
    void cleanup() { f.Close(); }

    void sameBytesSameLines() {
        testsupport::SimProcess forWindow, forCli;
        QVERIFY2(forWindow.Start({"--plain"}), qPrintable(forWindow.Diagnostics()));
        QVERIFY2(forCli.Start({"--plain"}), qPrintable(forCli.Diagnostics()));

        f.Open();
        QVERIFY(f.Connect(forWindow.Port()));
        const qsizetype from = f.Lines().size();
        f.form->edRRStart->SetValue(40040);
        f.form->edRRNums->SetValue(2);
        f.form->btnSendRRClick(nullptr);
        Regs[39] = 0x1234;
        Regs[40] = 7;
        f.form->btnWriteRangeRegsClick(nullptr);
        f.form->edText->setText(QStringLiteral("Zażółć"));
        f.form->btnSendClick(nullptr);
        f.form->btnRestartSendClick(nullptr);
        QStringList windowLines = f.Lines().mid(from);
        windowLines.removeAll(QString());

        // The window's transaction IDs, run by run.
        QStringList cliLines;
        cliLines << CliTraffic({"read", "40040..40041", "--tid", "1"}, forCli.Port());
        cliLines << CliTraffic({"write", "40040=0x1234", "40041=7", "--tid", "2"}, forCli.Port());
        cliLines << CliTraffic({"text", QStringLiteral("Zażółć"), "--tid", "3"}, forCli.Port());
        cliLines << CliTraffic({"restart", "--tid", "4"}, forCli.Port());

        QCOMPARE(cliLines, windowLines);
        QVERIFY(forWindow.WaitForRequests(4));
        QVERIFY(forCli.WaitForRequests(4));
        QCOMPARE(forCli.Requests(), forWindow.Requests());
    }
};

QTEST_MAIN(TestParity)
#include "tst_parity.moc"
