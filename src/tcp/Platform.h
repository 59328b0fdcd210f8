#pragma once
// The only place that talks to the operating system's socket API. Everything
// above it (TcpClient) is platform-neutral; a Winsock build replaces
// PlatformPosix.cpp and nothing else.
//
// Calls that fail return false (or -1) and leave the system's error code in
// `err`; EINTR is retried inside, SIGPIPE never raised, descriptors are not
// inherited by child processes.
#include <cstddef>
#include <cstdint>
#include <string>

namespace tcp::platform {

using Socket = std::intptr_t;
constexpr Socket InvalidSocket = -1;

// IPv4 address and port in host byte order.
struct Endpoint {
    uint32_t address = 0;
    uint16_t port = 0;
};

// How a failed receive or send is to be taken.
enum class Failure {
    TimedOut,       // nothing moved; the connection is intact
    ConnectionLost, // shut down, aborted, reset or timed out by the stack
    Other,
};
Failure Classify(int err);

// The system's description of an error code.
std::string ErrorText(int err);

// Dotted IPv4 text ("a.b.c.d") only; no look-up.
bool ParseDottedIPv4(const std::string &text, uint32_t &address);

// IPv4-only host-name look-up. On failure `err` holds a code and `text` its
// description (resolver codes are not errno values, so the text is taken here).
// Goes through the installed resolver, the system's unless replaced.
bool ResolveIPv4(const std::string &host, uint32_t &address, int &err, std::string &text);

// A look-up with the contract of ResolveIPv4. Tests install one of their own
// so that a failing look-up never leaves the machine as a DNS query.
using Resolver = bool (*)(const std::string &host, uint32_t &address, int &err, std::string &text);
// Installs `resolver` (nullptr: the system's) and returns the previous one.
Resolver SetResolver(Resolver resolver);
// The system's own look-up, with the contract of ResolveIPv4.
bool SystemResolveIPv4(const std::string &host, uint32_t &address, int &err, std::string &text);

// A TCP stream socket, bound to any local address and an ephemeral port.
Socket OpenStream(int &err);
// Sends segments as soon as they are handed over (no Nagle delay).
bool SetNoDelay(Socket s, int &err);
bool NoDelay(Socket s);
// A connect without a limit of its own gives up on a host that never answers
// after this long, as a Windows desktop does (SYN sent at 0, 3 and 9 s, given
// up at 21 s); Linux alone would keep the window waiting for about 2 minutes.
constexpr int DefaultConnectTimeoutMs = 21000;

// Connect; ends when the stack reports success or failure, or after
// timeoutMs (DefaultConnectTimeoutMs when negative) with ETIMEDOUT.
bool Connect(Socket s, const Endpoint &to, int timeoutMs, int &err);

// Waits up to timeoutMs (-1: without limit) for readability; a hang-up or an
// error condition counts as readable, so that the next receive reports it.
// Returns 1 readable, 0 time-out, -1 failure.
int WaitReadable(Socket s, int timeoutMs, int &err);

// One receive of at most n bytes that never blocks. Returns the byte count,
// 0 for an orderly close by the peer, -1 on failure (EAGAIN included).
std::ptrdiff_t Receive(Socket s, uint8_t *buf, size_t n, int &err);
// One send of at most n bytes. Returns the bytes taken or -1.
std::ptrdiff_t Send(Socket s, const uint8_t *buf, size_t n, int &err);

// Waits up to timeoutMs for room to send; an error condition counts as
// ready, so that the next send reports it. Returns 1 ready, 0 time-out, -1
// failure.
int WaitWritable(Socket s, int timeoutMs, int &err);
// One send that never blocks: the bytes the stack takes now, or -1 (a full
// send buffer is a TimedOut failure).
std::ptrdiff_t SendSome(Socket s, const uint8_t *buf, size_t n, int &err);

// Shuts down the sending side (errors ignored), closes, and sets s to
// InvalidSocket. Does nothing for InvalidSocket.
void ShutdownAndClose(Socket &s);

} // namespace tcp::platform
