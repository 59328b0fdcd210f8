#pragma once
// The resident set of this process, for tests that check that it stays flat.
#include <QByteArray>
#include <QFile>

namespace testsupport {

// AddressSanitizer holds freed memory back in its quarantine: the resident
// set then grows with every allocation, whatever the buffers do.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool RssMeaningful = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool RssMeaningful = false;
#else
inline constexpr bool RssMeaningful = true;
#endif
#else
inline constexpr bool RssMeaningful = true;
#endif

// The resident set of this process in KiB; -1 where it cannot be read.
inline long RssKb() {
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n'))
        if (line.startsWith("VmRSS:"))
            return line.mid(6).trimmed().split(' ').value(0).toLong();
    return -1;
}

} // namespace testsupport
