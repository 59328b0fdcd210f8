// POSIX sockets behind Platform.h.
#include "Platform.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/types.h>
#include <system_error>
#include <unistd.h>

namespace tcp::platform {

namespace {

int Fd(Socket s) {
    return static_cast<int>(s);
}

#ifdef MSG_NOSIGNAL
constexpr int SendFlags = MSG_NOSIGNAL;
#else
constexpr int SendFlags = 0; // SO_NOSIGPIPE is set on the socket instead
#endif

} // namespace

Failure Classify(int err) {
    switch (err) {
    case EAGAIN:
#if EWOULDBLOCK != EAGAIN
    case EWOULDBLOCK:
#endif
        return Failure::TimedOut;
    case ECONNRESET:
    case ECONNABORTED:
    case ENOTCONN:
    case ESHUTDOWN:
    case EPIPE:
    case ENETRESET:
    // On POSIX a receive time-out is EAGAIN; ETIMEDOUT means the stack gave
    // the connection up (retransmission or keep-alive), so it is lost.
    case ETIMEDOUT:
        return Failure::ConnectionLost;
    default:
        return Failure::Other;
    }
}

std::string ErrorText(int err) {
    return std::system_category().message(err);
}

bool ParseDottedIPv4(const std::string &text, uint32_t &address) {
    in_addr a{};
    if (inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    address = ntohl(a.s_addr);
    return true;
}

bool SystemResolveIPv4(const std::string &host, uint32_t &address, int &err, std::string &text) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *list = nullptr;
    int rc;
    do {
        rc = getaddrinfo(host.c_str(), nullptr, &hints, &list);
    } while (rc == EAI_SYSTEM && errno == EINTR);
    if (rc != 0) {
        if (rc == EAI_SYSTEM) {
            err = errno;
            text = ErrorText(err);
        } else {
            err = rc;
            text = gai_strerror(rc);
        }
        return false;
    }
    bool found = false;
    for (const addrinfo *p = list; p; p = p->ai_next) {
        if (p->ai_family == AF_INET && p->ai_addrlen >= sizeof(sockaddr_in)) {
            address = ntohl(reinterpret_cast<const sockaddr_in *>(p->ai_addr)->sin_addr.s_addr);
            found = true;
            break;
        }
    }
    freeaddrinfo(list);
    if (!found) {
        err = EAI_NONAME;
        text = gai_strerror(EAI_NONAME);
    }
    return found;
}

Socket OpenStream(int &err) {
#ifdef SOCK_CLOEXEC
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
#else
    const int fd = ::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    if (fd >= 0)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
#endif
    if (fd < 0) {
        err = errno;
        return InvalidSocket;
    }
#if !defined(MSG_NOSIGNAL) && defined(SO_NOSIGPIPE)
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_NOSIGPIPE, &one, sizeof one);
#endif
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = 0;
    if (::bind(fd, reinterpret_cast<const sockaddr *>(&any), sizeof any) != 0) {
        err = errno;
        ::close(fd);
        return InvalidSocket;
    }
    return fd;
}

bool SetNoDelay(Socket s, int &err) {
    const int one = 1;
    if (::setsockopt(Fd(s), IPPROTO_TCP, TCP_NODELAY, &one, sizeof one) != 0) {
        err = errno;
        return false;
    }
    return true;
}

bool NoDelay(Socket s) {
    int value = 0;
    socklen_t len = sizeof value;
    return ::getsockopt(Fd(s), IPPROTO_TCP, TCP_NODELAY, &value, &len) == 0 && value != 0;
}

namespace {

// poll() for one descriptor, EINTR retried against the original deadline.
// Returns 1 ready, 0 time-out, -1 failure.
int PollFor(int fd, short events, int timeoutMs, int &err) {
    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs < 0 ? 0 : timeoutMs);
    pollfd p{fd, events, 0};
    for (;;) {
        int wait = -1;
        if (timeoutMs >= 0) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            wait = left.count() > 0 ? static_cast<int>(left.count()) : 0;
        }
        const int rc = ::poll(&p, 1, wait);
        if (rc >= 0)
            return rc > 0 ? 1 : 0;
        if (errno != EINTR) {
            err = errno;
            return -1;
        }
    }
}

// Waits for a connect in progress to end and returns its outcome; ETIMEDOUT
// when it has not ended within timeoutMs.
bool FinishConnect(int fd, int timeoutMs, int &err) {
    const int rc = PollFor(fd, POLLOUT, timeoutMs, err);
    if (rc < 0)
        return false;
    if (rc == 0) {
        err = ETIMEDOUT;
        return false;
    }
    int soerr = 0;
    socklen_t len = sizeof soerr;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &soerr, &len) != 0) {
        err = errno;
        return false;
    }
    if (soerr != 0) {
        err = soerr;
        return false;
    }
    return true;
}

} // namespace

bool Connect(Socket s, const Endpoint &to, int timeoutMs, int &err) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(to.address);
    addr.sin_port = htons(to.port);
    const int fd = Fd(s);

    // The attempt runs non-blocking, so that it ends at its limit rather than
    // at the kernel's own SYN time-out, and the socket is blocking again
    // afterwards. Refusals and unreachable hosts still end at once.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) < 0) {
        err = errno;
        return false;
    }
    bool ok = ::connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
    if (!ok) {
        // An interrupted connect goes on in the background like one in progress.
        if (errno == EINPROGRESS || errno == EINTR)
            ok = FinishConnect(fd, timeoutMs < 0 ? DefaultConnectTimeoutMs : timeoutMs, err);
        else
            err = errno;
    }
    if (::fcntl(fd, F_SETFL, flags) < 0 && ok) {
        err = errno;
        ok = false;
    }
    return ok;
}

int WaitReadable(Socket s, int timeoutMs, int &err) {
    // POLLIN, POLLHUP or POLLERR all count: the next receive tells which.
    return PollFor(Fd(s), POLLIN, timeoutMs, err);
}

std::ptrdiff_t Receive(Socket s, uint8_t *buf, size_t n, int &err) {
    for (;;) {
        const ssize_t got = ::recv(Fd(s), buf, n, MSG_DONTWAIT);
        if (got >= 0)
            return got;
        if (errno != EINTR) {
            err = errno;
            return -1;
        }
    }
}

std::ptrdiff_t Send(Socket s, const uint8_t *buf, size_t n, int &err) {
    for (;;) {
        const ssize_t sent = ::send(Fd(s), buf, n, SendFlags);
        if (sent >= 0)
            return sent;
        if (errno != EINTR) {
            err = errno;
            return -1;
        }
    }
}

int WaitWritable(Socket s, int timeoutMs, int &err) {
    return PollFor(Fd(s), POLLOUT, timeoutMs, err);
}

std::ptrdiff_t SendSome(Socket s, const uint8_t *buf, size_t n, int &err) {
    for (;;) {
        const ssize_t sent = ::send(Fd(s), buf, n, SendFlags | MSG_DONTWAIT);
        if (sent >= 0)
            return sent;
        if (errno != EINTR) {
            err = errno;
            return -1;
        }
    }
}

void ShutdownAndClose(Socket &s) {
    if (s == InvalidSocket)
        return;
    ::shutdown(Fd(s), SHUT_WR);
    // close() is not retried on EINTR: the descriptor is gone either way.
    ::close(Fd(s));
    s = InvalidSocket;
}

} // namespace tcp::platform
