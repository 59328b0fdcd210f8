#pragma once
// The simulator's few socket calls, over POSIX sockets or Winsock: a
// listener on 127.0.0.1, a non-blocking accepted connection, one receive and
// one send that never block, a wait, and the stop signal. Errors come back
// as text for the simulator's notes.
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

// Listens on 127.0.0.1:port (0: a free one); `bound` is the port taken.
Fd Listen(uint16_t port, uint16_t &bound, std::string &error);
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

// Waits up to ms for the events (POLLIN, POLLOUT); revents as poll() gives
// them. -1 on failure, with Retry() true for an interruption.
int Wait(Fd fd, short events, int ms, short &revents);

// The stop request (SIGTERM, SIGINT; on Windows the console's Ctrl+C, Ctrl+Break
// and close) sets *flag; broken pipes raise nothing.
void OnStop(volatile std::sig_atomic_t *flag);

} // namespace net
