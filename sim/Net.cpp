#include "Net.h"

#include <cerrno>
#include <cstring>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <arpa/inet.h>
#include <csignal>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

namespace net {

namespace {

sockaddr_in Address(uint32_t addr, uint16_t port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(addr);
    a.sin_port = htons(port);
    return a;
}

volatile std::sig_atomic_t *g_stopFlag = nullptr;

} // namespace

#ifdef _WIN32

namespace {
using Len = int;
SOCKET S(Fd fd) {
    return static_cast<SOCKET>(fd);
}
SOCKET Native(Fd fd) {
    return S(fd);
}
Fd F(SOCKET s) {
    return s == INVALID_SOCKET ? NoFd : static_cast<Fd>(s);
}
Fd OpenSocket() {
    return F(::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0,
                          0x80 /* WSA_FLAG_NO_HANDLE_INHERIT */));
}
BOOL WINAPI OnConsoleEvent(DWORD) {
    if (g_stopFlag)
        *g_stopFlag = 1;
    return TRUE;
}
} // namespace

bool Start(std::string &error) {
    WSADATA data{};
    const int rc = WSAStartup(MAKEWORD(2, 2), &data);
    if (rc != 0)
        error = "WSAStartup failed: " + std::to_string(rc);
    return rc == 0;
}

void Close(Fd fd) {
    ::closesocket(S(fd));
}

void ShutdownSend(Fd fd) {
    ::shutdown(S(fd), SD_SEND);
}

long long Receive(Fd fd, uint8_t *buf, size_t n) {
    return ::recv(S(fd), reinterpret_cast<char *>(buf), int(n), 0);
}

long long Send(Fd fd, const uint8_t *buf, size_t n) {
    return ::send(S(fd), reinterpret_cast<const char *>(buf), int(n), 0);
}

bool Retry() {
    const int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINTR;
}

std::string LastError() {
    const int e = WSAGetLastError();
    char *text = nullptr;
    FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, DWORD(e), 0, reinterpret_cast<char *>(&text), 0, nullptr);
    std::string out = text ? text : "error " + std::to_string(e);
    if (text)
        LocalFree(text);
    while (!out.empty() && (out.back() == '\n' || out.back() == '\r' || out.back() == ' '))
        out.pop_back();
    return out;
}

int Wait(Waiter *waiters, size_t n, int ms) {
    if (n == 0) { // WSAPoll takes no empty set
        ::Sleep(DWORD(ms));
        return 0;
    }
    std::vector<WSAPOLLFD> p(n);
    for (size_t i = 0; i < n; ++i) {
        p[i].fd = S(waiters[i].fd);
        p[i].events = waiters[i].events;
    }
    const int rc = ::WSAPoll(p.data(), ULONG(n), ms);
    for (size_t i = 0; i < n; ++i)
        waiters[i].revents = rc > 0 ? p[i].revents : 0;
    return rc;
}

void OnStop(volatile std::sig_atomic_t *flag) {
    g_stopFlag = flag;
    SetConsoleCtrlHandler(OnConsoleEvent, TRUE);
}

#else

namespace {
using Len = socklen_t;
int Native(Fd fd) {
    return fd;
}
Fd OpenSocket() {
    return ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
}
void OnSignal(int) {
    if (g_stopFlag)
        *g_stopFlag = 1;
}
} // namespace

bool Start(std::string &) {
    return true;
}

void Close(Fd fd) {
    ::close(fd);
}

void ShutdownSend(Fd fd) {
    ::shutdown(fd, SHUT_WR);
}

long long Receive(Fd fd, uint8_t *buf, size_t n) {
    return ::recv(fd, buf, n, MSG_DONTWAIT);
}

long long Send(Fd fd, const uint8_t *buf, size_t n) {
    return ::send(fd, buf, n, MSG_NOSIGNAL | MSG_DONTWAIT);
}

bool Retry() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

std::string LastError() {
    return std::strerror(errno);
}

