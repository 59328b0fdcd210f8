#pragma once
// Files replaced whole or not at all. QSaveFile writes a temporary file
// beside the target and renames it over the target on commit, so a save that
// fails leaves the old file as it was; this wrapper makes every failure on
// the way (write, flush to the disk, rename) one that the caller is told.
// Qt Core only.
#include <QByteArrayView>
#include <QSaveFile>
#include <QString>

class QIODevice;

namespace core {

// Writes all of data. A write cut short (the file reached the size limit,
// the disk filled up) is tried again for the rest, so that the system says
// why it stopped; out.errorString() then holds that reason.
bool WriteAll(QIODevice &out, QByteArrayView data);

class SaveFile {
public:
    explicit SaveFile(const QString &path);
    SaveFile(const SaveFile &) = delete;
    SaveFile &operator=(const SaveFile &) = delete;

    bool Open();
    bool Write(QByteArrayView data);
    // Flushes the data to the disk and renames the file into place.
    bool Commit();
    // Drops the temporary file; the old file stays.
    void Cancel();

    // For writers that take a device; their failures are the device's.
    QIODevice &Device() { return m_file; }
    // Why the last step failed: the system's words.
    QString Error() const;

private:
    bool Failed(const QString &why);

    QSaveFile m_file;
    QString m_error;
};

// The whole save in one: an empty string when path holds data, else why not.
QString SaveBytes(const QString &path, QByteArrayView data);

} // namespace core
