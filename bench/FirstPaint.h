#pragma once
// Start-up probes: reports, on stdout, the moment a window gets its first
// paint event and the process's peak resident memory then, and ends the
// event loop. The parent (tavrin-bench) took CLOCK_MONOTONIC just before it
// spawned the probe, so the difference is the time from process start.
//
//   FIRSTPAINT <paint ns> <frame ns> <VmHWM kB>
//
// <paint ns>: CLOCK_MONOTONIC when the window's own paint event arrives;
// <frame ns>: when the event loop comes round again, that is, once the whole
// first frame (every child painted, the backing store flushed) is done.
#include <QCoreApplication>
#include <QEvent>
#include <QObject>
#include <QTimer>
#include <QWidget>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <ctime>

namespace bench {

inline int64_t MonotonicNs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000000000 + ts.tv_nsec;
}

// Peak resident set of this process in kB (VmHWM), 0 if unknown.
inline long PeakRssKb() {
    long kb = 0;
    if (FILE *f = std::fopen("/proc/self/status", "r")) {
        char line[256];
        while (std::fgets(line, sizeof line, f))
            if (std::strncmp(line, "VmHWM:", 6) == 0) {
                kb = std::strtol(line + 6, nullptr, 10);
                break;
            }
        std::fclose(f);
    }
    return kb;
}

class FirstPaintProbe : public QObject {
public:
    explicit FirstPaintProbe(QWidget *window) : QObject(window), m_window(window) {
        window->installEventFilter(this);
    }

    bool eventFilter(QObject *watched, QEvent *event) override {
        if (watched == m_window && event->type() == QEvent::Paint && m_paintNs == 0) {
            m_paintNs = MonotonicNs();
            m_peakKb = PeakRssKb();
            QTimer::singleShot(0, this, [this] {
                std::printf("FIRSTPAINT %lld %lld %ld\n", static_cast<long long>(m_paintNs),
                            static_cast<long long>(MonotonicNs()), m_peakKb);
                std::fflush(stdout);
                QCoreApplication::exit(0);
            });
        }
        return false;
    }

private:
    QWidget *m_window;
    int64_t m_paintNs = 0;
    long m_peakKb = 0;
};

} // namespace bench