int Wait(Waiter *waiters, size_t n, int ms) {
    std::vector<pollfd> p(n);
    for (size_t i = 0; i < n; ++i)
        p[i] = pollfd{waiters[i].fd, waiters[i].events, 0};
    const int rc = ::poll(p.data(), nfds_t(n), ms);
    for (size_t i = 0; i < n; ++i)
        waiters[i].revents = rc > 0 ? p[i].revents : 0;
    return rc;
}

void OnStop(volatile std::sig_atomic_t *flag) {
    g_stopFlag = flag;
    struct sigaction sa {};
    sa.sa_handler = SIG_IGN;
    ::sigaction(SIGPIPE, &sa, nullptr);
    sa.sa_handler = OnSignal; // no SA_RESTART: the wait returns and the loop ends
    sigemptyset(&sa.sa_mask);
    ::sigaction(SIGTERM, &sa, nullptr);
    ::sigaction(SIGINT, &sa, nullptr);
}

#endif

bool IsLoopback(uint32_t addr) {
    return addr >> 24 == 127;
}

std::string AddressText(uint32_t addr, uint16_t port) {
    return std::to_string(addr >> 24) + "." + std::to_string(addr >> 16 & 255) + "." +
           std::to_string(addr >> 8 & 255) + "." + std::to_string(addr & 255) + ":" +
           std::to_string(port);
}

namespace {

Fd Bind(uint32_t addr, uint16_t port, bool listening, uint16_t &bound, std::string &error) {
    const std::string where = AddressText(addr, port);
    if (!IsLoopback(addr)) {
        error = "refusing to bind " + where + ": outside 127.0.0.0/8";
        return NoFd;
    }
    const Fd fd = OpenSocket();
    if (fd == NoFd) {
        error = "socket: " + LastError();
        return NoFd;
    }
#ifndef _WIN32
    // Windows' SO_REUSEADDR would let another listener take the port too.
    const int one = 1;
    ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
#endif
    sockaddr_in a = Address(addr, port);
    Len len = sizeof a;
    if (::bind(Native(fd), reinterpret_cast<sockaddr *>(&a), sizeof a) != 0 ||
        (listening && ::listen(Native(fd), 4) != 0) ||
        ::getsockname(Native(fd), reinterpret_cast<sockaddr *>(&a), &len) != 0) {
        error = (listening ? "cannot listen on " : "cannot bind ") + where + ": " + LastError();
        Close(fd);
        return NoFd;
    }
    bound = ntohs(a.sin_port);
    return fd;
}

} // namespace

Fd Listen(uint32_t addr, uint16_t port, uint16_t &bound, std::string &error) {
    return Bind(addr, port, true, bound, error);
}

Fd Reserve(uint32_t addr, uint16_t port, uint16_t &bound, std::string &error) {
    return Bind(addr, port, false, bound, error);
}

Fd Accept(Fd listener, std::string &peer) {
    sockaddr_in from{};
    Len len = sizeof from;
#ifdef _WIN32
    const Fd fd = F(::accept(S(listener), reinterpret_cast<sockaddr *>(&from), &len));
    if (fd == NoFd)
        return NoFd;
    u_long on = 1;
    ::ioctlsocket(S(fd), static_cast<long>(FIONBIO), &on);
    const BOOL one = TRUE;
    ::setsockopt(S(fd), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one), sizeof one);
#else
    const Fd fd = ::accept4(listener, reinterpret_cast<sockaddr *>(&from), &len,
                            SOCK_CLOEXEC | SOCK_NONBLOCK);
    if (fd < 0)
        return NoFd; // EAGAIN, ECONNABORTED, EINTR: nothing to serve
    const int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
#endif
    char addr[INET_ADDRSTRLEN] = "?";
    ::inet_ntop(AF_INET, &from.sin_addr, addr, sizeof addr);
    peer = std::string(addr) + ":" + std::to_string(ntohs(from.sin_port));
    return fd;
}

} // namespace net
