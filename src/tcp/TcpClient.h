#pragma once
// Blocking TCP client over the platform's stream sockets. Knows nothing of
// Modbus: it connects, sends counted blocks and buffers what arrives.
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
    TcpClient();
    ~TcpClient(); // the release: shuts down the sending side and closes
    TcpClient(const TcpClient &) = delete;
    TcpClient &operator=(const TcpClient &) = delete;

    // Settings, written by the Connect command before every attempt.
    std::string Host;
    uint16_t Port = 0;
    int ReadTimeout = -1;    // ms; -1 waits without limit
    int ConnectTimeout = -1; // ms; -1 has no limit of its own

    // Throws ClientError or SocketError on failure.
    void Connect();
    // Polls without waiting and reads once; true while the socket is open or
    // unread bytes remain in the input buffer.
    bool IsConnected();
    // Sends n as a 4-byte big-endian count, then the n bytes (two sends).
    void WriteCounted(const uint8_t *data, size_t n);
    // Waits up to ms for bytes; true if at least one byte arrived.
    bool WaitReadable(int ms);
    bool InputBufferEmpty() const;
    size_t InputBufferSize() const;
    // Takes the oldest buffered byte (waits per ReadTimeout when empty).
    uint8_t ReadByte();

private:
    struct Connection;
    std::unique_ptr<Connection> m_conn;
};

} // namespace tcp
