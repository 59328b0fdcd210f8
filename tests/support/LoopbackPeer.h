#pragma once
// A scripted peer on 127.0.0.1 for tests, driven from the test's own thread
// (a blocking connect to it completes in the kernel's backlog before Accept).
// Header-only; POSIX sockets or Winsock.
//
//   testsupport::Listener listener;           // bound on 127.0.0.1:<ephemeral>
//   client.Host = "127.0.0.1"; client.Port = listener.Port(); client.Connect();
//   testsupport::Peer peer = listener.Accept(); // bounded wait; !peer.Valid() if none came
//   peer.Send(QByteArray::fromHex("0001..."));
//   QByteArray got = peer.Receive(16);       // exactly 16 bytes, or fewer after a time-out / close
//   peer.ShutdownAndWaitAcked();             // FIN sent and acknowledged: the client's
//                                            // kernel has it, its next read sees the close
//   peer.Abort();                            // RST (SO_LINGER 0) and close
//   auto end = peer.ReadToEnd(got);          // Peer::End::Eof / Reset / Timeout
//   QByteArray some = peer.ReceiveSome();    // one receive of whatever has arrived (bounded wait)
//   peer.Readable(ms);                       // bytes or a close arrive within ms
//   testsupport::Peer c = testsupport::ConnectTo(port); // a plain client to 127.0.0.1:port
//   listener.HasPendingConnection();         // a connection waits in the backlog (no waiting)
//   quint16 port = testsupport::RefusedPort(); // nothing listens there: bound, read back, closed
//   testsupport::SilentListener silent;      // on 127.0.0.1, its accept queue full: a SYN to
//                                            // silent.Port() gets no answer
#include <QByteArray>
#include <QDeadlineTimer>
#include <QThread>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <utility>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace testsupport {

