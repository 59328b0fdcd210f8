#pragma once
// A scripted peer on 127.0.0.1 for tests, driven from the test's own thread
// (a blocking connect to it completes in the kernel's backlog before Accept).
// Header-only; Linux sockets.
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

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace testsupport {

class Peer {
public:
    enum class End { Eof, Reset, Timeout };

    Peer() = default;
    explicit Peer(int fd) : m_fd(fd) {}
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
    int Fd() const { return m_fd; }

    bool Send(const QByteArray &bytes) {
        qsizetype done = 0;
        while (done < bytes.size()) {
            const ssize_t n =
                ::send(m_fd, bytes.constData() + done, size_t(bytes.size() - done), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            done += n;
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
            const ssize_t r =
                ::recv(m_fd, buf, size_t(std::min<qsizetype>(n - got.size(), sizeof buf)), 0);
            if (r < 0 && errno == EINTR)
                continue;
            if (r <= 0)
                break;
            got.append(buf, r);
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
            const ssize_t r = ::recv(m_fd, buf, sizeof buf, 0);
            if (r < 0 && errno == EINTR)
                continue;
            return r > 0 ? QByteArray(buf, r) : QByteArray();
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
            const ssize_t r = ::recv(m_fd, buf, sizeof buf, 0);
            if (r > 0) {
                got.append(buf, r);
                continue;
            }
            if (r == 0)
                return End::Eof;
            if (errno == EINTR)
                continue;
            return End::Reset;
        }
    }

    // Sends FIN and waits until the other side's kernel has acknowledged it.
    bool ShutdownAndWaitAcked(int timeoutMs = 3000) {
        if (::shutdown(m_fd, SHUT_WR) != 0)
            return false;
        QDeadlineTimer deadline(timeoutMs);
        for (;;) {
            tcp_info info{};
            socklen_t len = sizeof info;
            if (::getsockopt(m_fd, IPPROTO_TCP, TCP_INFO, &info, &len) != 0)
                return false;
            // FIN_WAIT2, or TIME_WAIT / CLOSE when the other side closed too.
            if (info.tcpi_state == TCP_FIN_WAIT2 || info.tcpi_state == TCP_TIME_WAIT ||
                info.tcpi_state == TCP_CLOSE)
                return true;
            if (deadline.hasExpired())
                return false;
            ::usleep(1000);
        }
    }

    // Closes with a reset instead of an orderly close.
    void Abort() {
        if (m_fd < 0)
            return;
        linger l{1, 0};
        ::setsockopt(m_fd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
        Close();
    }

    void Close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    bool WaitReadable(const QDeadlineTimer &deadline) {
        for (;;) {
            pollfd p{m_fd, POLLIN, 0};
            const int rc = ::poll(&p, 1, int(std::max<qint64>(deadline.remainingTime(), 0)));
            if (rc > 0)
                return true;
            if (rc == 0)
                return false;
            if (errno != EINTR)
                return false;
        }
    }

    int m_fd = -1;
};

class Listener {
public:
    Listener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            return;
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            ::listen(m_fd, 8) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len) != 0) {
            ::close(m_fd);
            m_fd = -1;
            return;
        }
        m_port = ntohs(a.sin_port);
    }
    ~Listener() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Listener(const Listener &) = delete;
    Listener &operator=(const Listener &) = delete;

    bool Valid() const { return m_fd >= 0; }
    quint16 Port() const { return m_port; }

    Peer Accept(int timeoutMs = 3000) {
        pollfd p{m_fd, POLLIN, 0};
        int rc;
        do {
            rc = ::poll(&p, 1, timeoutMs);
        } while (rc < 0 && errno == EINTR);
        if (rc <= 0)
            return Peer();
        return Peer(::accept4(m_fd, nullptr, nullptr, SOCK_CLOEXEC));
    }

    bool HasPendingConnection() {
        pollfd p{m_fd, POLLIN, 0};
        return ::poll(&p, 1, 0) > 0;
    }

private:
    int m_fd = -1;
    quint16 m_port = 0;
};

// A host that never answers, on 127.0.0.1: a listener with a backlog of 0
// whose accept queue its own connections have filled, so that the kernel
// drops every further SYN. Valid() once the queue is known to be full.
class SilentListener {
public:
    SilentListener() {
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t len = sizeof a;
        if (m_fd < 0 || ::bind(m_fd, reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
            ::listen(m_fd, 0) != 0 ||
            ::getsockname(m_fd, reinterpret_cast<sockaddr *>(&a), &len) != 0)
            return;
        m_port = ntohs(a.sin_port);
        // Connections that complete go into the queue; the first one that
        // gets no answer shows it full.
        for (int i = 0; i < 16 && !m_full; ++i) {
            const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
            if (fd < 0)
                return;
            const int rc = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
            if (rc != 0 && errno != EINPROGRESS) {
                ::close(fd);
                return;
            }
            pollfd p{fd, POLLOUT, 0};
            int ready;
            do {
                ready = ::poll(&p, 1, rc == 0 ? 0 : 300);
            } while (ready < 0 && errno == EINTR);
            if (ready == 0) {
                ::close(fd);
                m_full = true;
            } else {
                m_fillers[i] = fd;
            }
        }
    }
    ~SilentListener() {
        for (int fd : m_fillers)
            if (fd >= 0)
                ::close(fd);
        if (m_fd >= 0)
            ::close(m_fd);
    }
    SilentListener(const SilentListener &) = delete;
    SilentListener &operator=(const SilentListener &) = delete;

    bool Valid() const { return m_full; }
    quint16 Port() const { return m_port; }

private:
    int m_fd = -1;
    quint16 m_port = 0;
    bool m_full = false;
    int m_fillers[16] = {-1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1, -1};
};

// A plain client connection to 127.0.0.1:port (!Valid() when refused).
inline Peer ConnectTo(quint16 port) {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return Peer();
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(port);
    int rc;
    do {
        rc = ::connect(fd, reinterpret_cast<sockaddr *>(&a), sizeof a);
    } while (rc != 0 && errno == EINTR);
    if (rc != 0) {
        ::close(fd);
        return Peer();
    }
    return Peer(fd);
}

// A port on 127.0.0.1 where nothing listens: bound, read back and closed.
inline quint16 RefusedPort() {
    const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return 0;
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    socklen_t len = sizeof a;
    quint16 port = 0;
    if (::bind(fd, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr *>(&a), &len) == 0)
        port = ntohs(a.sin_port);
    ::close(fd);
    return port;
}

} // namespace testsupport
