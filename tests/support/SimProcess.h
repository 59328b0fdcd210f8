#pragma once
// Test helpers around the device simulator (tavrin-sim). Header-only.
//
//   #include "SimProcess.h"              // needs TAVRIN_SIM_PATH, see below
//
//   testsupport::SimProcess sim;
//   QVERIFY2(sim.Start({"--mode", "split"}), qPrintable(sim.Diagnostics()));
//   quint16 port = sim.Port();          // the port it listens on (127.0.0.1)
//   ...                                 // talk to it
//   QStringList reqs = sim.Requests();  // request lines so far, e.g.
//                                       // "00 00 00 0C 00 01 00 01 00 06 01 03 00 00 00 FF"
//   QVERIFY(sim.WaitForRequests(2));    // bounded wait for a second line
//   int code = sim.Stop();              // SIGTERM by its PID, bounded wait, then kill
//
//   quint16 refused = testsupport::RefusedPort(); // bound on 127.0.0.1, then closed
//                                                 // (from LoopbackPeer.h, included here)
//
//   QVERIFY(sim.Start({"--modules", "3", "--module-fault", "2:closed"}));
//   sim.Ports();                        // module 1, 2, 3: consecutive ports
//   sim.RequestsAt("127.0.0.1:" + QString::number(sim.Ports()[2]));
//   QVERIFY(sim.WaitForOutput("listening on 127.0.0.2:")); // a module moved
//
// SimProcess
//   bool Start(const QStringList &extraArgs = {}, int timeoutMs = 5000)
//       Runs the simulator with "--port 0" followed by extraArgs and waits,
//       at most timeoutMs, for its ready lines, one per module ("--modules N"
//       in extraArgs, else one): "tavrin-sim listening on 127.0.0.1:<port>"
//       or, for a module whose port refuses connections, "tavrin-sim closed
//       on 127.0.0.1:<port>". False if they did not come (the process is
//       stopped then). A started simulator must be stopped before Start is
//       called again.
//   quint16 Port() const          module 1's port; 0 before a successful Start
//   QList<quint16> Ports() const  every module's port, module 1 first
//   qint64 Pid() const            the simulator's process id; 0 when not running
//   bool Running() const
//   QStringList Requests()        every "REQ " line printed so far, without the
//                                 "REQ " prefix (hex: two upper-case digits per
//                                 byte, one space between bytes; the 4 count
//                                 bytes first). Collects output without waiting.
//                                 The simulator's stdout and stderr go to files
//                                 in a temporary folder, so it never stalls on
//                                 output that nobody reads.
//                                 With several modules each line starts with
//                                 the module's address, "127.0.0.1:<port> ".
//   QStringList RequestsAt(const QString &address)
//                                 the request lines of the module at address
//                                 ("127.0.0.1:<port>"), without the address
//   bool WaitForRequests(int n, int timeoutMs = 3000)
//                                 true once at least n request lines are there
//   QStringList Output()          stdout lines after the ready lines other than
//                                 requests (a module moved or closed)
//   bool WaitForOutput(const QString &text, int timeoutMs = 3000)
//                                 true once such a line contains text
//   QString ErrorOutput()         what it wrote to stderr so far
//   bool WaitForErrorOutput(const QString &text, int timeoutMs = 3000)
//                                 true once stderr contains text
//   QString Diagnostics()         program, arguments, exit state and stderr
//   int Stop(int timeoutMs = 3000)
//       Ends it by its own PID: SIGTERM, a bounded wait, then SIGKILL. Returns
//       its exit code after a normal exit, -1 after a crash or a kill, and -2
//       when it was not running. The destructor stops it too. On Windows
//       a running simulator is ended at once and that counts as exit 0; the
//       end is awaited in the event loop (WaitForEnd), which runs meanwhile.
//
// bool WaitForEnd(QProcess &p, int timeoutMs)
//       How a test waits for any QProcess to end on every platform (see there).
//
// CMake: include(${PROJECT_SOURCE_DIR}/tests/support/SimProcess.cmake) and call
// tavrin_use_sim(<test target>); it adds the compile definition
// TAVRIN_SIM_PATH="$<TARGET_FILE:tavrin-sim>", this folder to the include path
// and the build dependency on tavrin-sim.
#include <QByteArray>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QFile>
#include <QProcess>
#include <QRegularExpression>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <memory>

