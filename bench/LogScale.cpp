// tavrin-log-scale: the traffic log as a repeat job grows it for weeks,
// beside a plain QPlainTextEdit in the same run.
//
// Each log runs in a child process of its own (this program with "child"),
// so that its resident memory is its own: the window-sized log is shown, the
// lines of one repeat-job exchange (the "Send: " line of a one-register
// read, its "Receive: " line with CR LF) are added as the window adds them,
// and at 10,000, 100,000 and 1,000,000 exchanges the child reports the
// median cost of the last 2,000 exchanges and the resident memory gained
// per exchange. A third child fills a log with 2,000,000 lines and saves it.
//
// Environment: TAVRIN_BENCH_LOG_MAX (largest exchange count, default
// 1000000; the plain edit needs about 2 GB there).
#include "FirstPaint.h"
#include "Hex.h"
#include "Memo.h"

#include <QApplication>
#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QPlainTextEdit>
#include <QProcess>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QThread>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <vector>

namespace {

using bench::MonotonicNs;

long RssKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : f.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

double Median(std::vector<double> v) {
    if (v.empty())
        return NAN;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The two lines of a repeat-job read of register 40002 (ReadRegister(1)).
struct Exchange {
    QString send, receive;
};
Exchange RepeatJobExchange(uint32_t k) {
    const uint8_t t0 = uint8_t(k >> 8), t1 = uint8_t(k);
    const uint8_t request[] = {t0, t1, 0, 1, 0, 6, 1, 3, 0, 1, 0, 1};
    const uint8_t answer[] = {t0, t1, 0, 1, 0, 5, 1, 3, 2, uint8_t(k >> 10), uint8_t(k >> 2)};
    return {QStringLiteral("Send: ") + core::HexRendering(request),
            QStringLiteral("Receive: ") + core::HexRendering(answer) + QStringLiteral("\r\n")};
}
// A read all: 12-byte request, 519-byte answer.
Exchange ReadAllExchange(uint32_t k) {
    uint8_t request[] = {uint8_t(k >> 8), uint8_t(k), 0, 1, 0, 6, 1, 3, 0, 0, 0, 0xFF};
    std::vector<uint8_t> answer(519);
    for (size_t i = 0; i < answer.size(); ++i)
        answer[i] = uint8_t(i * 7 + k);
    return {QStringLiteral("Send: ") + core::HexRendering(request),
            QStringLiteral("Receive: ") + core::HexRendering(answer) + QStringLiteral("\r\n")};
}

// The log as the window had it before: a plain text edit.
class PlainLog : public QPlainTextEdit {
public:
    PlainLog() {
        setLineWrapMode(QPlainTextEdit::WidgetWidth);
        setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
        viewport()->setAutoFillBackground(false);
    }
    void AddLine(const QString &line) {
        QString s = line;
        s.replace(QLatin1String("\r\n"), QLatin1String("\n"));
        appendPlainText(s);
        verticalScrollBar()->setValue(verticalScrollBar()->maximum());
    }
};

struct Log {
    QWidget *widget;
    std::function<void(const QString &)> add;
    std::function<void()> clear;
    std::function<size_t()> storeBytes;
};

void Settle() {
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents();
}

int Child(const QString &kind, const std::vector<long> &at) {
    std::unique_ptr<ui::TMemo> memo;
    std::unique_ptr<PlainLog> plain;
    Log log;
    if (kind == QStringLiteral("memo")) {
        memo = std::make_unique<ui::TMemo>();
        log = {memo.get(), [&](const QString &l) { memo->AddLine(l); }, [&] { memo->clear(); },
               [&] { return memo->Store().MemoryBytes(); }};
    } else {
        plain = std::make_unique<PlainLog>();
        plain->setFont(ui::TMemo::DefaultFont());
        log = {plain.get(), [&](const QString &l) { plain->AddLine(l); }, [&] { plain->clear(); },
               [] { return size_t(0); }};
    }
    log.widget->resize(694, 526); // the log's place in the window at its design size
    log.widget->show();
    Settle();

    // Read-all exchanges: adding their lines, and the repaint after them.
    std::vector<double> addAll, paintAll;
    for (int k = -50; k < 300; ++k) {
        const Exchange e = ReadAllExchange(uint32_t(k));
        int64_t t0 = MonotonicNs();
        log.add(e.send);
        log.add(e.receive);
        const double addUs = double(MonotonicNs() - t0) / 1000;
        t0 = MonotonicNs();
        log.widget->repaint();
        const double paintUs = double(MonotonicNs() - t0) / 1000;
        if (k >= 0)
            addAll.push_back(addUs), paintAll.push_back(paintUs);
    }
    std::printf("READALL %.2f %.2f\n", Median(addAll), Median(paintAll));
    log.clear();
    Settle();

    // Repeat-job exchanges from an empty log.
    const long rss0 = RssKb();
    constexpr size_t Window = 2000;
    std::vector<double> ring(Window);
    long n = 0;
    for (long target : at) {
        for (; n < target; ++n) {
            const Exchange e = RepeatJobExchange(uint32_t(n));
            const int64_t t0 = MonotonicNs();
            log.add(e.send);
            log.add(e.receive);
            ring[size_t(n) % Window] = double(MonotonicNs() - t0) / 1000;
            if (n % 100 == 99)
                QCoreApplication::processEvents(); // paints, off the clock
        }
        Settle();
        const long rss = RssKb();
        std::printf("AT %ld %.3f %.1f %.1f\n", n, Median(ring),
                    double(rss - rss0) * 1024.0 / double(n), double(log.storeBytes()) / double(n));
        std::fflush(stdout);
    }
    return 0;
}

int SaveChild(long lines) {
    ui::TMemo log;
    for (long k = 0; log.Store().Count() < lines; ++k) {
        const Exchange e = RepeatJobExchange(uint32_t(k));
        log.AddLine(e.send);
        if (log.Store().Count() < lines - 1)
            log.AddLine(e.receive);
        else if (log.Store().Count() < lines)
            log.AddLine(e.receive.chopped(2));
    }
    // Shown and painted, as in the window: the fonts are loaded before the
    // progress dialog needs one.
    log.resize(694, 526);
    log.show();
    Settle();
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("log.txt"));
    const int64_t t0 = MonotonicNs();
    const bool ok = log.SaveLog(path);
    const double ms = double(MonotonicNs() - t0) / 1e6;
    std::printf("SAVE %lld %.1f %lld %d\n", static_cast<long long>(log.Store().Count()), ms,
                static_cast<long long>(QFileInfo(path).size()), ok ? 1 : 0);
    return ok ? 0 : 1;
}

struct ChildResult {
    double addAllUs = NAN, paintAllUs = NAN;
    std::map<long, std::vector<double>> at; // n -> {us, rss bytes, store bytes}
    QString error;
};

ChildResult RunChild(const QStringList &args) {
    ChildResult r;
    QProcess p;
    p.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    p.start(QCoreApplication::applicationFilePath(), args);
    if (!p.waitForFinished(-1) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
        r.error = QStringLiteral("%1 ended with %2").arg(args.join(u' ')).arg(p.exitCode());
    for (const QByteArray &line : p.readAllStandardOutput().split('\n')) {
        const QList<QByteArray> f = line.split(' ');
        if (f.value(0) == "READALL" && f.size() >= 3) {
            r.addAllUs = f[1].toDouble();
            r.paintAllUs = f[2].toDouble();
        } else if (f.value(0) == "AT" && f.size() >= 5) {
            r.at[f[1].toLong()] = {f[2].toDouble(), f[3].toDouble(), f[4].toDouble()};
        } else if (f.value(0) == "SAVE" && f.size() >= 5) {
            r.at[f[1].toLong()] = {f[2].toDouble(), f[3].toDouble(), f[4].toDouble()};
        }
    }
    return r;
}

QString Num(double x, int decimals = 1) {
    return std::isnan(x) ? QStringLiteral("—") : QString::number(x, 'f', decimals);
}
QString Result(bool ok) {
    return ok ? QStringLiteral("PASS") : QStringLiteral("MISS");
}

} // namespace

int main(int argc, char *argv[]) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.value(1) == QStringLiteral("child")) {
        std::vector<long> at;
        for (const QString &s : args.value(3).split(u','))
            at.push_back(s.toLong());
        return Child(args.value(2), at);
    }
    if (args.value(1) == QStringLiteral("save"))
        return SaveChild(args.value(2).toLong());

    bool ok = false;
    long max = qEnvironmentVariableIntValue("TAVRIN_BENCH_LOG_MAX", &ok);
    if (!ok || max <= 0)
        max = 1000000;
    QStringList points;
    std::vector<long> scale;
    for (long n : {10000L, 100000L, 1000000L})
        if (n <= max)
            points << QString::number(n), scale.push_back(n);
    const ChildResult memo =
        RunChild({QStringLiteral("child"), QStringLiteral("memo"), points.join(u',')});
    const ChildResult plain =
        RunChild({QStringLiteral("child"), QStringLiteral("plain"), points.join(u',')});
    constexpr long SaveLines = 2000000;
    const ChildResult save = RunChild({QStringLiteral("save"), QString::number(SaveLines)});

    std::printf(
        "Traffic log at scale, %s, nproc %d, QT_QPA_PLATFORM=%s; one exchange = the "
        "\"Send: \" and \"Receive: \" lines of a repeat-job read (an empty line "
        "follows), %d characters\n\n",
        qPrintable(QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm"))),
        QThread::idealThreadCount(), qgetenv("QT_QPA_PLATFORM").constData(),
        int(RepeatJobExchange(0).send.size() + RepeatJobExchange(0).receive.size()));
    std::printf("| Measurement | Tavrin log | QPlainTextEdit | Goal | Result |\n");
    std::printf("|---|---:|---:|---|---|\n");
    const auto get = [](const ChildResult &r, long n, size_t i) {
        const auto it = r.at.find(n);
        return it == r.at.end() ? NAN : it->second[i];
    };
    for (long n : scale) {
        const double m = get(memo, n, 0), p = get(plain, n, 0);
        std::printf("| Append cost per exchange at %ld exchanges (median of the last 2,000) | "
                    "%s µs | %s µs | — | — |\n",
                    n, qPrintable(Num(m, 2)), qPrintable(Num(p, 2)));
    }
    for (long n : scale) {
        const double m = get(memo, n, 1), p = get(plain, n, 1);
        std::printf("| Resident memory per exchange at %ld exchanges (times included) | %s B "
                    "(store %s B) | %s B | ≤ 160 B | %s |\n",
                    n, qPrintable(Num(m, 0)), qPrintable(Num(get(memo, n, 2), 0)),
                    qPrintable(Num(p, 0)), qPrintable(Result(m <= 160)));
    }
    if (scale.size() >= 2) {
        const double first = get(memo, scale.front(), 0), last = get(memo, scale.back(), 0);
        std::printf("| Append cost at %ld beside %ld exchanges | %sx | %sx | ≤ 1.2x | %s |\n",
                    scale.back(), scale.front(), qPrintable(Num(last / first, 2)),
                    qPrintable(Num(get(plain, scale.back(), 0) / get(plain, scale.front(), 0), 2)),
                    qPrintable(Result(last <= 1.2 * first)));
    }
    std::printf("| Read all: adding its two lines (1557-character answer), median | %s µs | %s "
                "µs | — | — |\n",
                qPrintable(Num(memo.addAllUs, 1)), qPrintable(Num(plain.addAllUs, 1)));
    std::printf("| Read all: repaint of the log after it, median | %s µs | %s µs | no slower "
                "than QPlainTextEdit | %s |\n",
                qPrintable(Num(memo.paintAllUs, 1)), qPrintable(Num(plain.paintAllUs, 1)),
                qPrintable(Result(memo.paintAllUs <= plain.paintAllUs)));
    const double saveMs = get(save, SaveLines, 0);
    std::printf("| Save log: %ld lines, %s MB file | %s ms | — | < 2000 ms | %s |\n", SaveLines,
                qPrintable(Num(get(save, SaveLines, 1) / 1e6, 0)), qPrintable(Num(saveMs, 0)),
                qPrintable(Result(saveMs < 2000)));
    for (const ChildResult *r : {&memo, &plain, &save})
        if (!r->error.isEmpty())
            std::printf("\n- %s\n", qPrintable(r->error));
    std::fflush(stdout);
    return memo.error.isEmpty() && plain.error.isEmpty() && save.error.isEmpty() ? 0 : 1;
}
