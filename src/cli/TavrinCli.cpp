// tavrin-cli: the command-line front end (see Cli.h).
#include "Cli.h"

#include <QCoreApplication>
#include <QTextStream>
#include <cstdio>

int main(int argc, char *argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("tavrin-cli"));
    QCoreApplication::setApplicationVersion(QStringLiteral("1.04"));
    QTextStream out(stdout);
    QTextStream err(stderr);
    const int code = cli::Run(QCoreApplication::arguments(), out, err);
    out.flush();
    err.flush();
    return code;
}