#include "LoopbackPeer.h" // RefusedPort()

#ifndef TAVRIN_SIM_PATH
#error "TAVRIN_SIM_PATH must name the tavrin-sim executable (use tavrin_use_sim in CMake)"
#endif

namespace testsupport {

inline constexpr const char *SimPath = TAVRIN_SIM_PATH;

// Waits, at most timeoutMs, until the process has ended; true then.
// On Windows QProcess learns of the end through a thread-pool wait on the
// process handle, whose callback posts an event to it. waitForFinished()
// returns as that handle is signalled and frees the wait's context at once;
// wine's thread pool can still start the callback for a wait disarmed in
// that moment, which then runs on freed memory (an access violation in a
// pool worker, now and then). Taking the end from the event loop means the
// callback has run before anything is freed.
inline bool WaitForEnd(QProcess &p, int timeoutMs) {
#ifdef Q_OS_WIN
    if (p.state() == QProcess::NotRunning)
        return true;
    QEventLoop loop;
    QTimer deadline;
    deadline.setSingleShot(true);
    QObject::connect(&p, &QProcess::finished, &loop, &QEventLoop::quit);
    QObject::connect(&deadline, &QTimer::timeout, &loop, &QEventLoop::quit);
    deadline.start(timeoutMs);
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    return p.state() == QProcess::NotRunning;
#else
    return p.waitForFinished(timeoutMs);
#endif
}

class SimProcess {
public:
    SimProcess() = default;
    ~SimProcess() { Stop(); }
    SimProcess(const SimProcess &) = delete;
    SimProcess &operator=(const SimProcess &) = delete;

    bool Start(const QStringList &extraArgs = {}, int timeoutMs = 5000) {
        if (Running())
            return false;
        m_ports.clear();
        m_outRead = m_errRead = 0;
        m_pending.clear();
        m_requests.clear();
        m_output.clear();
        m_stderr.clear();
        m_files = std::make_unique<QTemporaryDir>();
        if (!m_files->isValid())
            return false;
        // Output goes to files, not pipes: a test that reads nothing for a
        // while can never stall the simulator on a full pipe.
        m_outPath = m_files->filePath(QStringLiteral("stdout"));
        m_errPath = m_files->filePath(QStringLiteral("stderr"));
        m_args = QStringList{QStringLiteral("--port"), QStringLiteral("0")} + extraArgs;
        m_proc.setProgram(QString::fromUtf8(SimPath));
        m_proc.setArguments(m_args);
        m_proc.setStandardInputFile(QProcess::nullDevice());
        m_proc.setStandardOutputFile(m_outPath, QIODevice::Truncate);
        m_proc.setStandardErrorFile(m_errPath, QIODevice::Truncate);
        m_proc.start();
        if (!m_proc.waitForStarted(timeoutMs))
            return false;

        const qsizetype modulesAt = extraArgs.indexOf(QStringLiteral("--modules"));
        const int modules = modulesAt >= 0 ? extraArgs.value(modulesAt + 1).toInt() : 1;
        static const QRegularExpression ready(
            QStringLiteral("^tavrin-sim (?:listening|closed) on 127\\.0\\.0\\.1:(\\d+)$"));
        QDeadlineTimer deadline(timeoutMs);
        bool failed = modules < 1;
        while (!failed && m_ports.size() < modules) {
            m_pending += ReadNew(m_outPath, m_outRead);
            const qsizetype nl = m_pending.indexOf('\n');
            if (nl >= 0) {
                const QString line = QString::fromUtf8(m_pending.left(nl)).trimmed();
                m_pending.remove(0, nl + 1);
                const auto match = ready.match(line);
                failed = !match.hasMatch(); // the ready lines come first
                if (!failed)
                    m_ports << match.captured(1).toUShort();
                continue;
            }
            failed = deadline.hasExpired() || !Running();
            if (!failed)
                QThread::msleep(5);
        }
        if (!failed)
            return true;
        m_ports.clear();
        Stop();
        return false;
    }

