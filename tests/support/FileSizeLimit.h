#pragma once
// A file-size limit, the way to make a save fail part-way as a full disk
// does: fn runs in a child process (fork) whose files may grow to `limit`
// bytes at most (RLIMIT_FSIZE), with SIGXFSZ ignored so that a write past
// the limit fails with EFBIG instead of ending the child. fn's result comes
// back through a pipe; the test process itself keeps its limit. fn must not
// use the QTest macros (it runs in the child): it returns what the parent
// checks. The child leaves by _exit, so nothing of the parent's (windows,
// simulator processes, temporary folders) is torn down twice.
#include <QByteArray>
#include <functional>

#include <cerrno>
#include <csignal>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testsupport {

struct LimitedRun {
    bool finished = false; // the child ran fn and exited normally
    QByteArray result;
};

inline LimitedRun RunWithFileSizeLimit(rlim_t limit, const std::function<QByteArray()> &fn) {
    LimitedRun run;
    int pipeFds[2];
    if (::pipe(pipeFds) != 0)
        return run;
    const pid_t pid = ::fork();
    if (pid < 0) {
        ::close(pipeFds[0]);
        ::close(pipeFds[1]);
        return run;
    }
    if (pid == 0) {
        ::close(pipeFds[0]);
        ::signal(SIGXFSZ, SIG_IGN);
        rlimit r{};
        ::getrlimit(RLIMIT_FSIZE, &r);
        r.rlim_cur = limit;
        if (::setrlimit(RLIMIT_FSIZE, &r) != 0)
            ::_exit(2);
        const QByteArray out = fn();
        for (qsizetype done = 0; done < out.size();) {
            const ssize_t n =
                ::write(pipeFds[1], out.constData() + done, size_t(out.size() - done));
            if (n <= 0)
                ::_exit(3);
            done += n;
        }
        ::_exit(0);
    }
    ::close(pipeFds[1]);
    char buffer[4096];
    for (;;) {
        const ssize_t n = ::read(pipeFds[0], buffer, sizeof buffer);
        if (n <= 0)
            break;
        run.result.append(buffer, qsizetype(n));
    }
    ::close(pipeFds[0]);
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    run.finished = WIFEXITED(status) && WEXITSTATUS(status) == 0;
    return run;
}

} // namespace testsupport
