#include "SaveFile.h"

#include <QIODevice>

#ifdef Q_OS_UNIX
#include <cerrno>
#include <unistd.h>
#endif

namespace core {

bool WriteAll(QIODevice &out, QByteArrayView data) {
    qsizetype done = 0;
    while (done < data.size()) {
        const qint64 n = out.write(data.data() + done, data.size() - done);
        if (n <= 0)
            return false;
        done += qsizetype(n);
    }
    return true;
}

SaveFile::SaveFile(const QString &path) : m_file(path) {}

bool SaveFile::Open() {
    // Unbuffered: a buffered QSaveFile writes its last part in commit(),
    // which this Qt does not fail when that write fails, and the cut file
    // would replace the old one.
    if (!m_file.open(QIODevice::WriteOnly | QIODevice::Unbuffered))
        return Failed(m_file.errorString());
    return true;
}

bool SaveFile::Write(QByteArrayView data) {
    if (!WriteAll(m_file, data))
        return Failed(m_file.errorString());
    return true;
}

bool SaveFile::Commit() {
    if (!m_file.flush())
        return Failed(m_file.errorString());
#ifdef Q_OS_UNIX
    // commit() syncs as well but ignores the outcome; a file system that
    // reports a lost write only here (NFS, a full thin volume) would leave a
    // damaged file in place. Not every file system syncs: that is no failure.
    if (::fsync(m_file.handle()) != 0 && errno != EINVAL && errno != EROFS && errno != ENOTSUP) {
        const QString why = qt_error_string(errno);
        m_file.cancelWriting();
        return Failed(why);
    }
#endif
    if (!m_file.commit())
        return Failed(m_file.errorString());
    return true;
}

void SaveFile::Cancel() {
    m_file.cancelWriting();
}

QString SaveFile::Error() const {
    return m_error;
}

bool SaveFile::Failed(const QString &why) {
    m_error = why;
    return false;
}

QString SaveBytes(const QString &path, QByteArrayView data) {
    SaveFile file(path);
    if (file.Open() && file.Write(data) && file.Commit())
        return QString();
    file.Cancel();
    return file.Error();
}

} // namespace core
