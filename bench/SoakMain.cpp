// tavrin-soak: the repeat job's tick driven many times in a row against
// tavrin-sim on 127.0.0.1, the way the timer drives it (each tick reads the
// counter; with the counter stalled, every third tick also writes the
// trigger), with the window shown and its events processed after each tick.
// Resident memory, heap in use and open descriptors are taken at the start,
// after a tenth of the ticks and at the end: once with the traffic log
// cleared every 1,000 ticks, once with the log growing all the time. Only the
// growing log may grow.
//
// Environment: TAVRIN_SOAK_TICKS (default 100000).
#include "FormFixture.h"
#include "SimProcess.h"

#include "MainUnit.h"

#include <QApplication>
#include <QCheckBox>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QtTest>

#include <cmath>
#include <cstdio>
#include <malloc.h>

namespace {

struct Sample {
    double rssMb = NAN;
    double heapMb = NAN;
    int fds = -1;
};

// Freed memory goes back to the system first, so that resident memory shows
// what is live rather than what the allocator keeps.
Sample Take() {
    malloc_trim(0);
    Sample s;
    QFile status(QStringLiteral("/proc/self/status"));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n'))
            if (line.startsWith("VmRSS:"))
                s.rssMb = line.mid(6).trimmed().split(' ').value(0).toDouble() / 1024.0;
    }
    const struct mallinfo2 m = mallinfo2();
    s.heapMb = double(m.uordblks + m.hblkhd) / (1024.0 * 1024.0);
    s.fds = int(QDir(QStringLiteral("/proc/self/fd"))
                    .entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot)
                    .size()) -
            1; // the listing's own descriptor
    return s;
}

struct Run {
    QString name;
    Sample at[3];
    long writes = 0;
    long requests = 0;
    double seconds = 0;
    QString failure;
};

Run Soak(const QString &name, int ticks, int clearEvery) {
    Run run;
    run.name = name;
    testsupport::SimProcess sim;
    // The counter never moves: the job writes its trigger every third tick.
    if (!sim.Start({QStringLiteral("--stall-after"), QStringLiteral("0")})) {
        run.failure = QStringLiteral("tavrin-sim did not start: ") + sim.Diagnostics();
        return run;
    }
    FormFixture fx;
    fx.Open();
    TMainForm *f = fx.form.get();
    f->show();
    if (!QTest::qWaitForWindowExposed(f, 5000) || !fx.Connect(sim.Port())) {
        run.failure = QStringLiteral("the window did not come up or could not connect");
        return run;
    }
    f->cbRepeatJob->setChecked(true); // runs cbRepeatJobClick through its signal
    QCoreApplication::processEvents();
    const int middle = std::max(1, ticks / 10);
    run.at[0] = Take();
    QElapsedTimer clock;
    clock.start();
    for (int k = 1; k <= ticks; ++k) {
        if (timCount > 2)
            ++run.writes;
        f->Timer1Timer(f->Timer1);
        QCoreApplication::processEvents();
        if (clearEvery > 0 && k % clearEvery == 0)
            f->Memo1->clear();
        if (k == middle)
            run.at[1] = Take();
    }
    run.seconds = double(clock.elapsed()) / 1000.0;
    run.at[2] = Take();
    f->cbRepeatJob->setChecked(false);
    fx.Close();
    run.requests = sim.Requests().size();
    sim.Stop();
    // One read per tick and the writes: anything else means the ticks did
    // not reach the device.
    if (run.requests != ticks + run.writes)
        run.failure = QStringLiteral("%1 requests reached tavrin-sim, %2 expected")
                          .arg(run.requests)
                          .arg(ticks + run.writes);
    return run;
}

void PrintRun(const Run &r, int ticks) {
    if (!r.failure.isEmpty()) {
        std::printf("| %s | failed: %s |||||\n", qPrintable(r.name), qPrintable(r.failure));
        return;
    }
    auto row = [&](const char *what, double a, double b, double c, const char *unit) {
        std::printf("| %s, %s | %.2f %s | %.2f %s | %.2f %s | %+.2f %s |\n", qPrintable(r.name),
                    what, a, unit, b, unit, c, unit, c - b, unit);
    };
    row("resident memory", r.at[0].rssMb, r.at[1].rssMb, r.at[2].rssMb, "MB");
    row("heap in use", r.at[0].heapMb, r.at[1].heapMb, r.at[2].heapMb, "MB");
    std::printf("| %s, open descriptors | %d | %d | %d | %+d |\n", qPrintable(r.name), r.at[0].fds,
                r.at[1].fds, r.at[2].fds, r.at[2].fds - r.at[1].fds);
    std::printf("| %s: %d ticks, %ld of them writing, %ld requests in %.1f s (%.0f µs per tick) "
                "||||\n",
                qPrintable(r.name), ticks, r.writes, r.requests, r.seconds,
                r.seconds * 1e6 / ticks);
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    bool ok = false;
    int ticks = qEnvironmentVariableIntValue("TAVRIN_SOAK_TICKS", &ok);
    if (!ok || ticks < 10)
        ticks = 100000;
    const int middle = std::max(1, ticks / 10);
    constexpr int ClearEvery = 1000;

    const Run cleared =
        Soak(QStringLiteral("Log cleared every %1 ticks").arg(ClearEvery), ticks, ClearEvery);
    const Run growing = Soak(QStringLiteral("Log growing"), ticks, 0);

    std::printf(
        "\nSoak: %d repeat-job ticks against tavrin-sim (counter stalled), window shown\n\n",
        ticks);
    std::printf("| Measurement | At start | After %d ticks | After %d ticks | Growth after tick "
                "%d |\n",
                middle, ticks, middle);
    std::printf("|---|---:|---:|---:|---:|\n");
    PrintRun(cleared, ticks);
    PrintRun(growing, ticks);

    // Goal: with the log cleared, nothing grows once the run has settled.
    if (cleared.failure.isEmpty()) {
        const double heapGrowth = cleared.at[2].heapMb - cleared.at[1].heapMb;
        const bool pass = heapGrowth < 1.0 && cleared.at[2].fds == cleared.at[0].fds;
        std::printf("\nGoal, log cleared: heap growth after tick %d below 1 MB and no descriptor "
                    "left open: %s (%+.2f MB, %+d descriptors)\n",
                    middle, pass ? "PASS" : "MISS", heapGrowth,
                    cleared.at[2].fds - cleared.at[0].fds);
    }
    return cleared.failure.isEmpty() && growing.failure.isEmpty() ? 0 : 1;
}
