#pragma once
// Root writes through every file mode, so a test of what a mode forbids runs
// again as an unprivileged user: the running test executable is copied into
// a fresh folder under /tmp that only that user may enter, and the current
// test function (and data row) runs there through setpriv. The copy finds
// itself unprivileged and does the checks; the root run checks only that it
// passed. Run by an ordinary user, the checks simply run in place.
//
//   void TestX::readOnlyFile() {
//       TAVRIN_AS_UNPRIVILEGED_USER(); // as root: run this case as nobody, return
//       ... checks that rely on file modes ...
//   }
//
// In the copy, HOME and TMPDIR are that folder (QTemporaryDir makes its
// folders there); a LeakSanitizer suppressions file and the offscreen
// platform's screen description go along with it: nothing the copy reads
// lies in the checkout, which may sit under a folder only root may enter.
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>

#ifdef _WIN32
// Windows has no file modes or numeric users: such a case says so and skips.
// The read-only attribute is covered by the immutable cases (TestFiles.h).
#define TAVRIN_AS_UNPRIVILEGED_USER() QSKIP("file modes and users are POSIX notions")
#else
#include <unistd.h>

namespace testsupport {

constexpr uid_t UnprivilegedId = 65534; // nobody, nogroup

struct ChildRun {
    bool passed = false;
    QByteArray output;
};

inline ChildRun RunCurrentTestUnprivileged() {
    ChildRun run;
    QTemporaryDir dir(QStringLiteral("/tmp/tavrin-user-XXXXXX"));
    const QString self = QCoreApplication::applicationFilePath();
    const QString exe = dir.filePath(QFileInfo(self).fileName());
    if (!dir.isValid() || !QFile::copy(self, exe) ||
        ::chmod(QFile::encodeName(exe).constData(), 0755) != 0 ||
        ::chown(QFile::encodeName(dir.path()).constData(), UnprivilegedId, UnprivilegedId) != 0) {
        run.output = "could not prepare a folder for the unprivileged run";
        return run;
    }

    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("HOME"), dir.path());
    env.insert(QStringLiteral("TMPDIR"), dir.path());
    env.remove(QStringLiteral("XDG_RUNTIME_DIR"));
    // The suppressions file may sit where the user cannot read it (a clone
    // under /root); LeakSanitizer would stop at once.
    QString lsan = env.value(QStringLiteral("LSAN_OPTIONS"));
    // The option itself, not the tail of print_suppressions.
    const QRegularExpression supp(QStringLiteral("(?:^|:)suppressions=([^:]+)"));
    const QRegularExpressionMatch m = supp.match(lsan);
    if (m.hasMatch()) {
        const QString copy = dir.filePath(QStringLiteral("sanitizer.supp"));
        QFile::copy(m.captured(1), copy);
        QFile::setPermissions(copy, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
        lsan.replace(m.capturedStart(1), m.capturedLength(1), copy);
        env.insert(QStringLiteral("LSAN_OPTIONS"), lsan);
    }

    // Likewise the offscreen platform's screen description, which sits in
    // the checkout (a clone under a folder of mode 0700 is out of reach).
    QString platform = env.value(QStringLiteral("QT_QPA_PLATFORM"));
    const QRegularExpression config(QStringLiteral("(?:^|:)configfile=([^:]+)"));
    const QRegularExpressionMatch c = config.match(platform);
    if (c.hasMatch()) {
        const QString copy = dir.filePath(QFileInfo(c.captured(1)).fileName());
        if (!QFile::copy(c.captured(1), copy) ||
            !QFile::setPermissions(copy, QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther)) {
            run.output = "could not copy the screen description " + c.captured(1).toUtf8();
            return run;
        }
        platform.replace(c.capturedStart(1), c.capturedLength(1), copy);
        env.insert(QStringLiteral("QT_QPA_PLATFORM"), platform);
    }

    QString which = QString::fromLatin1(QTest::currentTestFunction());
    if (QTest::currentDataTag())
        which += u':' + QString::fromUtf8(QTest::currentDataTag());
    const QString id = QString::number(UnprivilegedId);
    QProcess p;
    p.setProcessEnvironment(env);
    p.setWorkingDirectory(dir.path());
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(QStringLiteral("setpriv"),
            {QStringLiteral("--reuid=") + id, QStringLiteral("--regid=") + id,
             QStringLiteral("--clear-groups"), QStringLiteral("--"), exe, which});
    if (!p.waitForFinished(90000))
        p.kill();
    p.waitForFinished(5000);
    run.output = p.readAll();
    // Exactly the one case ran, and it neither failed nor was skipped.
    run.passed = p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0 &&
                 run.output.contains(", 0 failed, 0 skipped");
    return run;
}

} // namespace testsupport

#define TAVRIN_AS_UNPRIVILEGED_USER()                                                              \
    do {                                                                                           \
        if (::geteuid() == 0) {                                                                    \
            const testsupport::ChildRun child_ = testsupport::RunCurrentTestUnprivileged();        \
            QVERIFY2(child_.passed, child_.output.constData());                                    \
            return;                                                                                \
        }                                                                                          \
    } while (false)
#endif
