#pragma once
// File helpers shared by the settings-file tests: whole-file bytes, folder
// listings and the immutable attribute (root writes through mode bits, so a
// mode change alone does not protect anything there). On Windows the
// read-only attribute stands in for it, and there is no per-process file
// size limit.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QString>
#include <QStringList>

#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace testfiles {

inline QByteArray ReadBytes(const QString &path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

inline bool WriteBytes(const QString &path, const QByteArray &bytes) {
    QFile f(path);
    return f.open(QIODevice::WriteOnly | QIODevice::Truncate) && f.write(bytes) == bytes.size();
}

inline QByteArray CrLf(const QStringList &lines) {
    QByteArray out;
    for (const QString &l : lines)
        out += l.toUtf8() + "\r\n";
    return out;
}

// Every entry of a folder, hidden ones included (a leftover temporary file
// would be hidden).
inline QStringList Entries(const QString &dir) {
    return QDir(dir).entryList(
        QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

#ifdef _WIN32
inline bool SetImmutable(const QString &path, bool on) {
    const std::wstring native = QDir::toNativeSeparators(path).toStdWString();
    const DWORD attributes = GetFileAttributesW(native.c_str());
    // A folder's read-only attribute does not keep files in it from change.
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    const DWORD wanted = on ? (attributes | FILE_ATTRIBUTE_READONLY)
                            : (attributes & ~DWORD(FILE_ATTRIBUTE_READONLY));
    return SetFileAttributesW(native.c_str(), wanted) != 0;
}
#else
inline bool SetImmutable(const QString &path, bool on) {
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return false;
    int flags = 0;
    bool ok = ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
    if (ok) {
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        ok = ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
    }
    ::close(fd);
    return ok;
}
#endif

// Sets the immutable attribute for its lifetime; undone on destruction and,
// for anything left over, by UndoAll() (call it from cleanup()).
class Immutable {
public:
    explicit Immutable(const QString &path) : m_path(path), m_on(SetImmutable(path, true)) {
        if (m_on)
            Pending().push_back(path);
    }
    ~Immutable() { Release(); }
    Immutable(const Immutable &) = delete;
    Immutable &operator=(const Immutable &) = delete;

    bool IsOn() const { return m_on; }
    void Release() {
        if (!m_on)
            return;
        SetImmutable(m_path, false);
        m_on = false;
        std::erase(Pending(), m_path);
    }

    static void UndoAll() {
        for (const QString &p : Pending())
            SetImmutable(p, false);
        Pending().clear();
    }

private:
    static std::vector<QString> &Pending() {
        static std::vector<QString> paths;
        return paths;
    }
    QString m_path;
    bool m_on;
};

#ifdef _WIN32
using rlim_t = qint64;
// No per-process file size limit on Windows: the full-disk cases skip.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t) {}
    bool IsOn() const { return false; }
    void Release() {}
};
#else
// A full disk, for this process only: while it lives, a write that would take
// any file past `bytes` fails (EFBIG) instead of raising SIGXFSZ.
class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes) {
        m_oldHandler = std::signal(SIGXFSZ, SIG_IGN);
        m_on = ::getrlimit(RLIMIT_FSIZE, &m_old) == 0;
        rlimit limit = m_old;
        limit.rlim_cur = bytes;
        m_on = m_on && ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    }
    ~FileSizeLimit() { Release(); }
    FileSizeLimit(const FileSizeLimit &) = delete;
    FileSizeLimit &operator=(const FileSizeLimit &) = delete;

    bool IsOn() const { return m_on; }
    void Release() {
        if (!m_on)
            return;
        ::setrlimit(RLIMIT_FSIZE, &m_old);
        std::signal(SIGXFSZ, m_oldHandler);
        m_on = false;
    }

private:
    rlimit m_old{};
    void (*m_oldHandler)(int) = SIG_DFL;
    bool m_on = false;
};
#endif

} // namespace testfiles
