#pragma once
// The floor for an exchange: the fewest system calls that carry one counted
// request to the device on 127.0.0.1 and bring its answer back. No Qt, no
// window, no log: what is left is the loopback and the device's own time.
#include <arpa/inet.h>
#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace bench {

class PlainClient {
public:
    PlainClient() = default;
    ~PlainClient() { Close(); }
    PlainClient(const PlainClient &) = delete;
    PlainClient &operator=(const PlainClient &) = delete;

    // Loopback only.
    bool Connect(uint16_t port) {
        Close();
        m_fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (m_fd < 0)
            return false;
        const int one = 1; // as the program's client: no Nagle delay
        ::setsockopt(m_fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (::connect(m_fd, reinterpret_cast<const sockaddr *>(&to), sizeof to) != 0) {
            Close();
            return false;
        }
        return true;
    }

    // Sends the request in one piece (or, with splitAt > 0, as two sends cut
    // there) and reads until answerLength bytes have come, each wait bounded
    // by timeoutMs. False on any failure.
    bool Exchange(const uint8_t *request, size_t length, size_t answerLength, size_t splitAt = 0,
                  int timeoutMs = 3000) {
        if (splitAt > 0 && splitAt < length)
            return SendAll(request, splitAt) && SendAll(request + splitAt, length - splitAt) &&
                   Receive(answerLength, timeoutMs);
        return SendAll(request, length) && Receive(answerLength, timeoutMs);
    }

    void Close() {
        if (m_fd >= 0)
            ::close(m_fd);
        m_fd = -1;
    }

private:
    bool SendAll(const uint8_t *data, size_t length) {
        size_t sent = 0;
        while (sent < length) {
            const ssize_t n = ::send(m_fd, data + sent, length - sent, MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            sent += size_t(n);
        }
        return true;
    }

    bool Receive(size_t answerLength, int timeoutMs) {
        size_t got = 0;
        while (got < answerLength) {
            pollfd p{m_fd, POLLIN, 0};
            const int ready = ::poll(&p, 1, timeoutMs);
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready <= 0)
                return false;
            const ssize_t n = ::recv(m_fd, m_answer + got, sizeof m_answer - got, 0);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                return false;
            got += size_t(n);
        }
        return got == answerLength;
    }

    int m_fd = -1;
    uint8_t m_answer[8192] = {};
};

} // namespace bench
