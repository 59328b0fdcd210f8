#include "TcpClient.h"
#include "Platform.h"

#include <QLoggingCategory>
#include <algorithm>
#include <array>
#include <chrono>
#include <deque>
#include <limits>

// Transport debugging, off unless switched on, for example by
// QT_LOGGING_RULES="tavrin.tcp.debug=true".
Q_LOGGING_CATEGORY(lcTcp, "tavrin.tcp", QtInfoMsg)

namespace tcp {

namespace pf = platform;

namespace {

SocketError MakeSocketError(int code, const std::string &description) {
    return SocketError(code, "Socket Error # " + std::to_string(code) + "\n" + description);
}

SocketError MakeSocketError(int code) {
    return MakeSocketError(code, pf::ErrorText(code));
}

const char *const ClosedGracefully = "Connection Closed Gracefully.";

} // namespace

// Everything that belongs to one connection attempt. Kept after the peer
// closes (the unread bytes stay readable); dropped by a failed connect.
struct TcpClient::Connection {
    pf::Socket sock = pf::InvalidSocket;
    bool closed = false; // the closed mark
    std::deque<uint8_t> input;
    std::array<uint8_t, MaxPiece> scratch{};

    ~Connection() {
        if (sock != pf::InvalidSocket)
            qCDebug(lcTcp, "close");
        pf::ShutdownAndClose(sock);
    }
};

TcpClient::TcpClient() = default;

// The release. Unread bytes go with the connection state.
TcpClient::~TcpClient() = default;

void TcpClient::Connect() {
    if (IsConnected())
        throw ClientError("Already connected.");
    if (Host.empty())
        throw ClientError("No host given.");
    if (Port == 0)
        throw ClientError("No port given.");

    if (!m_conn)
        m_conn = std::make_unique<Connection>();
    Connection &c = *m_conn;
    pf::ShutdownAndClose(c.sock);
    c.input.clear();
    c.closed = false;

    qCDebug(lcTcp, "connect to %s port %u", Host.c_str(), unsigned(Port));
    try {
        pf::Endpoint to{0, Port};
        if (!pf::ParseDottedIPv4(Host, to.address)) {
            int err = 0;
            std::string text;
            if (!pf::ResolveIPv4(Host, to.address, err, text))
                throw MakeSocketError(err, text);
        }
        int err = 0;
        c.sock = pf::OpenStream(err);
        if (c.sock == pf::InvalidSocket)
            throw MakeSocketError(err);
        // Count and frame go out as two sends and the answer is awaited right
        // after: with Nagle's algorithm the frame would wait for the ACK of
        // the count (a delayed ACK, tens of milliseconds and more per request).
        if (!pf::SetNoDelay(c.sock, err))
            throw MakeSocketError(err);
        if (!pf::Connect(c.sock, to, ConnectTimeout, err))
            throw MakeSocketError(err);
    } catch (const std::exception &e) {
        qCDebug(lcTcp, "connect failed: %s", e.what());
        m_conn.reset(); // closes the socket
        throw;
    }
    qCDebug(lcTcp, "connected");
}

void TcpClient::MarkClosed(const char *why) {
    qCDebug(lcTcp, "close: %s", why);
    m_conn->closed = true;
    pf::ShutdownAndClose(m_conn->sock);
}

size_t TcpClient::ReadOnce(int timeoutMs) {
    Connection &c = *m_conn;
    if (c.sock == pf::InvalidSocket || c.closed)
        return 0;
    int err = 0;
    const int ready = pf::WaitReadable(c.sock, timeoutMs, err);
    if (ready < 0)
        throw MakeSocketError(err);
    if (ready == 0)
        return 0;
    const std::ptrdiff_t got = pf::Receive(c.sock, c.scratch.data(), c.scratch.size(), err);
    if (got > 0) {
        qCDebug(lcTcp, "receive %td bytes", got);
        c.input.insert(c.input.end(), c.scratch.begin(), c.scratch.begin() + got);
        return static_cast<size_t>(got);
    }
    if (got == 0) {
        MarkClosed("closed by the peer");
        return 0;
    }
    switch (pf::Classify(err)) {
    case pf::Failure::TimedOut:
        return 0;
    case pf::Failure::ConnectionLost:
        MarkClosed("connection lost on receive");
        return 0;
    case pf::Failure::Other:
        break;
    }
    throw MakeSocketError(err);
}

bool TcpClient::IsConnected() {
    if (!m_conn)
        return false;
    ReadOnce(0);
    const Connection &c = *m_conn;
    return (c.sock != pf::InvalidSocket && !c.closed) || !c.input.empty();
}

void TcpClient::SendAll(const uint8_t *data, size_t n) {
    if (!m_conn || m_conn->closed || m_conn->sock == pf::InvalidSocket)
        throw ClientError(ClosedGracefully);
    while (n > 0) {
        int err = 0;
        const std::ptrdiff_t sent = pf::Send(m_conn->sock, data, std::min(n, MaxPiece), err);
        if (sent < 0) {
            if (pf::Classify(err) != pf::Failure::TimedOut)
                MarkClosed("send failed");
            throw MakeSocketError(err);
        }
        data += sent;
        n -= static_cast<size_t>(sent);
    }
}

void TcpClient::WriteCounted(const uint8_t *data, size_t n) {
    if (n > std::numeric_limits<uint32_t>::max())
        throw ClientError("Block too large for its count.");
    const uint32_t count = static_cast<uint32_t>(n);
    const uint8_t head[4] = {uint8_t(count >> 24), uint8_t(count >> 16), uint8_t(count >> 8),
                             uint8_t(count)};
    SendAll(head, sizeof head);
    SendAll(data, n);
    qCDebug(lcTcp, "send %zu bytes behind their 4-byte count", n);
}

bool TcpClient::SendBy(const uint8_t *data, size_t n, Deadline deadline) {
    if (!m_conn || m_conn->closed || m_conn->sock == pf::InvalidSocket)
        throw ClientError(ClosedGracefully);
    using namespace std::chrono;
    while (n > 0) {
        // The send is tried first: with room in the buffer, as nearly always,
        // no wait is needed at all.
        int err = 0;
        const std::ptrdiff_t sent = pf::SendSome(m_conn->sock, data, std::min(n, MaxPiece), err);
        if (sent >= 0) {
            data += sent;
            n -= static_cast<size_t>(sent);
            continue;
        }
        if (pf::Classify(err) != pf::Failure::TimedOut) {
            MarkClosed("send failed");
            throw MakeSocketError(err);
        }
        const auto left = duration_cast<milliseconds>(deadline - steady_clock::now()).count();
        if (left <= 0)
            return false;
        const int ready =
            pf::WaitWritable(m_conn->sock, int(std::min<decltype(left)>(left, 1000)), err);
        if (ready < 0)
            throw MakeSocketError(err);
    }
    return true;
}

bool TcpClient::WriteCounted(const uint8_t *data, size_t n, Deadline deadline) {
    if (n > std::numeric_limits<uint32_t>::max())
        throw ClientError("Block too large for its count.");
    const uint32_t count = static_cast<uint32_t>(n);
    const uint8_t head[4] = {uint8_t(count >> 24), uint8_t(count >> 16), uint8_t(count >> 8),
                             uint8_t(count)};
    if (!SendBy(head, sizeof head, deadline) || !SendBy(data, n, deadline)) {
        qCDebug(lcTcp, "send not finished by its deadline");
        return false;
    }
    qCDebug(lcTcp, "send %zu bytes behind their 4-byte count", n);
    return true;
}

void TcpClient::Close() {
    m_conn.reset();
}

bool TcpClient::WaitReadable(int ms) {
    const size_t before = InputBufferSize();
    if (!IsConnected())
        return false;
    if (m_conn->input.size() > before)
        return true;
    // Closed with bytes left: nothing more can arrive.
    if (m_conn->closed || m_conn->sock == pf::InvalidSocket)
        return false;
    return ReadOnce(ms) > 0;
}

bool TcpClient::InputBufferEmpty() const {
    return !m_conn || m_conn->input.empty();
}

size_t TcpClient::InputBufferSize() const {
    return m_conn ? m_conn->input.size() : 0;
}

uint8_t TcpClient::ReadByte() {
    if (InputBufferEmpty()) {
        using Clock = std::chrono::steady_clock;
        const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(ReadTimeout, 0));
        for (;;) {
            if (!m_conn || m_conn->closed || m_conn->sock == pf::InvalidSocket)
                throw ClientError(ClosedGracefully);
            int wait = -1;
            if (ReadTimeout >= 0) {
                const auto left =
                    std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
                wait = static_cast<int>(std::max<std::chrono::milliseconds::rep>(left.count(), 0));
            }
            if (ReadOnce(wait) > 0)
                break;
            if (ReadTimeout >= 0 && Clock::now() >= deadline && !m_conn->closed)
                throw ClientError("Read timed out.");
        }
    }
    const uint8_t b = m_conn->input.front();
    m_conn->input.pop_front();
    return b;
}

bool TcpClient::PeerClosed() const {
    return m_conn && m_conn->closed;
}

bool TcpClient::NoDelay() const {
    return m_conn && m_conn->sock != pf::InvalidSocket && pf::NoDelay(m_conn->sock);
}

} // namespace tcp
