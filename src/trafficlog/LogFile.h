#pragma once
// The traffic log as a text file: each line after its local time with
// milliseconds, a "Receive: " line also after the round trip of its exchange
// (from the "Send: " line before it), CR LF line ends, UTF-8.
#include <QString>
#include <cstdint>
#include <functional>

class QIODevice;

namespace trafficlog {

class LogStore;

// Local wall time "yyyy-MM-dd HH:mm:ss.zzz" of microseconds since the epoch.
// The zone offset is looked up once per quarter of an hour (offsets change
// only at such boundaries), so a long log formats at memcpy-like speed.
class LocalTimeText {
public:
    static constexpr int Size = 23;
    void Write(int64_t microseconds, char *out);

private:
    int64_t m_quarter = INT64_MIN;
    int m_offset = 0; // seconds east of UTC
};

// Writes the first `count` lines. progress(done) is called every few
// thousand lines; returning false stops the write. A log edited in between
// (anything but lines added at the end) stops it too, with a reason.
bool WriteLog(const LogStore &store, qsizetype count, QIODevice &out,
              const std::function<bool(qsizetype)> &progress, QString *error);

// Writes the first `count` lines to path through a temporary file
// (core::SaveFile): a save that fails or that progress stops leaves the file
// there as it was. On a failure error says why (empty when stopped).
bool SaveLog(const LogStore &store, qsizetype count, const QString &path,
             const std::function<bool(qsizetype)> &progress, QString *error);

} // namespace trafficlog
