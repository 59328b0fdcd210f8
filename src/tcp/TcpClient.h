#pragma once
// Blocking TCP client over the platform's stream sockets. Knows nothing of
// Modbus: it connects, sends counted blocks and buffers what arrives.
//
// States as IsConnected() sees them:
//   no connection state (never connected, last connect failed)  -> false
//   socket open, closed mark clear                              -> true
//   closed by the peer or broken, unread bytes in the buffer    -> true
//   closed, buffer empty                                        -> false
// A connection that the peer closes or resets raises no error: the next
// IsConnected() or WaitReadable() finds it, sets the closed mark and closes
// the socket; bytes already received stay readable.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <stdexcept>
#include <string>

namespace tcp {

// A failure reported by the socket layer: "Socket Error # <code>", a line
// break and the system's description.
class SocketError : public std::runtime_error {
public:
    SocketError(int code, const std::string &message) : std::runtime_error(message), m_code(code) {}
    int Code() const { return m_code; }

private:
    int m_code;
};

// Any other failure of the client (already connected, empty host, a send on
// a closed connection: "Connection Closed Gracefully.").
class ClientError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class TcpClient {
public:
    // One receive takes at most this many bytes; one send hands over at most
    // this many.
    static constexpr size_t MaxPiece = 32768;

    TcpClient();
    ~TcpClient(); // the release: shuts down the sending side and closes
    TcpClient(const TcpClient &) = delete;
    TcpClient &operator=(const TcpClient &) = delete;

    // Settings, written by the Connect command before every attempt.
    std::string Host;
    uint16_t Port = 0;
    int ReadTimeout = -1;    // ms; negative waits without limit
    int ConnectTimeout = -1; // ms; negative: the platform default (about 21 s)

    // Throws ClientError (already connected, empty host, port 0) or
    // SocketError (look-up, socket or connect failure). A failed attempt
    // leaves the client not connected and ready for another one.
    void Connect();
    // Polls without waiting and reads once; true while the socket is open or
    // unread bytes remain in the input buffer. Throws SocketError on a read
    // failure other than a closed, reset or aborted connection.
    bool IsConnected();
    // Sends n as a 4-byte big-endian count, then the n bytes (two sends).
    // Throws ClientError("Connection Closed Gracefully.") on a connection
    // that is not open, SocketError when the socket refuses the bytes.
    void WriteCounted(const uint8_t *data, size_t n);
    // The same, given up at deadline: false when the peer has not taken
    // every byte by then (it stopped reading); what went out stays sent.
    using Deadline = std::chrono::steady_clock::time_point;
    bool WriteCounted(const uint8_t *data, size_t n, Deadline deadline);
    // Drops the connection and its unread bytes at once, as the release does;
    // the client stays ready for another connect.
    void Close();
    // Waits up to ms for bytes; true if at least one byte arrived. Returns
    // false at once once the connection has been found closed.
    bool WaitReadable(int ms);
    bool InputBufferEmpty() const;
    size_t InputBufferSize() const;
    // Takes the oldest buffered byte. On an empty buffer it waits per
    // ReadTimeout; throws ClientError when the connection is closed or the
    // time runs out.
    uint8_t ReadByte();

    // The closed mark: a read or a send found the connection closed or
    // broken. Cleared by the next connect.
    bool PeerClosed() const;
    // Whether the open socket sends without Nagle's delay (false without one).
    bool NoDelay() const;

private:
    struct Connection;
    // Polls up to timeoutMs and reads once; returns the bytes appended.
    size_t ReadOnce(int timeoutMs);
    void SendAll(const uint8_t *data, size_t n);
    bool SendBy(const uint8_t *data, size_t n, Deadline deadline);
    void MarkClosed(const char *why); // why: for the transport log

    std::unique_ptr<Connection> m_conn;
};

} // namespace tcp
