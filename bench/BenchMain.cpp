// tavrin-bench: the program's costs beside their floors, in one table.
//
//   exchange   read all (255 registers) and read range (6 registers) through
//              the real handlers against tavrin-sim, beside a plain socket
//              client that carries the same counted request to a second
//              simulator and reads the same number of answer bytes; then an
//              engine session of its own (no window) on a third simulator:
//              SendByTCP alone with the read-all frame, and ReadRange of all
//              255 registers, each exchange paired with one of the plain
//              client, the two taking turns in going first and changing
//              simulators halfway through each series;
//   start-up   process start to first paint and peak memory of Tavrin's
//              start-up (tavrin-startup-probe) beside a minimal Qt window;
//   redraw     RefreshSG of all 155 rows, the window shown;
//   repeat job one tick with a connected device beside its own exchanges;
//   cli        "tavrin-cli read 40001..40155" as a whole process, spawn to
//              exit, beside tavrin-minimal-read (Qt Core, one connect, the
//              same counted request), the two programs' runs interleaved;
//   provision  "tavrin-cli provision" of 100 simulated modules that answer
//              after 50 ms, a configuration of four registers: --jobs 8
//              beside --jobs 1 (goal 1/6), and one module's share of the
//              --jobs 1 run beside its exchanges x 50 ms and a connect (goal
//              1.2x); then peak memory of the process (VmHWM at its exit)
//              after 1,000 modules beside after 100 (ten simulators without
//              delay; goal: less than 5 MB more).
//
// Everything talks to 127.0.0.1 only. Environment: TAVRIN_BENCH_ITER
// (exchanges per series, default 500), TAVRIN_BENCH_STARTS (start-ups per
// program, default 10), TAVRIN_BENCH_CLI_RUNS (runs per program of the cli
// part, default 30), TAVRIN_BENCH_PROVISION_RUNS (runs per setting of the
// provision part, default 3), TAVRIN_BENCH_PARTS ("startup", "exchange",
// "cli", "provision", comma-separated; default all: one part alone is handy
// under a profiler).
#include "FirstPaint.h"
#include "FormFixture.h"
#include "PlainClient.h"
#include "SimProcess.h"

#include "Edits.h"
#include "Hex.h"
#include "MainUnit.h"
#include "Memo.h"
#include "RegisterMap.h"
#include "Session.h"
#include "Style.h"
#include "TcpClient.h"

#include <QApplication>
#include <QCheckBox>
#include <QDateTime>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QPushButton>
#include <QTemporaryDir>
#include <QThread>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <fcntl.h>
#include <functional>
#include <memory>
#include <poll.h>
#include <spawn.h>
#include <string>
#include <sys/ptrace.h>
#include <sys/resource.h>
#include <sys/syscall.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char **environ;