    quint16 Port() const { return m_ports.value(0); }
    QList<quint16> Ports() const { return m_ports; }
    qint64 Pid() const { return Running() ? m_proc.processId() : 0; }
    bool Running() const { return m_proc.state() != QProcess::NotRunning; }

    QStringList Requests() {
        Collect();
        return m_requests;
    }

    QStringList RequestsAt(const QString &address) {
        QStringList at;
        const QString prefix = address + u' ';
        for (const QString &r : Requests())
            if (r.startsWith(prefix))
                at << r.mid(prefix.size());
        return at;
    }

    QStringList Output() {
        Collect();
        return m_output;
    }

    bool WaitForOutput(const QString &text, int timeoutMs = 3000) {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            Collect();
            for (const QString &line : std::as_const(m_output))
                if (line.contains(text))
                    return true;
            if (deadline.hasExpired() || !Running())
                return false;
            QThread::msleep(5);
        }
    }

    bool WaitForRequests(int n, int timeoutMs = 3000) {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            Collect();
            if (m_requests.size() >= n)
                return true;
            if (deadline.hasExpired() || !Running())
                return false;
            QThread::msleep(5);
        }
    }

    QString ErrorOutput() {
        Collect();
        return m_stderr;
    }

    bool WaitForErrorOutput(const QString &text, int timeoutMs = 3000) {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            Collect();
            if (m_stderr.contains(text))
                return true;
            if (deadline.hasExpired() || !Running())
                return false;
            QThread::msleep(5);
        }
    }

    QString Diagnostics() {
        return QStringLiteral("%1 %2 (state %3, exit %4): %5")
            .arg(QString::fromUtf8(SimPath), m_args.join(u' '))
            .arg(int(m_proc.state()))
            .arg(m_proc.exitCode())
            .arg(ErrorOutput());
    }

    int Stop(int timeoutMs = 3000) {
        if (!Running())
            return -2;
#ifdef Q_OS_WIN
        // A console program takes no polite stop from another process here:
        // one still running when asked to stop is ended, which counts as a
        // clean stop; one that had died already reports how it ended.
        m_proc.kill();
        if (!WaitForEnd(m_proc, timeoutMs))
            m_proc.waitForFinished(timeoutMs);
        Collect();
        return 0;
#endif
        m_proc.terminate(); // SIGTERM to its own PID
        if (!m_proc.waitForFinished(timeoutMs)) {
            m_proc.kill();
            m_proc.waitForFinished(timeoutMs);
        }
        Collect();
        // Sanitizer reports of the simulator surface in the test's output,
        // where the sanitizer run of the test command looks for them.
        const QString err = ErrorOutput();
        if (err.contains(QLatin1String("Sanitizer")) ||
            err.contains(QLatin1String("runtime error:")))
            qWarning("tavrin-sim reported:\n%s", qPrintable(err));
        if (m_proc.exitStatus() != QProcess::NormalExit)
            return -1;
        return m_proc.exitCode();
    }

private:
    static QByteArray ReadNew(const QString &path, qint64 &offset) {
        QFile f(path);
        if (!f.open(QIODevice::ReadOnly) || !f.seek(offset))
            return {};
        const QByteArray got = f.readAll();
        offset += got.size();
        return got;
    }

    // Takes what the simulator has written so far, without waiting.
    void Collect() {
        if (!m_files)
            return;
        m_pending += ReadNew(m_outPath, m_outRead);
        m_stderr += QString::fromUtf8(ReadNew(m_errPath, m_errRead));
        for (qsizetype nl; (nl = m_pending.indexOf('\n')) >= 0;) {
            const QByteArray line = m_pending.left(nl).trimmed();
            m_pending.remove(0, nl + 1);
            if (line.startsWith("REQ "))
                m_requests << QString::fromLatin1(line.mid(4));
            else if (!line.isEmpty())
                m_output << QString::fromUtf8(line);
        }
    }

    QProcess m_proc;
    QStringList m_args;
    std::unique_ptr<QTemporaryDir> m_files;
    QString m_outPath;
    QString m_errPath;
    qint64 m_outRead = 0;
    qint64 m_errRead = 0;
    QList<quint16> m_ports;
    QByteArray m_pending; // stdout not yet split into lines
    QStringList m_requests;
    QStringList m_output;
    QString m_stderr;
};

} // namespace testsupport