// The few socket calls that differ between POSIX and Winsock.
namespace sock {
#ifdef _WIN32
using Fd = intptr_t;
using Len = int;
inline const bool Started = [] {
    WSADATA data{};
    return WSAStartup(MAKEWORD(2, 2), &data) == 0;
}();
// The system's codes for a refused connection and a connect that timed out.
constexpr int RefusedCode = WSAECONNREFUSED;
constexpr int TimedOutCode = WSAETIMEDOUT;
inline Fd Open(bool nonBlocking = false) {
    const SOCKET s = ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                                  0x80 /* WSA_FLAG_NO_HANDLE_INHERIT */);
    if (s != INVALID_SOCKET && nonBlocking) {
        u_long on = 1;
        ::ioctlsocket(s, static_cast<long>(FIONBIO), &on);
    }
    return s == INVALID_SOCKET ? -1 : Fd(s);
}
inline SOCKET Native(Fd fd) {
    return SOCKET(fd);
}
inline void Close(Fd fd) {
    ::closesocket(SOCKET(fd));
}
inline int Poll(pollfd *p, int n, int ms) {
    return ::WSAPoll(p, ULONG(n), ms);
}
inline bool Interrupted() {
    return false;
}
inline bool InProgress() {
    return WSAGetLastError() == WSAEWOULDBLOCK;
}
inline Fd Accept(Fd fd) {
    const SOCKET s = ::accept(SOCKET(fd), nullptr, nullptr);
    return s == INVALID_SOCKET ? -1 : Fd(s);
}
inline long long Send(Fd fd, const char *p, size_t n) {
    return ::send(SOCKET(fd), p, int(n), 0);
}
inline long long Recv(Fd fd, char *p, size_t n) {
    return ::recv(SOCKET(fd), p, int(n), 0);
}
inline bool ShutdownSend(Fd fd) {
    return ::shutdown(SOCKET(fd), SD_SEND) == 0;
}
inline void Linger0(Fd fd) {
    linger l{1, 0};
    ::setsockopt(SOCKET(fd), SOL_SOCKET, SO_LINGER, reinterpret_cast<const char *>(&l), sizeof l);
}
inline void NoDelay(Fd fd) {
    const BOOL one = TRUE;
    ::setsockopt(SOCKET(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one),
                 sizeof one);
}
// Winsock does not tell whether our FIN was acknowledged; on loopback it is
// within a few milliseconds.
inline bool FinAcked(Fd) {
    QThread::msleep(50);
    return true;
}
#else
using Fd = int;
using Len = socklen_t;
constexpr int RefusedCode = ECONNREFUSED;
constexpr int TimedOutCode = ETIMEDOUT;
inline Fd Open(bool nonBlocking = false) {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | (nonBlocking ? SOCK_NONBLOCK : 0), 0);
}
inline int Native(Fd fd) {
    return fd;
}
inline void Close(Fd fd) {
    ::close(fd);
}
inline int Poll(pollfd *p, int n, int ms) {
    return ::poll(p, nfds_t(n), ms);
}
inline bool Interrupted() {
    return errno == EINTR;
}
inline bool InProgress() {
    return errno == EINPROGRESS;
}
inline Fd Accept(Fd fd) {
    return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
}
inline long long Send(Fd fd, const char *p, size_t n) {
    return ::send(fd, p, n, MSG_NOSIGNAL);
}
inline long long Recv(Fd fd, char *p, size_t n) {
    return ::recv(fd, p, n, 0);
}
inline bool ShutdownSend(Fd fd) {
    return ::shutdown(fd, SHUT_WR) == 0;
}
inline void Linger0(Fd fd) {
    linger l{1, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
}
inline void NoDelay(Fd fd) {
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
}
// FIN_WAIT2, or TIME_WAIT / CLOSE when the other side closed too.
inline bool FinAcked(Fd fd) {
    tcp_info info{};
    socklen_t len = sizeof info;
    if (::getsockopt(fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0)
        return false;
    return info.tcpi_state == TCP_FIN_WAIT2 || info.tcpi_state == TCP_TIME_WAIT ||
           info.tcpi_state == TCP_CLOSE;
}
#endif

inline sockaddr_in Loopback(quint16 port = 0) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    return a;
}

// A socket bound on 127.0.0.1 and listening; its port in `port`. -1 on failure.
inline Fd Listen(int backlog, quint16 &port) {
    const Fd fd = Open();
    if (fd < 0)
        return -1;
    sockaddr_in a = Loopback();
    Len len = sizeof a;
    if (::bind(sock::Native(fd), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        ::listen(sock::Native(fd), backlog) != 0 ||
        ::getsockname(sock::Native(fd), reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        Close(fd);
        return -1;
    }
    port = ntohs(a.sin_port);
    return fd;
}

// Waits for `events`, retrying interruptions. 1 ready, 0 time-out, -1 failure.
inline int WaitFor(Fd fd, short events, int timeoutMs) {
    for (;;) {
        pollfd p{};
        p.fd = decltype(p.fd)(fd);
        p.events = events;
        const int rc = Poll(&p, 1, timeoutMs);
        if (rc >= 0)
            return rc > 0 ? 1 : 0;
        if (!Interrupted())
            return -1;
    }
}
} // namespace sock

class Peer {
public:
    enum class End { Eof, Reset, Timeout };

    Peer() = default;
    explicit Peer(sock::Fd fd) : m_fd(fd) {}
    Peer(Peer &&o) noexcept : m_fd(std::exchange(o.m_fd, -1)) {}
    Peer &operator=(Peer &&o) noexcept {
        if (this != &o) {
            Close();
            m_fd = std::exchange(o.m_fd, -1);
        }
        return *this;
    }
    ~Peer() { Close(); }

    bool Valid() const { return m_fd >= 0; }
    sock::Fd Fd() const { return m_fd; }

    bool Send(const QByteArray &bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const long long n =
                sock::Send(m_fd, bytes.constData() + done, size_t(bytes.size() - done));
            if (n < 0 && sock::Interrupted())
                continue;
            if (n <= 0)
                return false;
            done += qsizetype(n);
        }
        return true;
    }

    // Up to n bytes; fewer when the time runs out or the connection ends.
    QByteArray Receive(qsizetype n, int timeoutMs = 3000) {
        QByteArray got;
        QDeadlineTimer deadline(timeoutMs);
        while (got.size() < n) {
            if (!WaitReadable(deadline))
                break;
            char buf[65536];
            const long long r =
                sock::Recv(m_fd, buf, size_t(std::min<qsizetype>(n - got.size(), sizeof buf)));
            if (r < 0 && sock::Interrupted())
                continue;
            if (r <= 0)
                break;
            got.append(buf, qsizetype(r));
        }
        return got;
    }

    // One receive of whatever has arrived, waiting up to timeoutMs for it.
    QByteArray ReceiveSome(int timeoutMs = 3000) {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            if (!WaitReadable(deadline))
                return {};
            char buf[65536];
            const long long r = sock::Recv(m_fd, buf, sizeof buf);
            if (r < 0 && sock::Interrupted())
                continue;
            return r > 0 ? QByteArray(buf, qsizetype(r)) : QByteArray();
        }
    }

    // Whether bytes (or a close) are waiting, within timeoutMs.
    bool Readable(int timeoutMs = 0) {
        QDeadlineTimer deadline(timeoutMs);
        return WaitReadable(deadline);
    }

    // Reads everything until the connection ends; `got` collects the bytes.
    End ReadToEnd(QByteArray &got, int timeoutMs = 3000) {
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            if (!WaitReadable(deadline))
                return End::Timeout;
            char buf[65536];
            const long long r = sock::Recv(m_fd, buf, sizeof buf);
            if (r > 0) {
                got.append(buf, qsizetype(r));
                continue;
            }
            if (r == 0)
                return End::Eof;
            if (sock::Interrupted())
                continue;
            return End::Reset;
        }
    }

    // Sends FIN and waits until the other side's kernel has acknowledged it.
    bool ShutdownAndWaitAcked(int timeoutMs = 3000) {
        if (!sock::ShutdownSend(m_fd))
            return false;
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            if (sock::FinAcked(m_fd))
                return true;
            if (deadline.hasExpired())
                return false;
            QThread::usleep(1000);
        }
    }

    // Closes with a reset instead of an orderly close.
    void Abort() {
        if (m_fd < 0)
            return;
        sock::Linger0(m_fd);
        Close();
    }

    void Close() {
        if (m_fd >= 0)
            sock::Close(m_fd);
        m_fd = -1;
    }

