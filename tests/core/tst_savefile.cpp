// Files saved whole or not at all, under a file-size limit as on a full disk.
#include "FileSizeLimit.h"
#include "SaveFile.h"

#include <QDir>
#include <QTemporaryDir>
#include <QtTest>
#include <cerrno>

class TestSaveFile : public QObject {
    Q_OBJECT

    static QByteArray ReadAll(const QString &path) {
        QFile file(path);
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(unreadable)");
    }

private slots:
    // The new content in one write or in many small ones (the log's way),
    // larger or smaller than a buffer of Qt's.
    void sizeLimit_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<int>("pieces");
        QTest::addColumn<int>("limit");
        QTest::newRow("2.5 KB, limit 1 KiB") << 2501 << 1 << 1024;
        QTest::newRow("2.5 KB in 100 writes") << 2501 << 100 << 1024;
        QTest::newRow("100 KB, limit 64 KiB") << 100000 << 1 << 65536;
        QTest::newRow("fits") << 1000 << 10 << 1024;
    }
    void sizeLimit() {
        QFETCH(int, size);
        QFETCH(int, pieces);
        QFETCH(int, limit);
        QTemporaryDir dir;
        const QString path = dir.filePath(QStringLiteral("unit.csv"));
        const QByteArray old(3000, 'o');
        {
            QFile file(path);
            QVERIFY(file.open(QIODevice::WriteOnly));
            QCOMPARE(file.write(old), old.size());
        }
        QByteArray data(size, 'n');
        const auto save = [&] {
            core::SaveFile file(path);
            bool ok = file.Open();
            for (int k = 0; ok && k < pieces; ++k)
                ok = file.Write(QByteArrayView(data).sliced(qsizetype(k) * size / pieces,
                                                            qsizetype(k + 1) * size / pieces -
                                                                qsizetype(k) * size / pieces));
            ok = ok && file.Commit();
            if (!ok)
                file.Cancel();
            return ok ? QByteArray("saved") : file.Error().toUtf8();
        };
        const testsupport::LimitedRun run = testsupport::RunWithFileSizeLimit(rlim_t(limit), save);
        QVERIFY(run.finished);
        const bool fits = size <= limit;
        QCOMPARE(QString::fromUtf8(run.result),
                 fits ? QStringLiteral("saved") : qt_error_string(EFBIG));
        QCOMPARE(ReadAll(path), fits ? data : old);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("unit.csv")});
    }

    void saveBytes_data() {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("saves");
        QTest::newRow("new file") << "new.txt" << true;
        QTest::newRow("over a file") << "old.txt" << true;
        QTest::newRow("a folder") << "folder" << false;
        QTest::newRow("missing folder") << "missing/new.txt" << false;
    }
    void saveBytes() {
        QFETCH(QString, name);
        QFETCH(bool, saves);
        QTemporaryDir dir;
        QVERIFY(QDir(dir.path()).mkdir(QStringLiteral("folder")));
        {
            QFile old(dir.filePath(QStringLiteral("old.txt")));
            QVERIFY(old.open(QIODevice::WriteOnly));
            old.write("old content, longer than the new one");
        }
        const QString path = dir.filePath(name);
        const QString why = core::SaveBytes(path, "new\r\n");
        QCOMPARE(why.isEmpty(), saves);
        if (saves)
            QCOMPARE(ReadAll(path), QByteArray("new\r\n"));
        QStringList files{QStringLiteral("old.txt")};
        if (name == u"new.txt")
            files.prepend(name);
        QCOMPARE(QDir(dir.path()).entryList(QDir::Files), files); // no temporary file left
    }
};

QTEST_GUILESS_MAIN(TestSaveFile)
#include "tst_savefile.moc"