namespace {

using bench::MonotonicNs;

int EnvInt(const char *name, int def) {
    bool ok = false;
    const int v = qEnvironmentVariableIntValue(name, &ok);
    return ok && v > 0 ? v : def;
}

// ---- statistics -------------------------------------------------------------

struct Samples {
    std::vector<double> v;
    void Add(double x) { v.push_back(x); }
    bool Empty() const { return v.empty(); }
    // Nearest-rank percentile.
    double Percentile(double p) const {
        if (v.empty())
            return NAN;
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        size_t rank = size_t(std::ceil(p / 100.0 * double(s.size())));
        rank = std::clamp<size_t>(rank, 1, s.size());
        return s[rank - 1];
    }
    double Median() const {
        if (v.empty())
            return NAN;
        std::vector<double> s = v;
        std::sort(s.begin(), s.end());
        const size_t n = s.size();
        return n % 2 ? s[n / 2] : (s[n / 2 - 1] + s[n / 2]) / 2;
    }
};

// Length of a function-3 answer: MBAP header, function, byte count, data.
constexpr int AnswerBytes(int quantity) {
    return 9 + 2 * quantity;
}

double UsSince(int64_t t0) {
    return double(MonotonicNs() - t0) / 1000.0;
}

// ---- the table ----------------------------------------------------------------

enum class Goal { None, RatioAtMost, ValueBelow };

struct Row {
    QString what;
    double value = NAN;
    double ref = NAN; // reference or floor; NAN: none
    QString unit;     // of value and ref
    Goal goal = Goal::None;
    double limit = 0; // ratio or value
    QString note;
};

std::vector<Row> g_rows;
QStringList g_notes;

QString Num(double x) {
    if (std::isnan(x))
        return QStringLiteral("—");
    if (x >= 100)
        return QString::number(x, 'f', 0);
    if (x >= 10)
        return QString::number(x, 'f', 1);
    return QString::number(x, 'f', 2);
}

void AddRow(const QString &what, double value, double ref, const QString &unit,
            Goal goal = Goal::None, double limit = 0) {
    g_rows.push_back({what, value, ref, unit, goal, limit, {}});
}

void PrintTable(int iterations, int starts, int cliRuns) {
    const QString date = QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"));
    std::printf("Tavrin benchmarks, %s, nproc %d, %s build, QT_QPA_PLATFORM=%s, %d exchanges "
                "per series, %d start-ups per program, %d command-line runs per program\n\n",
                qPrintable(date), QThread::idealThreadCount(), TAVRIN_BENCH_BUILD_TYPE,
                qgetenv("QT_QPA_PLATFORM").constData(), iterations, starts, cliRuns);
    std::printf("| Measurement | Value | Reference / floor | Ratio | Goal | Result |\n");
    std::printf("|---|---:|---:|---:|---|---|\n");
    for (const Row &r : g_rows) {
        const double ratio = std::isnan(r.ref) ? NAN : r.value / r.ref;
        QString goal = QStringLiteral("—");
        QString result = QStringLiteral("—");
        if (r.goal == Goal::RatioAtMost) {
            goal = QStringLiteral("ratio ≤ %1x").arg(QString::number(r.limit, 'g', 3));
            result = std::isnan(ratio)  ? QStringLiteral("MISS")
                     : ratio <= r.limit ? QStringLiteral("PASS")
                                        : QStringLiteral("MISS");
        } else if (r.goal == Goal::ValueBelow) {
            goal = QStringLiteral("< %1 %2").arg(r.limit).arg(r.unit);
            result = std::isnan(r.value) ? QStringLiteral("MISS")
                     : r.value < r.limit ? QStringLiteral("PASS")
                                         : QStringLiteral("MISS");
        }
        const QString value =
            std::isnan(r.value) ? QStringLiteral("failed") : Num(r.value) + u' ' + r.unit;
        const QString ref = std::isnan(r.ref) ? QStringLiteral("—") : Num(r.ref) + u' ' + r.unit;
        const QString ratioText =
            std::isnan(ratio) ? QStringLiteral("—") : QString::number(ratio, 'f', 2) + u'x';
        std::printf("| %s | %s | %s | %s | %s | %s |\n", qPrintable(r.what), qPrintable(value),
                    qPrintable(ref), qPrintable(ratioText), qPrintable(goal), qPrintable(result));
    }
    if (!g_notes.isEmpty()) {
        std::printf("\n");
        for (const QString &n : g_notes)
            std::printf("- %s\n", qPrintable(n));
    }
    std::fflush(stdout);
}

// ---- start-up -----------------------------------------------------------------

struct StartResult {
    bool ok = false;
    double paintMs = NAN; // process start to the window's first paint event
    double frameMs = NAN; // process start to the first frame done
    double hwmMb = NAN;   // VmHWM at first paint
    QString error;
};

// Ends a child that did not end by itself: SIGTERM by its PID, a bounded
// wait, then SIGKILL.
void Reap(pid_t pid, rusage *usage, int graceMs) {
    int status = 0;
    for (int waited = 0; waited < graceMs; waited += 5) {
        if (::wait4(pid, &status, WNOHANG, usage) == pid)
            return;
        ::usleep(5000);
    }
    ::kill(pid, SIGTERM);
    for (int waited = 0; waited < 2000; waited += 5) {
        if (::wait4(pid, &status, WNOHANG, usage) == pid)
            return;
        ::usleep(5000);
    }
    ::kill(pid, SIGKILL);
    ::wait4(pid, &status, 0, usage);
}

// Spawns exe (no arguments), its stdout into a pipe and stderr into
// errPath; waits at most timeoutMs for the FIRSTPAINT line.
StartResult RunProbe(const QString &exe, const QString &errPath, int timeoutMs = 20000) {
    StartResult r;
    int out[2];
    if (::pipe2(out, O_CLOEXEC) != 0) {
        r.error = QStringLiteral("pipe failed");
        return r;
    }
    const QByteArray exeName = QFile::encodeName(exe);
    const QByteArray errName = QFile::encodeName(errPath);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_adddup2(&fa, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, errName.constData(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    char *argv[] = {const_cast<char *>(exeName.constData()), nullptr};
    pid_t pid = 0;
    const int64_t t0 = MonotonicNs();
    const int rc = ::posix_spawn(&pid, exeName.constData(), &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    ::close(out[1]);
    if (rc != 0) {
        ::close(out[0]);
        r.error = QStringLiteral("spawn failed: %1").arg(rc);
        return r;
    }

    std::string got;
    const int64_t deadline = t0 + int64_t(timeoutMs) * 1000000;
    while (got.find('\n') == std::string::npos) {
        const int64_t left = (deadline - MonotonicNs()) / 1000000;
        if (left <= 0)
            break;
        pollfd p{out[0], POLLIN, 0};
        if (::poll(&p, 1, int(left)) <= 0)
            break;
        char buf[256];
        const ssize_t n = ::read(out[0], buf, sizeof buf);
        if (n <= 0)
            break;
        got.append(buf, size_t(n));
    }
    ::close(out[0]);
    rusage usage{};
    Reap(pid, &usage, 5000);

    long long paintNs = 0, frameNs = 0;
    long hwm = 0;
    if (std::sscanf(got.c_str(), "FIRSTPAINT %lld %lld %ld", &paintNs, &frameNs, &hwm) == 3) {
        r.ok = true;
        r.paintMs = double(paintNs - t0) / 1e6;
        r.frameMs = double(frameNs - t0) / 1e6;
        r.hwmMb = double(hwm) / 1024.0;
    } else {
        r.error = QStringLiteral("no first-paint line from %1").arg(exe);
    }
    return r;
}

// The real executable: peak memory (ru_maxrss) after it has run idle for
// holdMs, then ended by its PID.
double RealProgramPeakMb(const QString &exe, const QString &errPath, int holdMs) {
    const QByteArray exeName = QFile::encodeName(exe);
    const QByteArray errName = QFile::encodeName(errPath);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, errName.constData(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    char *argv[] = {const_cast<char *>(exeName.constData()), nullptr};
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, exeName.constData(), &fa, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&fa);
    if (rc != 0)
        return NAN;
    rusage usage{};
    Reap(pid, &usage, holdMs); // still running after holdMs: SIGTERM
    return double(usage.ru_maxrss) / 1024.0;
}

bool CopyExecutable(const QString &from, const QString &to) {
    QFile::remove(to);
    return QFile::copy(from, to) &&
           QFile::setPermissions(to, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
}

void BenchStartup(int starts) {
    QTemporaryDir dir;
    const QString probe = dir.filePath(QStringLiteral("Tavrin"));
    const QString minimal = dir.filePath(QStringLiteral("minimal-window"));
    const QString errs = dir.filePath(QStringLiteral("stderr.txt"));
    if (!dir.isValid() || !CopyExecutable(QString::fromUtf8(TAVRIN_PROBE_PATH), probe) ||
        !CopyExecutable(QString::fromUtf8(TAVRIN_MINIMAL_PATH), minimal)) {
        g_notes << QStringLiteral("start-up: could not copy the probes into a temporary folder");
        return;
    }

    Samples tPaint, tFrame, tMem, mPaint, mFrame, mMem;
    QString failure;
    // One unmeasured run each first: the page cache then holds the libraries
    // for both alike.
    RunProbe(probe, errs);
    RunProbe(minimal, errs);
    for (int i = 0; i < starts; ++i) {
        const StartResult t = RunProbe(probe, errs);
        const StartResult m = RunProbe(minimal, errs);
        if (!t.ok || !m.ok) {
            failure = t.ok ? m.error : t.error;
            continue;
        }
        tPaint.Add(t.paintMs), tFrame.Add(t.frameMs), tMem.Add(t.hwmMb);
        mPaint.Add(m.paintMs), mFrame.Add(m.frameMs), mMem.Add(m.hwmMb);
    }
    if (!failure.isEmpty())
        g_notes << QStringLiteral("start-up: %1 (see %2)").arg(failure, errs);

    AddRow(QStringLiteral("Start-up: process start to first paint of the main window (median)"),
           tPaint.Median(), mPaint.Median(), QStringLiteral("ms"), Goal::RatioAtMost, 1.3);
    AddRow(QStringLiteral("Start-up: process start to first frame complete (median)"),
           tFrame.Median(), mFrame.Median(), QStringLiteral("ms"));
    AddRow(QStringLiteral("Start-up: peak memory (VmHWM) at first paint (median)"), tMem.Median(),
           mMem.Median(), QStringLiteral("MB"), Goal::RatioAtMost, 1.3);

    // The real executable, for its memory once running (it has no way to
    // say when it painted): it should match the probe's.
    const QString real = dir.filePath(QStringLiteral("Tavrin-real/Tavrin"));
    QDir().mkpath(QFileInfo(real).path());
    if (CopyExecutable(QString::fromUtf8(TAVRIN_PROGRAM_PATH), real)) {
        Samples rss;
        for (int i = 0; i < 3; ++i)
            rss.Add(RealProgramPeakMb(real, errs, 1500));
        AddRow(QStringLiteral("Start-up: Tavrin executable, peak RSS after 1.5 s idle, beside the "
                              "probe's VmHWM"),
               rss.Median(), tMem.Median(), QStringLiteral("MB"));
    }
}

// ---- exchange -----------------------------------------------------------------

struct ExchangeSeries {
    Samples handler; // the command handler: frame, exchange, Buf2Regs, RefreshSG, log
    Samples repaint; // the repaint that the event loop does after it
    Samples floor;   // the plain client
    Samples floor2;  // the plain client sending count and frame apart, as the program must
    int failures = 0;
};

// Runs `iterations` exchanges of the command (after a warm-up), each followed
// by one of the plain client, interleaved so that a change in the machine's
// load falls on both alike.
ExchangeSeries RunExchanges(FormFixture &fx, const std::function<void()> &command, int quantity,
                            bench::PlainClient &plain, int iterations, bool clearLog) {
    ExchangeSeries s;
    const int answer = AnswerBytes(quantity);
    fx.form->Memo1->ClearLines();
    QCoreApplication::processEvents();

    uint8_t request[4 + 12];
    bool haveRequest = false;
    const int warmup = std::max(20, iterations / 10);
    for (int i = -warmup; i < iterations; ++i) {
        if (clearLog)
            fx.form->Memo1->ClearLines();
        int64_t t0 = MonotonicNs();
        command();
        const double handlerUs = UsSince(t0);
        t0 = MonotonicNs();
        QCoreApplication::processEvents();
        const double repaintUs = UsSince(t0);
        if (RecCount != answer) {
            ++s.failures;
            continue;
        }
        if (!haveRequest) {
            // The same frame as the program's, behind the same count.
            request[0] = request[1] = request[2] = 0;
            request[3] = 12;
            std::copy(SBuf, SBuf + 12, request + 4);
            haveRequest = true;
        }
        // The two floors take turns in going first: the first exchange after
        // the window's work meets colder caches.
        bool ok = true;
        double floorUs = 0, floor2Us = 0;
        for (int pass = 0; pass < 2; ++pass) {
            const bool split = (pass == 0) == (i % 2 == 0);
            t0 = MonotonicNs();
            ok = plain.Exchange(request, sizeof request, size_t(answer), split ? 4 : 0) && ok;
            (split ? floor2Us : floorUs) = UsSince(t0);
        }
        if (!ok) {
            ++s.failures;
            continue;
        }
        if (i < 0)
            continue;
        s.handler.Add(handlerUs);
        s.repaint.Add(handlerUs + repaintUs);
        s.floor.Add(floorUs);
        s.floor2.Add(floor2Us);
    }
    return s;
}

void ExchangeRows(const QString &name, const ExchangeSeries &s, bool withP99) {
    AddRow(name + QStringLiteral(", median"), s.handler.Median(), s.floor.Median(),
           QStringLiteral("µs"), Goal::RatioAtMost, 1.5);
    if (withP99)
        AddRow(name + QStringLiteral(", 99th percentile"), s.handler.Percentile(99),
               s.floor.Percentile(99), QStringLiteral("µs"), Goal::RatioAtMost, 1.5);
    if (s.failures)
        g_notes << QStringLiteral("%1: %2 exchanges failed or came back short")
                       .arg(name)
                       .arg(s.failures);
}

// ---- the engine alone ---------------------------------------------------------

struct PairedSeries {
    Samples measured;
    Samples floor;
    int failures = 0;
};

// Runs `iterations` exchanges (after a warm-up), each paired with one of the
// plain client carrying request, the two taking turns in going first: the
// series carries a floor of its own, taken under the same load, and neither
// side always meets the caches the other has just warmed.
PairedSeries RunPaired(const std::function<bool()> &exchange, bench::PlainClient &plain,
                       const uint8_t (&request)[16], int answer, int iterations) {
    PairedSeries s;
    for (int i = -std::max(50, iterations / 10); i < iterations; ++i) {
        double us = 0, floorUs = 0;
        bool ok = false, floorOk = false;
        for (int pass = 0; pass < 2; ++pass) {
            const int64_t t0 = MonotonicNs();
            if ((pass == 0) == (i % 2 == 0)) {
                ok = exchange();
                us = UsSince(t0);
            } else {
                floorOk = plain.Exchange(request, sizeof request, size_t(answer));
                floorUs = UsSince(t0);
            }
        }
        if (!ok || !floorOk) {
            ++s.failures;
            continue;
        }
        if (i >= 0)
            s.measured.Add(us), s.floor.Add(floorUs);
    }
    return s;
}

// Half the series, then the other half with the simulators changed hands
// (swap). On a loaded machine one simulator process may be served slower
// than the other for a whole run, which would fall on one side only; swapped,
// it falls on both alike. Each side's figure is the mean of its two halves'
// medians: the slow simulator's time counts once on each side.
struct SwappedSeries {
    PairedSeries halves[2];
    double Value() const { return (halves[0].measured.Median() + halves[1].measured.Median()) / 2; }
    double Floor() const { return (halves[0].floor.Median() + halves[1].floor.Median()) / 2; }
    int Failures() const { return halves[0].failures + halves[1].failures; }
    // The halves, when the simulators served them unevenly.
    QString Uneven() const {
        const double a = halves[0].floor.Median(), b = halves[1].floor.Median();
        if (!(std::max(a, b) > 1.25 * std::min(a, b)))
            return {};
        return QStringLiteral("%1 / %2 µs, then %3 / %4 µs with the simulators swapped")
            .arg(Num(halves[0].measured.Median()), Num(a), Num(halves[1].measured.Median()),
                 Num(b));
    }
};

SwappedSeries RunSwapped(const std::function<bool()> &exchange, bench::PlainClient &plain,
                         const uint8_t (&request)[16], int answer, int iterations,
                         const std::function<bool()> &swap) {
    SwappedSeries s;
    s.halves[0] = RunPaired(exchange, plain, request, answer, iterations / 2);
    if (swap())
        s.halves[1] = RunPaired(exchange, plain, request, answer, iterations - iterations / 2);
    else
        s.halves[1].failures = iterations - iterations / 2;
    return s;
}

// An engine session of its own, no window, on the simulator at enginePort;
// plain is connected to the one at floorPort.
void BenchEngine(uint16_t enginePort, uint16_t floorPort, bench::PlainClient &plain,
                 int iterations) {
    tcp::TcpClient client;
    client.Host = "127.0.0.1";
    client.ConnectTimeout = 3000;
    const uint16_t ports[2] = {enginePort, floorPort};
    int turn = 0;
    const auto connectEngine = [&client, &ports, &turn] {
        client.Port = ports[turn];
        try {
            client.Connect();
        } catch (const std::exception &e) {
            g_notes << QStringLiteral("engine: no connection to tavrin-sim: %1")
                           .arg(QString::fromLocal8Bit(e.what()));
            return false;
        }
        return true;
    };
    const auto swap = [&client, &plain, &ports, &turn, &connectEngine] {
        client.Close();
        plain.Close();
        turn ^= 1;
        if (!plain.Connect(ports[1 - turn])) {
            g_notes << QStringLiteral("engine: the plain client could not connect to tavrin-sim");
            return false;
        }
        return connectEngine();
    };
    if (!connectEngine())
        return;
    engine::Session session;
    session.client = &client;
    // As tavrin-cli without --log: every line is made, then dropped.
    session.traffic = [](const QString &) {};
    QString said; // the last operator message, noted once
    session.message = [&said](const QString &text) { said = text; };

    constexpr int quantity = core::MaxQuantity;
    const int answer = AnswerBytes(quantity);
    uint8_t request[4 + 12] = {0, 0, 0, 12};
    core::ReadHoldingFrame({request + 4, 12}, session.header, 0, quantity);

    // The exchange alone: no answer check, no image, the same frame each time
    // (SendByTCP leaves the send buffer as it is).
    std::copy(request + 4, request + 16, session.buffers.send);
    *session.buffers.sendCount = 12;
    const auto sendAlone = [&session, answer] {
        *session.buffers.recCount = -1;
        return session.SendByTCP().received == answer;
    };
    const SwappedSeries alone = RunSwapped(sendAlone, plain, request, answer, iterations, swap);
    AddRow(QStringLiteral("SendByTCP alone (engine session), read-all frame, median"),
           alone.Value(), alone.Floor(), QStringLiteral("µs"));
    if (alone.Failures())
        g_notes << QStringLiteral("SendByTCP alone: %1 exchanges failed").arg(alone.Failures());
    if (!alone.Uneven().isEmpty())
        g_notes << QStringLiteral("SendByTCP alone, engine / floor: ") + alone.Uneven();

    // The whole read: frame, exchange, answer check, registers into the image.
    uint16_t image[core::ImageSize] = {};
    const auto readAll = [&session, &image] {
        const engine::Reply r = session.ReadRange(0, core::MaxQuantity, image);
        return r.Ok() && r.taken == core::MaxQuantity;
    };
    const SwappedSeries all = RunSwapped(readAll, plain, request, answer, iterations, swap);
    AddRow(QStringLiteral("Engine read all (255 registers), median"), all.Value(), all.Floor(),
           QStringLiteral("µs"), Goal::RatioAtMost, 1.2);
    if (all.Failures())
        g_notes << QStringLiteral("Engine read all: %1 exchanges failed or came back short")
                       .arg(all.Failures());
    if (!all.Uneven().isEmpty())
        g_notes << QStringLiteral("Engine read all, engine / floor: ") + all.Uneven();
    if (!said.isEmpty())
        g_notes << QStringLiteral("engine: ") + said;
}

void BenchExchangeAndGrid(int iterations) {
    testsupport::SimProcess simForm, simFloor, simEngine;
    if (!simForm.Start() || !simFloor.Start() || !simEngine.Start()) {
        g_notes << QStringLiteral("exchange: tavrin-sim did not start: %1 %2 %3")
                       .arg(simForm.Diagnostics(), simFloor.Diagnostics(), simEngine.Diagnostics());
        return;
    }
    FormFixture fx;
    fx.Open();
    fx.form->show();
    if (!QTest::qWaitForWindowExposed(fx.form.get(), 5000))
        g_notes << QStringLiteral("the window was not exposed within 5 s");
    if (!fx.Connect(simForm.Port())) {
        g_notes << QStringLiteral("exchange: the window could not connect to tavrin-sim");
        return;
    }
    bench::PlainClient plain;
    if (!plain.Connect(simFloor.Port())) {
        g_notes << QStringLiteral("exchange: the plain client could not connect to tavrin-sim");
        return;
    }
    TMainForm *f = fx.form.get();
    const auto readAll = [f] { f->btnReadAllRegsClick(f->btnReadAllRegs); };
    f->edRRStart->SetValue(40001);
    f->edRRNums->SetValue(6);
    const auto readSix = [f] { f->btnSendRRClick(f->btnSendRR); };

    const ExchangeSeries all = RunExchanges(fx, readAll, 255, plain, iterations, false);
    ExchangeRows(QStringLiteral("Read all (255 registers), log growing"), all, true);
    const ExchangeSeries six = RunExchanges(fx, readSix, 6, plain, iterations, false);
    ExchangeRows(QStringLiteral("Read range (6 registers), log growing"), six, true);
    const ExchangeSeries allClear = RunExchanges(fx, readAll, 255, plain, iterations, true);
    ExchangeRows(QStringLiteral("Read all, log cleared before each"), allClear, false);
    const ExchangeSeries sixClear = RunExchanges(fx, readSix, 6, plain, iterations, true);
    ExchangeRows(QStringLiteral("Read range 6, log cleared before each"), sixClear, false);
    AddRow(QStringLiteral("Read all incl. the repaint after it, log growing, median"),
           all.repaint.Median(), all.floor.Median(), QStringLiteral("µs"));
    AddRow(QStringLiteral("Floor with count and frame as two sends (read all), median"),
           all.floor2.Median(), all.floor.Median(), QStringLiteral("µs"));

    BenchEngine(simEngine.Port(), simFloor.Port(), plain, iterations);

    // ---- the traffic log: one read-all answer line, the log growing.
    {
        f->Memo1->ClearLines();
        const QString line = QStringLiteral("Receive: ") +
                             core::HexRendering({RBuf, size_t(AnswerBytes(255))}) +
                             QStringLiteral("\r\n");
        Samples add;
        for (int i = 0; i < iterations; ++i) {
            const int64_t t0 = MonotonicNs();
            f->Memo1->AddLine(line);
            add.Add(UsSince(t0));
            QCoreApplication::processEvents();
        }
        AddRow(QStringLiteral("Traffic log: one read-all answer line (1557 characters), log "
                              "growing, median"),
               add.Median(), NAN, QStringLiteral("µs"));
    }

    // ---- redraw: every value cell changes, so every row is really redrawn.
    f->Memo1->ClearLines();
    Samples refresh, refreshPaint;
    for (int k = -50; k < iterations; ++k) {
        for (int i = 0; i < RegsSize; ++i)
            Regs[i] = uint16_t((k & 0xFF) * 131 + i);
        Regs[54] = 100; // the whole string: rows 56 to 155
        for (int i = 55; i < 155; ++i)
            Regs[i] = uint16_t('A' + (k + i) % 26);
        int64_t t0 = MonotonicNs();
        f->RefreshSG();
        const double us = UsSince(t0);
        t0 = MonotonicNs();
        QCoreApplication::processEvents();
        const double paintUs = UsSince(t0);
        if (k >= 0) {
            refresh.Add(us);
            refreshPaint.Add(us + paintUs);
        }
    }
    AddRow(QStringLiteral("RefreshSG, all 155 rows, window shown, median"),
           refresh.Median() / 1000.0, NAN, QStringLiteral("ms"), Goal::ValueBelow, 1.0);
    AddRow(QStringLiteral("RefreshSG incl. the repaint it causes, median"),
           refreshPaint.Median() / 1000.0, NAN, QStringLiteral("ms"), Goal::ValueBelow, 1.0);

    // ---- repeat job: ticks in a row against a counter that moves once a
    // second, so most ticks read only and every third to fourth also writes.
    f->Memo1->ClearLines();
    f->cbRepeatJob->setChecked(true); // runs cbRepeatJobClick through its signal
    Samples tickRead, tickWrite, readRef, writeRef;
    for (int k = -20; k < iterations; ++k) {
        const bool writes = timCount > 2;
        int64_t t0 = MonotonicNs();
        f->Timer1Timer(f->Timer1);
        const double tickUs = UsSince(t0);
        QCoreApplication::processEvents();
        t0 = MonotonicNs();
        f->ReadRegister(1);
        const double readUs = UsSince(t0);
        QCoreApplication::processEvents();
        double writeUs = NAN;
        if (writes) {
            t0 = MonotonicNs();
            f->WriteRegister(0, 1);
            writeUs = UsSince(t0);
            QCoreApplication::processEvents();
        }
        if (k < 0)
            continue;
        readRef.Add(readUs);
        (writes ? tickWrite : tickRead).Add(tickUs);
        if (writes)
            writeRef.Add(writeUs);
    }
    f->cbRepeatJob->setChecked(false);
    AddRow(QStringLiteral("Repeat-job tick that reads, beside one ReadRegister, median"),
           tickRead.Median(), readRef.Median(), QStringLiteral("µs"), Goal::RatioAtMost, 1.1);
    AddRow(QStringLiteral("Repeat-job tick that reads and writes, beside ReadRegister + "
                          "WriteRegister, median"),
           tickWrite.Median(), readRef.Median() + writeRef.Median(), QStringLiteral("µs"),
           Goal::RatioAtMost, 1.1);
    fx.Close();
}

// ---- the command line as a whole process ---------------------------------------

struct RunResult {
    bool ok = false; // exited with 0
    double ms = NAN; // spawn to the exit seen
};

// Starts exe with args, stdout to /dev/null, stderr appended to errPath,
// stdin from /dev/null; 0 when it could not be started.
pid_t Spawn(const QByteArray &exe, const QList<QByteArray> &args, const QString &errPath) {
    const QByteArray errName = QFile::encodeName(errPath);
    posix_spawn_file_actions_t fa;
    posix_spawn_file_actions_init(&fa);
    posix_spawn_file_actions_addopen(&fa, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&fa, STDERR_FILENO, errName.constData(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_addopen(&fa, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    std::vector<char *> argv{const_cast<char *>(exe.constData())};
    for (const QByteArray &a : args)
        argv.push_back(const_cast<char *>(a.constData()));
    argv.push_back(nullptr);
    pid_t pid = 0;
    const int rc = ::posix_spawn(&pid, exe.constData(), &fa, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&fa);
    return rc == 0 ? pid : 0;
}

// Runs exe with args to its exit (see Spawn); one that has not ended after
// timeoutMs is ended by its PID.
RunResult RunToExit(const QByteArray &exe, const QList<QByteArray> &args, const QString &errPath,
                    int timeoutMs = 20000) {
    RunResult r;
    const int64_t t0 = MonotonicNs();
    const pid_t pid = Spawn(exe, args, errPath);
    if (pid == 0)
        return r;
#ifdef SYS_pidfd_open
    // A pidfd wakes the wait at the exit itself and bounds it; without one
    // the wait is plain (both programs bound their own exchanges).
    const int pidfd = int(::syscall(SYS_pidfd_open, pid, 0));
    if (pidfd >= 0) {
        pollfd p{pidfd, POLLIN, 0};
        int ready = 0;
        do
            ready = ::poll(&p, 1, timeoutMs);
        while (ready < 0 && errno == EINTR);
        ::close(pidfd);
        if (ready <= 0) {
            rusage usage{};
            Reap(pid, &usage, 0);
            return r;
        }
    }
#else
    (void)timeoutMs;
#endif
    int status = 0;
    pid_t waited = 0;
    do
        waited = ::waitpid(pid, &status, 0);
    while (waited < 0 && errno == EINTR);
    r.ms = double(MonotonicNs() - t0) / 1e6;
    r.ok = waited == pid && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return r;
}

void BenchCommandLine(int runs) {
    testsupport::SimProcess simCli, simMinimal;
    QTemporaryDir dir;
    if (!dir.isValid() || !simCli.Start() || !simMinimal.Start()) {
        g_notes << QStringLiteral("cli: tavrin-sim did not start: %1 %2")
                       .arg(simCli.Diagnostics(), simMinimal.Diagnostics());
        return;
    }
    const QString errs = dir.filePath(QStringLiteral("stderr.txt"));
    const QByteArray cli = TAVRIN_CLI_PATH;
    const QByteArray minimal = TAVRIN_MINIMAL_READ_PATH;
    const QList<QByteArray> cliArgs{"read",      "40001..40155", "--host",
                                    "127.0.0.1", "--port",       QByteArray::number(simCli.Port())};
    const QList<QByteArray> minimalArgs{QByteArray::number(simMinimal.Port()), "0",
                                        QByteArray::number(core::DeviceRegs)};

    // One unmeasured run each first: the page cache then holds the libraries
    // for both alike. Their requests must be the same bytes.
    const bool warm = RunToExit(cli, cliArgs, errs).ok && RunToExit(minimal, minimalArgs, errs).ok;
    if (!warm || !simCli.WaitForRequests(1) || !simMinimal.WaitForRequests(1)) {
        g_notes << QStringLiteral("cli: a first run failed (see %1)").arg(errs);
    } else if (simCli.Requests().constLast() != simMinimal.Requests().constLast()) {
        g_notes << QStringLiteral("cli: the two programs' requests differ: %1 / %2")
                       .arg(simCli.Requests().constLast(), simMinimal.Requests().constLast());
    }

    Samples cliMs, minimalMs;
    int failures = 0;
    for (int i = 0; i < runs; ++i) {
        RunResult c, m;
        for (int pass = 0; pass < 2; ++pass) {
            if ((pass == 0) == (i % 2 == 0))
                c = RunToExit(cli, cliArgs, errs);
            else
                m = RunToExit(minimal, minimalArgs, errs);
        }
        if (!c.ok || !m.ok) {
            ++failures;
            continue;
        }
        cliMs.Add(c.ms), minimalMs.Add(m.ms);
    }
    AddRow(QStringLiteral("tavrin-cli read 40001..40155, spawn to exit, beside a minimal Qt Core "
                          "read, median"),
           cliMs.Median(), minimalMs.Median(), QStringLiteral("ms"), Goal::RatioAtMost, 1.3);
    if (failures)
        g_notes << QStringLiteral("cli: %1 of %2 run pairs failed (see %3)")
                       .arg(failures)
                       .arg(runs)
                       .arg(errs);
}

// ---- provision: many modules, one process ------------------------------------

// A child's peak resident memory. ru_maxrss from wait4 does not do here:
// posix_spawn's child runs in this process's memory until its exec, and the
// kernel keeps the high-water mark of the memory an exec leaves as the
// child's own, so it reports this bench's size whenever that is larger. A
// zombie's status has no memory lines either. So the child is traced for its
// exit stop alone (PTRACE_O_TRACEEXIT), where its memory is final and still
// there, and VmHWM is read then; where tracing is refused, VmHWM is polled
// while it runs and the highest kept.
struct PeakRun {
    bool ok = false;    // exited with 0
    double mb = NAN;    // VmHWM
    bool exact = false; // read at the exit stop
};

long VmHwmKb(pid_t pid) {
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return 0;
}

PeakRun RunForPeak(const QByteArray &exe, const QList<QByteArray> &args, const QString &errPath,
                   int timeoutMs) {
    PeakRun r;
    const int64_t t0 = MonotonicNs();
    const pid_t pid = Spawn(exe, args, errPath); // returns after the exec
    if (pid == 0)
        return r;
    const bool traced =
        ::ptrace(PTRACE_SEIZE, pid, nullptr,
                 reinterpret_cast<void *>(static_cast<uintptr_t>(PTRACE_O_TRACEEXIT))) == 0;
    long kb = 0;
    bool killed = false;
    for (;;) {
        int status = 0;
        const pid_t w = ::waitpid(pid, &status, WNOHANG);
        if (w == pid && WIFSTOPPED(status)) {
            int deliver = WSTOPSIG(status); // a signal stop: the signal goes on
            if (status >> 8 == (SIGTRAP | (PTRACE_EVENT_EXIT << 8))) {
                kb = std::max(kb, VmHwmKb(pid));
                r.exact = true;
                deliver = 0;
            } else if (status >> 16 == PTRACE_EVENT_STOP) {
                deliver = 0;
            }
            ::ptrace(PTRACE_CONT, pid, nullptr, reinterpret_cast<void *>(intptr_t(deliver)));
            continue;
        }
        if (w == pid) {
            r.ok = !killed && WIFEXITED(status) && WEXITSTATUS(status) == 0;
            break;
        }
        if (w < 0 && errno != EINTR)
            break;
        if (!traced)
            kb = std::max(kb, VmHwmKb(pid));
        if (!killed && MonotonicNs() - t0 > int64_t(timeoutMs) * 1000000) {
            ::kill(pid, SIGKILL);
            killed = true;
        }
        ::usleep(traced ? 5000 : 2000);
    }
    if (kb > 0)
        r.mb = double(kb) / 1024.0;
    return r;
}

bool WriteBytes(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

// `count` modules named m0001.., the simulators' ports in turn (a port may
// come more than once: each entry gets a connection of its own).
QByteArray DeviceList(const QList<quint16> &ports, int count) {
    QByteArray list = "name,host,port\r\n";
    for (int i = 0; i < count; ++i)
        list += "m" + QByteArray::number(i + 1).rightJustified(4, '0') + ",127.0.0.1," +
                QByteArray::number(ports[i % ports.size()]) + "\r\n";
    return list;
}

// A few registers: brightness alone and a run of three (font, mode, scroll
// speed), so two writes between the read before and the read back. The
// words change from one run to the next, so every run writes them all.
QByteArray ProvisionConfig(int run) {
    const int k = run % 2;
    return "Register,Name,Value\r\n40038,brightness," + QByteArray::number(40 + k) +
           "\r\n40051,font," + QByteArray::number(1 + k) + "\r\n40052,mode," +
           QByteArray::number(2 + k) + "\r\n40053,speed," + QByteArray::number(3 + k) + "\r\n";
}

// One provision run into a records folder of its own, the words of `run`.
struct ProvisionRun {
    QString records;
    QList<QByteArray> args;
};

ProvisionRun PrepareProvision(const QTemporaryDir &dir, const QString &list, int run, int jobs) {
    ProvisionRun p;
    const QString config = dir.filePath(QStringLiteral("config-%1.csv").arg(run));
    WriteBytes(config, ProvisionConfig(run));
    p.records = dir.filePath(QStringLiteral("records-%1").arg(run));
    p.args = {"provision",
              "--devices",
              QFile::encodeName(list),
              "--config",
              QFile::encodeName(config),
              "--records",
              QFile::encodeName(p.records),
              "--jobs",
              QByteArray::number(jobs)};
    return p;
}

// The seconds each module's result.json gives.
void ModuleSeconds(const QString &records, Samples &into) {
    const QStringList modules = QDir(records).entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    for (const QString &m : modules) {
        QFile f(QDir(records).filePath(m + QStringLiteral("/result.json")));
        if (f.open(QIODevice::ReadOnly))
            into.Add(QJsonDocument::fromJson(f.readAll()).object().value(u"seconds").toDouble() *
                     1000.0);
    }
}

void BenchProvisionTime(int runs) {
    constexpr int Modules = 100;
    constexpr int DelayMs = 50;
    testsupport::SimProcess sim;
    QTemporaryDir dir;
    if (!dir.isValid() || !sim.Start({QStringLiteral("--plain"), QStringLiteral("--modules"),
                                      QString::number(Modules), QStringLiteral("--delay"),
                                      QString::number(DelayMs)})) {
        g_notes << QStringLiteral("provision: tavrin-sim did not start: %1").arg(sim.Diagnostics());
        return;
    }
    const QString errs = dir.filePath(QStringLiteral("stderr.txt"));
    const QString list = dir.filePath(QStringLiteral("devices.csv"));
    WriteBytes(list, DeviceList(sim.Ports(), Modules));
    const QByteArray cli = TAVRIN_CLI_PATH;

    // The floor of one module's connect: a plain blocking connect, the
    // module's answer delay plays no part in it.
    Samples connectUs;
    for (int i = 0; i < 20; ++i) {
        bench::PlainClient plain;
        const int64_t t0 = MonotonicNs();
        if (plain.Connect(sim.Ports()[i % Modules]))
            connectUs.Add(UsSince(t0));
    }

    Samples one, eight, moduleMs, exchanges;
    int failures = 0, run = 0;
    for (int i = 0; i < runs; ++i) {
        RunResult r1, r8;
        for (int pass = 0; pass < 2; ++pass) {
            const bool single = (pass == 0) == (i % 2 == 0);
            const ProvisionRun p = PrepareProvision(dir, list, run++, single ? 1 : 8);
            const qsizetype before = sim.Requests().size();
            const RunResult r = RunToExit(cli, p.args, errs, 600000);
            const qsizetype sent = sim.Requests().size() - before;
            if (single) {
                r1 = r;
                exchanges.Add(double(sent) / Modules);
                ModuleSeconds(p.records, moduleMs);
            } else {
                r8 = r;
            }
            QDir(p.records).removeRecursively();
        }
        if (!r1.ok || !r8.ok) {
            ++failures;
            continue;
        }
        one.Add(r1.ms), eight.Add(r8.ms);
    }
    const double perModule = exchanges.Median();
    const double floorMs = perModule * DelayMs + connectUs.Median() / 1000.0;
    AddRow(QStringLiteral("tavrin-cli provision, 100 modules at 50 ms, --jobs 8 beside --jobs 1, "
                          "spawn to exit, median"),
           eight.Median(), one.Median(), QStringLiteral("ms"), Goal::RatioAtMost, 1.0 / 6.0);
    AddRow(QStringLiteral("provision --jobs 1, one module (whole run / 100) beside its exchanges "
                          "× 50 ms + a connect"),
           one.Median() / Modules, floorMs, QStringLiteral("ms"), Goal::RatioAtMost, 1.2);
    AddRow(QStringLiteral("provision --jobs 1, one module's own seconds (result.json), median, "
                          "beside the same floor"),
           moduleMs.Median(), floorMs, QStringLiteral("ms"));
    g_notes << QStringLiteral("provision: %1 exchanges per module (read before, writes, read "
                              "back), a plain connect %2 µs (median of %3); %4 run pairs")
                   .arg(perModule)
                   .arg(Num(connectUs.Median()))
                   .arg(connectUs.v.size())
                   .arg(runs);
    if (failures)
        g_notes << QStringLiteral("provision: %1 of %2 run pairs failed or not all ok (see %3)")
                       .arg(failures)
                       .arg(runs)
                       .arg(errs);
}

void BenchProvisionMemory(int runs) {
    constexpr int Simulators = 10; // at most 100 modules each
    std::vector<std::unique_ptr<testsupport::SimProcess>> sims;
    QList<quint16> ports;
    for (int k = 0; k < Simulators; ++k) {
        auto sim = std::make_unique<testsupport::SimProcess>();
        if (sim->Start(
                {QStringLiteral("--plain"), QStringLiteral("--modules"), QStringLiteral("100")}))
            ports += sim->Ports();
        sims.push_back(std::move(sim));
    }
    QTemporaryDir dir;
    if (!dir.isValid() || ports.size() < 100) {
        g_notes << QStringLiteral("provision memory: too few simulators started (%1 modules)")
                       .arg(ports.size());
        return;
    }
    if (ports.size() < 1000)
        g_notes << QStringLiteral("provision memory: %1 distinct modules; the device list of "
                                  "1,000 repeats their ports")
                       .arg(ports.size());
    const QString errs = dir.filePath(QStringLiteral("stderr.txt"));
    const QString list100 = dir.filePath(QStringLiteral("devices-100.csv"));
    const QString list1000 = dir.filePath(QStringLiteral("devices-1000.csv"));
    WriteBytes(list100, DeviceList(ports, 100));
    WriteBytes(list1000, DeviceList(ports, 1000));
    const QByteArray cli = TAVRIN_CLI_PATH;

    Samples small, large;
    int failures = 0, polled = 0, run = 0;
    for (int i = 0; i < runs; ++i) {
        for (const bool big : {false, true}) {
            const ProvisionRun p = PrepareProvision(dir, big ? list1000 : list100, run++, 8);
            const PeakRun r = RunForPeak(cli, p.args, errs, 600000);
            QDir(p.records).removeRecursively();
            polled += !r.exact;
            if (!r.ok)
                ++failures;
            else
                (big ? large : small).Add(r.mb);
        }
    }
    AddRow(QStringLiteral("provision --jobs 8, peak RSS (VmHWM) of the process, 100 modules, "
                          "median"),
           small.Median(), NAN, QStringLiteral("MB"));
    AddRow(QStringLiteral("provision --jobs 8, peak RSS, 1,000 modules beside 100, median"),
           large.Median(), small.Median(), QStringLiteral("MB"));
    AddRow(QStringLiteral("provision --jobs 8, peak RSS growth from 100 to 1,000 modules"),
           large.Median() - small.Median(), NAN, QStringLiteral("MB"), Goal::ValueBelow, 5.0);
    if (polled)
        g_notes << QStringLiteral("provision memory: tracing refused, VmHWM polled in %1 of %2 "
                                  "runs (the last moments can be missed)")
                       .arg(polled)
                       .arg(2 * runs);
    if (failures)
        g_notes << QStringLiteral("provision memory: %1 of %2 runs failed or not all ok (see %3)")
                       .arg(failures)
                       .arg(2 * runs)
                       .arg(errs);
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const int iterations = EnvInt("TAVRIN_BENCH_ITER", 500);
    const int starts = EnvInt("TAVRIN_BENCH_STARTS", 10);
    const int cliRuns = EnvInt("TAVRIN_BENCH_CLI_RUNS", 30);
    const int provisionRuns = EnvInt("TAVRIN_BENCH_PROVISION_RUNS", 3);

    // As the program starts: design fonts, then the style.
    ui::SetMessageBoxHook(
        [](const ui::BoxRequest &r) { g_notes << QStringLiteral("message box: %1").arg(r.text); });
    EnsureDesignFonts();
    SelectStyleOrWarn(QStringLiteral("Onyx Blue"));

    const QStringList parts =
        qEnvironmentVariable("TAVRIN_BENCH_PARTS", QStringLiteral("startup,exchange,cli,provision"))
            .split(u',');
    if (parts.contains(QStringLiteral("startup")))
        BenchStartup(starts);
    if (parts.contains(QStringLiteral("exchange")))
        BenchExchangeAndGrid(iterations);
    if (parts.contains(QStringLiteral("cli")))
        BenchCommandLine(cliRuns);
    if (parts.contains(QStringLiteral("provision"))) {
        BenchProvisionTime(provisionRuns);
        BenchProvisionMemory(provisionRuns);
    }
    PrintTable(iterations, starts, cliRuns);
    return 0;
}
