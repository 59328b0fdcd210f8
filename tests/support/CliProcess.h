#pragma once
// tavrin-cli run as a script runs it: its exit code, standard output and
// standard error. Needs TAVRIN_CLI_PATH (tests/cli/CMakeLists.txt).
#include <QProcess>
#include <QString>
#include <QStringList>

#ifndef TAVRIN_CLI_PATH
#error "TAVRIN_CLI_PATH must name tavrin-cli"
#endif

namespace testsupport {

struct CliRun {
    int code = -1; // -1: it crashed or did not end in time
    QString out;
    QString err;
};

inline CliRun RunCli(const QStringList &args, int timeoutMs = 20000) {
    QProcess p;
    p.setProgram(QString::fromUtf8(TAVRIN_CLI_PATH));
    p.setArguments(args);
    p.setStandardInputFile(QProcess::nullDevice());
    p.start();
    CliRun r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    } else if (p.exitStatus() == QProcess::NormalExit) {
        r.code = p.exitCode();
    }
    // Windows writes a text stream's line ends as CR LF.
    r.out = QString::fromUtf8(p.readAllStandardOutput())
                .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    r.err = QString::fromUtf8(p.readAllStandardError())
                .replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return r;
}

} // namespace testsupport
