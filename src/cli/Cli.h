#pragma once
// tavrin-cli: the exchange engine for scripts and production lines. Data on
// standard output, diagnostics (and with --log the traffic lines) on
// standard error, and an exit code that fails on any failure.
#include <QStringList>

class QTextStream;

namespace cli {

enum Exit : int {
    Done = 0,
    Differs = 1,   // the device differs, or a verify failed
    Usage = 2,     // a usage error or a bad file: nothing was sent
    NoAnswer = 3,  // no connection, or no whole answer
    Exception = 4, // the device answered with an exception
    Interrupted = 130,
};

// Runs one command line (arguments[0] is the program). out and err stand
// for standard output and standard error.
int Run(const QStringList &arguments, QTextStream &out, QTextStream &err);

} // namespace cli
