#pragma once
// The simulator's few socket calls, over POSIX sockets or Winsock: a
// listener on a loopback address, a non-blocking accepted connection, one
// receive and one send that never block, a wait, and the stop signal. Errors
// come back as text for the simulator's notes. Nothing here binds outside
// 127.0.0.0/8.
#include <csignal>
#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <poll.h>
#endif

namespace net {

#ifdef _WIN32
using Fd = intptr_t;
#else
using Fd = int;
#endif
constexpr Fd NoFd = -1;

// Socket start-up where the system needs one; false with `error` otherwise.
bool Start(std::string &error);

constexpr uint32_t Localhost = 0x7F000001; // 127.0.0.1, host byte order

// True for an address in 127.0.0.0/8 (host byte order).
bool IsLoopback(uint32_t addr);
// "127.0.0.1:1502"
std::string AddressText(uint32_t addr, uint16_t port);

// Listens on addr:port (0: a free port); `bound` is the port taken. An address
// outside 127.0.0.0/8 is refused.
Fd Listen(uint32_t addr, uint16_t port, uint16_t &bound, std::string &error);
// Holds addr:port without listening: connections there are refused, and no
// other program takes the port meanwhile.
Fd Reserve(uint32_t addr, uint16_t port, uint16_t &bound, std::string &error);
// The next connection, non-blocking and without Nagle's delay, or NoFd;
// `peer` is its address and port.
Fd Accept(Fd listener, std::string &peer);
void Close(Fd fd);
void ShutdownSend(Fd fd);

// Byte count, 0 for an orderly close, -1 on failure: Retry() tells whether
// the failure only means "not now".
long long Receive(Fd fd, uint8_t *buf, size_t n);
long long Send(Fd fd, const uint8_t *buf, size_t n);
bool Retry();
std::string LastError();

struct Waiter {
    Fd fd = NoFd;
    short events = 0; // POLLIN, POLLOUT
    short revents = 0;
};

// Waits up to ms for any of the sockets' events; revents as poll() gives
// them. -1 on failure, with Retry() true for an interruption. With no socket
// at all it just sleeps.
int Wait(Waiter *waiters, size_t n, int ms);

// The stop request (SIGTERM, SIGINT; on Windows the console's Ctrl+C, Ctrl+Break
// and close) sets *flag; broken pipes raise nothing.
void OnStop(volatile std::sig_atomic_t *flag);

} // namespace net
