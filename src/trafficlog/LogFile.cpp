#include "LogFile.h"
#include "LogStore.h"
#include "SaveFile.h"

#include <QByteArray>
#include <QCoreApplication>
#include <QDateTime>
#include <QIODevice>

#include <algorithm>
#include <cstdio>

namespace trafficlog {

namespace {

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

char *Digits(char *p, int64_t value, int width) {
    for (int i = width - 1; i >= 0; --i) {
        p[i] = char('0' + value % 10);
        value /= 10;
    }
    return p + width;
}

// Proleptic Gregorian date of a day count since 1970-01-01.
void CivilFromDays(int64_t days, int64_t &y, int &m, int &d) {
    days += 719468;
    const int64_t era = FloorDiv(days, 146097);
    const int64_t doe = days - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    d = int(doy - (153 * mp + 2) / 5 + 1);
    m = int(mp < 10 ? mp + 3 : mp - 9);
    y = yoe + era * 400 + (m <= 2);
}

bool StartsWith(QByteArrayView text, const char *prefix) {
    return text.startsWith(QByteArrayView(prefix));
}

} // namespace

void LocalTimeText::Write(int64_t microseconds, char *out) {
    const int64_t ms = FloorDiv(microseconds, 1000);
    const int64_t secs = FloorDiv(ms, 1000);
    const int64_t quarter = FloorDiv(secs, 900);
    if (quarter != m_quarter) {
        m_quarter = quarter;
        m_offset = QDateTime::fromSecsSinceEpoch(quarter * 900).offsetFromUtc();
    }
    const int64_t local = secs + m_offset;
    const int64_t days = FloorDiv(local, 86400);
    const int64_t daySecs = local - days * 86400;
    int64_t y;
    int m, d;
    CivilFromDays(days, y, m, d);
    char *p = Digits(out, y, 4);
    *p++ = '-';
    p = Digits(p, m, 2);
    *p++ = '-';
    p = Digits(p, d, 2);
    *p++ = ' ';
    p = Digits(p, daySecs / 3600, 2);
    *p++ = ':';
    p = Digits(p, daySecs / 60 % 60, 2);
    *p++ = ':';
    p = Digits(p, daySecs % 60, 2);
    *p++ = '.';
    Digits(p, ms - secs * 1000, 3);
}

bool WriteLog(const LogStore &store, qsizetype count, QIODevice &out,
              const std::function<bool(qsizetype)> &progress, QString *error) {
    constexpr qsizetype FlushAt = 1 << 20;
    constexpr qsizetype ProgressEvery = 16384;
    const uint64_t generation = store.Generation();
    LocalTimeText clock;
    QByteArray buffer;
    buffer.reserve(FlushAt + 4096);
    int64_t sendTime = -1;
    const auto flush = [&] {
        if (!core::WriteAll(out, buffer)) {
            if (error)
                *error = out.errorString();
            return false;
        }
        buffer.clear();
        return true;
    };
    for (qsizetype i = 0; i < count; ++i) {
        if (i % ProgressEvery == 0 && i > 0) {
            if (progress && !progress(i))
                return false;
            if (store.Generation() != generation || store.Count() < count) {
                if (error)
                    *error = QCoreApplication::translate("TMemo",
                                                         "the log was changed while it was saved");
                return false;
            }
        }
        int64_t time = 0;
        const QByteArrayView text = store.Utf8(i, &time);
        char head[LocalTimeText::Size + 40];
        clock.Write(time, head);
        char *p = head + LocalTimeText::Size;
        *p++ = ' ';
        if (StartsWith(text, "Send: ")) {
            sendTime = time;
        } else if (sendTime >= 0 && StartsWith(text, "Receive: ")) {
            // Round trip with microseconds: on a LAN it is often below 1 ms.
            const int64_t us = std::max<int64_t>(time - sendTime, 0);
            p += std::snprintf(p, 32, "(%lld.%03lld ms) ", static_cast<long long>(us / 1000),
                               static_cast<long long>(us % 1000));
            sendTime = -1;
        }
        buffer.append(head, p - head);
        buffer.append(text.data(), text.size());
        buffer.append("\r\n", 2);
        if (buffer.size() >= FlushAt && !flush())
            return false;
    }
    if (progress && !progress(count))
        return false;
    return flush();
}

bool SaveLog(const LogStore &store, qsizetype count, const QString &path,
             const std::function<bool(qsizetype)> &progress, QString *error) {
    bool stopped = false;
    const auto step = [&](qsizetype done) {
        stopped = progress && !progress(done);
        return !stopped;
    };
    QString why;
    core::SaveFile file(path);
    if (!file.Open()) {
        why = file.Error();
    } else if (!WriteLog(store, count, file.Device(), step, &why)) {
        file.Cancel();
        if (why.isEmpty() && !stopped)
            why = file.Device().errorString();
    } else if (file.Commit()) {
        return true;
    } else {
        why = file.Error();
    }
    if (error)
        *error = why;
    return false;
}

} // namespace trafficlog