private:
    bool WaitReadable(const QDeadlineTimer &deadline) {
        return sock::WaitFor(m_fd, POLLIN, int(std::max<qint64>(deadline.remainingTime(), 0))) > 0;
    }

    sock::Fd m_fd = -1;
};

class Listener {
public:
    Listener() { m_fd = sock::Listen(8, m_port); }
    ~Listener() {
        if (m_fd >= 0)
            sock::Close(m_fd);
    }
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    bool Valid() const { return m_fd >= 0; }
    quint16 Port() const { return m_port; }

    Peer Accept(int timeoutMs = 3000) {
        if (sock::WaitFor(m_fd, POLLIN, timeoutMs) <= 0)
            return Peer();
        return Peer(sock::Accept(m_fd));
    }

    bool HasPendingConnection() { return sock::WaitFor(m_fd, POLLIN, 0) > 0; }

private:
    sock::Fd m_fd = -1;
    quint16 m_port = 0;
};

// A host that never answers, on 127.0.0.1: a listener with a backlog of 0
// whose accept queue its own connections have filled, so that the kernel
// drops every further SYN. Valid() once the queue is known to be full.
class SilentListener {
public:
    SilentListener() {
        m_fd = sock::Listen(0, m_port);
        if (m_fd < 0)
            return;
        const sockaddr_in a = sock::Loopback(m_port);
        // Connections that complete go into the queue; the first one that
        // gets no answer shows it full.
        for (int i = 0; i < 16 && !m_full; ++i) {
            const sock::Fd fd = sock::Open(true);
            if (fd < 0)
                return;
            const int rc =
                ::connect(sock::Native(fd), reinterpret_cast<const sockaddr *>(&a), sizeof a);
            if (rc != 0 && !sock::InProgress()) {
                sock::Close(fd);
                return;
            }
            if (sock::WaitFor(fd, POLLOUT, rc == 0 ? 0 : 300) == 0) {
                sock::Close(fd);
                m_full = true;
            } else {
                m_fillers[i] = fd;
            }
        }
    }
    ~SilentListener() {
        for (sock::Fd fd : m_fillers)
            if (fd >= 0)
                sock::Close(fd);
        if (m_fd >= 0)
            sock::Close(m_fd);
    }
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;

    bool Valid() const { return m_full; }
    quint16 Port() const { return m_port; }

private:
    sock::Fd m_fd = -1;
    quint16 m_port = 0;
    bool m_full = false;
    sock::Fd m_fillers[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
};

// A plain client connection to 127.0.0.1:port, or another loopback address
// (host byte order; anything outside 127.0.0.0/8 is never tried): !Valid()
// when refused.
inline Peer ConnectTo(quint16 port, quint32 host = INADDR_LOOPBACK) {
    if (host >> 24 != 127)
        return Peer();
    const sock::Fd fd = sock::Open();
    if (fd < 0)
        return Peer();
    sock::NoDelay(fd);
    sockaddr_in a = sock::Loopback(port);
    a.sin_addr.s_addr = htonl(host);
    int rc;
    do {
        rc = ::connect(sock::Native(fd), reinterpret_cast<const sockaddr *>(&a), sizeof a);
    } while (rc != 0 && sock::Interrupted());
    if (rc != 0) {
        sock::Close(fd);
        return Peer();
    }
    return Peer(fd);
}

// A port on 127.0.0.1 where nothing listens: bound, read back and closed.
inline quint16 RefusedPort() {
    const sock::Fd fd = sock::Open();
    if (fd < 0)
        return 0;
    sockaddr_in a = sock::Loopback();
    sock::Len len = sizeof a;
    quint16 port = 0;
    if (::bind(sock::Native(fd), reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        ::getsockname(sock::Native(fd), reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    sock::Close(fd);
    return port;
}

} // namespace testsupport
