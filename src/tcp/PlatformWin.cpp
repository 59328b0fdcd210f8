// Winsock behind Platform.h.
//
// Error codes are Winsock's (WSAGetLastError), described by the system's
// message table. A failed connect is taken from select()'s exception set:
// WSAPoll does not report it on older Windows.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include "Platform.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <windows.h>

#ifndef WSA_FLAG_NO_HANDLE_INHERIT
#define WSA_FLAG_NO_HANDLE_INHERIT 0x80
#endif

namespace tcp::platform {

namespace {

SOCKET Sock(Socket s) {
    return static_cast<SOCKET>(s);
}

// Winsock is started once, on first use, and stays up for the process: every
// socket of ours may be closed from a static destructor.
int StartWinsock() {
    static int rc = [] {
        WSADATA data{};
        return WSAStartup(MAKEWORD(2, 2), &data);
    }();
    return rc;
}

bool Started(int &err) {
    const int rc = StartWinsock();
    if (rc != 0) {
        err = rc;
        return false;
    }
    return true;
}

std::string Utf8(const wchar_t *text, int length) {
    const int n = WideCharToMultiByte(CP_UTF8, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
    if (n > 0)
        WideCharToMultiByte(CP_UTF8, 0, text, length, out.data(), n, nullptr, nullptr);
    return out;
}

// select() for one socket. Readable: readable, or an error condition.
// Writable (connect): writable, or failed. Returns 1, 0 time-out, -1 failure.
int SelectFor(SOCKET s, bool write, int timeoutMs, int &err) {
    fd_set primary, failed;
    FD_ZERO(&primary);
    FD_ZERO(&failed);
    FD_SET(s, &primary);
    FD_SET(s, &failed);
    timeval tv{};
    timeval *limit = nullptr;
    if (timeoutMs >= 0) {
        tv.tv_sec = timeoutMs / 1000;
        tv.tv_usec = (timeoutMs % 1000) * 1000;
        limit = &tv;
    }
    const int rc =
        ::select(0, write ? nullptr : &primary, write ? &primary : nullptr, &failed, limit);
    if (rc == SOCKET_ERROR) {
        err = WSAGetLastError();
        return -1;
    }
    return rc > 0 ? 1 : 0;
}

} // namespace

Failure Classify(int err) {
    switch (err) {
    case WSAEWOULDBLOCK:
        return Failure::TimedOut;
    case WSAECONNRESET:
    case WSAECONNABORTED:
    case WSAENOTCONN:
    case WSAESHUTDOWN:
    case WSAENETRESET:
    // As on POSIX: the stack gave the connection up.
    case WSAETIMEDOUT:
        return Failure::ConnectionLost;
    default:
        return Failure::Other;
    }
}

std::string ErrorText(int err) {
    wchar_t *buffer = nullptr;
    const DWORD n = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<DWORD>(err), 0, reinterpret_cast<wchar_t *>(&buffer), 0, nullptr);
    std::string text;
    if (n > 0 && buffer) {
        DWORD length = n;
        // The message table ends its texts in CR LF.
        while (length > 0 && (buffer[length - 1] == L'\r' || buffer[length - 1] == L'\n' ||
                              buffer[length - 1] == L' '))
            --length;
        text = Utf8(buffer, static_cast<int>(length));
    }
    if (buffer)
        LocalFree(buffer);
    if (text.empty())
        text = "Unknown error " + std::to_string(err);
    return text;
}

bool ParseDottedIPv4(const std::string &text, uint32_t &address) {
    int err = 0;
    if (!Started(err))
        return false;
    in_addr a{};
    if (::inet_pton(AF_INET, text.c_str(), &a) != 1)
        return false;
    address = ntohl(a.s_addr);
    return true;
}

bool SystemResolveIPv4(const std::string &host, uint32_t &address, int &err, std::string &text) {
    if (!Started(err)) {
        text = ErrorText(err);
        return false;
    }
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo *list = nullptr;
    const int rc = ::getaddrinfo(host.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        err = rc; // a Winsock code, described like any other
        text = ErrorText(err);
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
    ::freeaddrinfo(list);
    if (!found) {
        err = WSAHOST_NOT_FOUND;
        text = ErrorText(err);
    }
    return found;
}

Socket OpenStream(int &err) {
    if (!Started(err))
        return InvalidSocket;
    // Not inherited by child processes, like SOCK_CLOEXEC.
    const SOCKET s =
        ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        err = WSAGetLastError();
        return InvalidSocket;
    }
    sockaddr_in any{};
    any.sin_family = AF_INET;
    any.sin_addr.s_addr = htonl(INADDR_ANY);
    any.sin_port = 0;
    if (::bind(s, reinterpret_cast<const sockaddr *>(&any), sizeof any) == SOCKET_ERROR) {
        err = WSAGetLastError();
        ::closesocket(s);
        return InvalidSocket;
    }
    return static_cast<Socket>(s);
}

bool SetNoDelay(Socket s, int &err) {
    const BOOL one = TRUE;
    if (::setsockopt(Sock(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char *>(&one),
                     sizeof one) == SOCKET_ERROR) {
        err = WSAGetLastError();
        return false;
    }
    return true;
}

bool NoDelay(Socket s) {
    BOOL value = FALSE;
    int len = sizeof value;
    return ::getsockopt(Sock(s), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<char *>(&value),
                        &len) == 0 &&
           value != FALSE;
}

bool Connect(Socket s, const Endpoint &to, int timeoutMs, int &err) {
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(to.address);
    addr.sin_port = htons(to.port);
    const SOCKET sock = Sock(s);

    // Non-blocking for the attempt, so that it ends at its limit; blocking
    // again afterwards.
    u_long on = 1;
    if (::ioctlsocket(sock, static_cast<long>(FIONBIO), &on) == SOCKET_ERROR) {
        err = WSAGetLastError();
        return false;
    }
    bool ok = ::connect(sock, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) == 0;
    if (!ok) {
        const int rc = WSAGetLastError();
        if (rc == WSAEWOULDBLOCK) {
            const int limit = timeoutMs < 0 ? DefaultConnectTimeoutMs : timeoutMs;
            const int ready = SelectFor(sock, true, limit, err);
            if (ready == 0) {
                err = WSAETIMEDOUT;
            } else if (ready > 0) {
                int soerr = 0;
                int len = sizeof soerr;
                if (::getsockopt(sock, SOL_SOCKET, SO_ERROR, reinterpret_cast<char *>(&soerr),
                                 &len) == SOCKET_ERROR)
                    err = WSAGetLastError();
                else if (soerr != 0)
                    err = soerr;
                else
                    ok = true;
            }
        } else {
            err = rc;
        }
    }
    u_long off = 0;
    if (::ioctlsocket(sock, static_cast<long>(FIONBIO), &off) == SOCKET_ERROR && ok) {
        err = WSAGetLastError();
        ok = false;
    }
    return ok;
}

int WaitReadable(Socket s, int timeoutMs, int &err) {
    return SelectFor(Sock(s), false, timeoutMs, err);
}

std::ptrdiff_t Receive(Socket s, uint8_t *buf, size_t n, int &err) {
    // The socket is blocking: receive only what a zero wait finds readable.
    const int ready = SelectFor(Sock(s), false, 0, err);
    if (ready < 0)
        return -1;
    if (ready == 0) {
        err = WSAEWOULDBLOCK;
        return -1;
    }
    const int want = n > size_t(INT32_MAX) ? INT32_MAX : static_cast<int>(n);
    const int got = ::recv(Sock(s), reinterpret_cast<char *>(buf), want, 0);
    if (got == SOCKET_ERROR) {
        err = WSAGetLastError();
        return -1;
    }
    return got;
}

std::ptrdiff_t Send(Socket s, const uint8_t *buf, size_t n, int &err) {
    // Winsock raises no SIGPIPE.
    const int want = n > size_t(INT32_MAX) ? INT32_MAX : static_cast<int>(n);
    const int sent = ::send(Sock(s), reinterpret_cast<const char *>(buf), want, 0);
    if (sent == SOCKET_ERROR) {
        err = WSAGetLastError();
        return -1;
    }
    return sent;
}

int WaitWritable(Socket s, int timeoutMs, int &err) {
    return SelectFor(Sock(s), true, timeoutMs, err);
}

std::ptrdiff_t SendSome(Socket s, const uint8_t *buf, size_t n, int &err) {
    // Winsock has no per-call flag: the socket is non-blocking for this send
    // alone, as during a connect.
    const SOCKET sock = Sock(s);
    u_long on = 1;
    if (::ioctlsocket(sock, static_cast<long>(FIONBIO), &on) == SOCKET_ERROR) {
        err = WSAGetLastError();
        return -1;
    }
    const std::ptrdiff_t sent = Send(s, buf, n, err);
    u_long off = 0;
    if (::ioctlsocket(sock, static_cast<long>(FIONBIO), &off) == SOCKET_ERROR && sent >= 0) {
        err = WSAGetLastError();
        return -1;
    }
    return sent;
}

void ShutdownAndClose(Socket &s) {
    if (s == InvalidSocket)
        return;
    ::shutdown(Sock(s), SD_SEND);
    ::closesocket(Sock(s));
    s = InvalidSocket;
}

} // namespace tcp::platform
