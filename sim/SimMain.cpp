// tavrin-sim: a stand-in for the display module on 127.0.0.1, for tests and
// demos. One connection at a time; each request is a 4-byte big-endian count
// followed by that many bytes of a Modbus TCP frame; answers carry no count.
//
// stdout: first the ready line "tavrin-sim listening on 127.0.0.1:<port>",
// then one "REQ <hex>" line per request (count bytes and frame). stderr:
// connections, warnings, errors. Everything is flushed line by line.
#include "Device.h"
#include "Net.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <random>
#include <string>

namespace {

using sim::Bytes;
using sim::Clock;
using Ms = std::chrono::milliseconds;

constexpr uint32_t MaxCount = 1024; // largest frame taken
constexpr size_t CountSize = 4;
constexpr size_t ReadChunk = 4096;
constexpr size_t MaxInput = CountSize + MaxCount + ReadChunk; // never buffered beyond
constexpr size_t MaxOutput = 64 * 1024; // stop taking requests above this backlog
constexpr size_t FloodSize = 5000;
constexpr uint8_t FloodFiller = 0xAA;
constexpr Ms SplitDelay{1500};
constexpr Ms LingerTime{2000}; // after our FIN, wait this long for the peer's
constexpr int MaxPollMs = 100;

volatile std::sig_atomic_t g_stop = 0;

enum class Mode {
    Normal,
    Silent,
    Split,
    CloseAfter,
    Flood,
    Slow,
    Exception,
    // Timing faults of gateways and busy devices (HandleTimingFault).
    SplitAt,  // split-at N/MS: the first N bytes, the rest MS later
    Late,     // late MS: every odd-numbered answer (1st, 3rd, ...) MS late
    WrongTid, // wrong-tid: every answer carries the transaction ID before the request's
    Random,   // random SEED: pieces and delays drawn per answer, now and then one late
};

struct Options {
    int port = 1502;
    Mode mode = Mode::Normal;
    long modeArg = 0;      // N of close-after, MS of slow and late, N of split-at, SEED of random
    long splitDelayMs = 0; // MS of split-at
    std::string logFile;
    std::string answerLogFile;
    int stallAfter = -1;
    std::string imageFile;
    bool plain = false;
};

void Usage(FILE *to) {
    std::fputs("usage: tavrin-sim [--port N] [--mode M] [--log FILE] [--answer-log FILE]\n"
               "                 [--stall-after S] [--image FILE] [--plain]\n"
               "  --port N         listen on 127.0.0.1:N (default 1502; 0 picks a free port)\n"
               "  --mode M         normal (default), silent, split, flood, exception,\n"
               "                   close-after N, slow MS (also close-after=N, slow=MS),\n"
               "                   split-at N/MS (the first N bytes, the rest MS later),\n"
               "                   late MS (every odd-numbered answer MS late), wrong-tid\n"
               "                   (answers carry the previous transaction ID), random SEED\n"
               "                   (random pieces and delays; about one answer in 40 comes\n"
               "                   after the program's 3 s wait)\n"
               "  --log FILE       append every request line to FILE as well\n"
               "  --answer-log FILE\n"
               "                   append \"ANS <hex>\" for every piece of answer queued for\n"
               "                   sending (filler, split parts), in wire order\n"
               "  --stall-after S  the counter 40002 stops S seconds after (re)start\n"
               "  --image FILE     start with the registers of FILE (\"40038,Name,80\" lines,\n"
               "                   as the program saves them; others 0) instead of the\n"
               "                   built-in module\n"
               "  --plain          a bare register store: all registers 0 but the version\n"
               "                   and a text, each keeps what is written (no read-only\n"
               "                   version, no brightness cut)\n",
               to);
}

bool ParseLong(const char *text, long lo, long hi, long &out) {
    if (!text || !*text)
        return false;
    char *end = nullptr;
    errno = 0;
    const long v = std::strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || v < lo || v > hi)
        return false;
    out = v;
    return true;
}

// The timing-fault modes with their argument; false for any other mode.
bool ParseTimingMode(const std::string &m, const std::string &arg, Options &o) {
    long v = 0;
    if (m == "split-at") {
        const auto slash = arg.find('/');
        long ms = 0;
        if (slash == std::string::npos || !ParseLong(arg.substr(0, slash).c_str(), 1, 100000, v) ||
            !ParseLong(arg.substr(slash + 1).c_str(), 0, 600000, ms))
            return false;
        o.mode = Mode::SplitAt, o.modeArg = v, o.splitDelayMs = ms;
        return true;
    }
    if (m == "late" && ParseLong(arg.c_str(), 0, 600000, v)) {
        o.mode = Mode::Late, o.modeArg = v;
        return true;
    }
    if (m == "random" && ParseLong(arg.c_str(), 0, 2147483647, v)) {
        o.mode = Mode::Random, o.modeArg = v;
        return true;
    }
    if (m == "wrong-tid" && arg.empty()) {
        o.mode = Mode::WrongTid;
        return true;
    }
    return false;
}

bool ParseArgs(int argc, char **argv, Options &o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char *next = i + 1 < argc ? argv[i + 1] : nullptr;
        long v = 0;
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            std::exit(0);
        } else if (a == "--port") {
            if (!ParseLong(next, 0, 65535, v))
                return false;
            o.port = int(v);
            ++i;
        } else if (a == "--log") {
            if (!next || !*next)
                return false;
            o.logFile = next;
            ++i;
        } else if (a == "--answer-log") {
            if (!next || !*next)
                return false;
            o.answerLogFile = next;
            ++i;
        } else if (a == "--plain") {
            o.plain = true;
        } else if (a == "--image") {
            if (!next || !*next)
                return false;
            o.imageFile = next;
            ++i;
        } else if (a == "--stall-after") {
            if (!ParseLong(next, 0, 1000000, v))
                return false;
            o.stallAfter = int(v);
            ++i;
        } else if (a == "--mode") {
            if (!next)
                return false;
            std::string m = next;
            ++i;
            std::string arg;
            if (const auto eq = m.find('='); eq != std::string::npos) {
                arg = m.substr(eq + 1);
                m.resize(eq);
            }
            const bool wantsArg = m == "close-after" || m == "slow" || m == "split-at" ||
                                  m == "late" || m == "random";
            if (wantsArg && arg.empty()) {
                if (i + 1 >= argc)
                    return false;
                arg = argv[++i];
            } else if (!wantsArg && !arg.empty()) {
                return false;
            }
            if (m == "normal")
                o.mode = Mode::Normal;
            else if (m == "silent")
                o.mode = Mode::Silent;
            else if (m == "split")
                o.mode = Mode::Split;
            else if (m == "flood")
                o.mode = Mode::Flood;
            else if (m == "exception")
                o.mode = Mode::Exception;
            else if (m == "close-after" && ParseLong(arg.c_str(), 0, 1000000000, v))
                o.mode = Mode::CloseAfter, o.modeArg = v;
            else if (m == "slow" && ParseLong(arg.c_str(), 0, 600000, v))
                o.mode = Mode::Slow, o.modeArg = v;
            else if (!ParseTimingMode(m, arg, o))
                return false;
        } else {
            return false;
        }
    }
    return true;
}

std::string Hex(const uint8_t *p, size_t n) {
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    s.reserve(n * 3);
    for (size_t i = 0; i < n; ++i) {
        if (i)
            s += ' ';
        s += digits[p[i] >> 4];
        s += digits[p[i] & 15];
    }
    return s;
}

void Note(const std::string &text) {
    std::fprintf(stderr, "tavrin-sim: %s\n", text.c_str());
    std::fflush(stderr);
}

struct Pending {
    Clock::time_point due;
    Bytes bytes;
    size_t sent = 0;
};

struct Connection {
    net::Fd fd = net::NoFd;
    Bytes in;
    std::deque<Pending> out; // in wire order; the head blocks what follows
    size_t outBytes = 0;
    long answered = 0;
    bool closeWhenDrained = false; // close-after: no more requests taken
    bool lingering = false;        // our FIN is out; discarding input
    Clock::time_point lingerUntil;
};

class Server {
public:
    Server(const Options &o, FILE *log, FILE *answerLog)
        : m_opt(o), m_log(log), m_answerLog(answerLog), m_device(o.stallAfter, Clock::now()),
          m_random(uint32_t(o.modeArg)) {}

    int Run();
    sim::Device &Module() { return m_device; }

private:
    bool Listen();
    void Accept();
    void Drop(const char *why);
    void StartLinger();
    bool ReadInput();
    void TakeRequests();
    void Handle(const Bytes &frame);
    void Queue(Clock::time_point due, Bytes bytes);
    bool HandleTimingFault(Clock::time_point now, Bytes &answer);
    bool Flush();
    int PollTimeout() const;
    void PrintRequest(const uint8_t *p, size_t n);

    Options m_opt;
    FILE *m_log;
    FILE *m_answerLog;
    sim::Device m_device;
    std::mt19937 m_random;
    long m_answers = 0; // answers queued since the start, for late
    net::Fd m_listen = net::NoFd;
    Connection m_conn;
};

bool Server::Listen() {
    std::string error;
    uint16_t port = 0;
    m_listen = net::Listen(uint16_t(m_opt.port), port, error);
    if (m_listen == net::NoFd) {
        Note(error);
        return false;
    }
    std::printf("tavrin-sim listening on 127.0.0.1:%u\n", unsigned(port));
    std::fflush(stdout);
    return true;
}

void Server::Accept() {
    std::string peer;
    const net::Fd fd = net::Accept(m_listen, peer); // split parts go out as such
    if (fd == net::NoFd)
        return;
    m_conn = Connection{};
    m_conn.fd = fd;
    Note("connection from " + peer);
    if (m_opt.mode == Mode::CloseAfter && m_opt.modeArg == 0)
        m_conn.closeWhenDrained = true;
}

void Server::Drop(const char *why) {
    if (m_conn.fd == net::NoFd)
        return;
    net::Close(m_conn.fd);
    m_conn = Connection{};
    Note(std::string("connection closed (") + why + ")");
}

void Server::StartLinger() {
    net::ShutdownSend(m_conn.fd);
    m_conn.lingering = true;
    m_conn.lingerUntil = Clock::now() + LingerTime;
    m_conn.in.clear();
}

// One receive. False when the connection is gone.
bool Server::ReadInput() {
    uint8_t buf[ReadChunk];
    const long long n = net::Receive(m_conn.fd, buf, sizeof buf);
    if (n < 0) {
        if (net::Retry())
            return true;
        Drop(net::LastError().c_str());
        return false;
    }
    if (n == 0) {
        Drop("closed by the client");
        return false;
    }
    if (!m_conn.lingering)
        m_conn.in.insert(m_conn.in.end(), buf, buf + n);
    return true;
}

void Server::PrintRequest(const uint8_t *p, size_t n) {
    const std::string line = "REQ " + Hex(p, n) + "\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    if (m_log) {
        std::fputs(line.c_str(), m_log);
        std::fflush(m_log);
    }
}

void Server::TakeRequests() {
    while (m_conn.fd != net::NoFd && !m_conn.lingering && !m_conn.closeWhenDrained &&
           m_conn.outBytes <= MaxOutput && m_conn.in.size() >= CountSize) {
        const uint8_t *p = m_conn.in.data();
        const uint32_t count =
            uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
        if (count == 0 || count > MaxCount) {
            Note("request count " + std::to_string(count) + " is outside 1.." +
                 std::to_string(MaxCount) + "; closing the connection");
            Drop("bad count");
            return;
        }
        if (m_conn.in.size() < CountSize + count)
            return;
        PrintRequest(p, CountSize + count);
        const Bytes frame(p + CountSize, p + CountSize + count);
        m_conn.in.erase(m_conn.in.begin(), m_conn.in.begin() + CountSize + count);
        Handle(frame);
    }
}

void Server::Queue(Clock::time_point due, Bytes bytes) {
    if (bytes.empty())
        return;
    if (m_answerLog) {
        const std::string line = "ANS " + Hex(bytes.data(), bytes.size()) + "\n";
        std::fputs(line.c_str(), m_answerLog);
        std::fflush(m_answerLog);
    }
    m_conn.outBytes += bytes.size();
    m_conn.out.push_back(Pending{due, std::move(bytes)});
}

void Server::Handle(const Bytes &frame) {
    const auto now = Clock::now();
    std::string warning;
    Bytes answer = m_device.Answer(frame, now, m_opt.mode == Mode::Exception, warning);
    if (!warning.empty())
        Note(warning);
    if (answer.empty() || HandleTimingFault(now, answer))
        return;
    switch (m_opt.mode) {
    case Mode::Silent:
        return;
    case Mode::Split: {
        const size_t first = std::max<size_t>(1, answer.size() / 2);
        Queue(now, Bytes(answer.begin(), answer.begin() + std::ptrdiff_t(first)));
        Queue(now + SplitDelay, Bytes(answer.begin() + std::ptrdiff_t(first), answer.end()));
        return;
    }
    case Mode::Flood:
        answer.resize(std::max(answer.size(), FloodSize), FloodFiller);
        Queue(now, std::move(answer));
        return;
    case Mode::Slow:
        Queue(now + Ms(m_opt.modeArg), std::move(answer));
        return;
    case Mode::CloseAfter:
        Queue(now, std::move(answer));
        if (++m_conn.answered >= m_opt.modeArg)
            m_conn.closeWhenDrained = true;
        return;
    case Mode::Normal:
    case Mode::Exception:
    case Mode::SplitAt:
    case Mode::Late:
    case Mode::WrongTid:
    case Mode::Random:
        Queue(now, std::move(answer));
        return;
    }
}

// The timing-fault modes: true when the answer has been queued.
bool Server::HandleTimingFault(Clock::time_point now, Bytes &answer) {
    switch (m_opt.mode) {
    case Mode::SplitAt: {
        const size_t first = std::min(answer.size(), size_t(m_opt.modeArg));
        Queue(now, Bytes(answer.begin(), answer.begin() + std::ptrdiff_t(first)));
        Queue(now + Ms(m_opt.splitDelayMs),
              Bytes(answer.begin() + std::ptrdiff_t(first), answer.end()));
        return true;
    }
    case Mode::Late:
        Queue(m_answers++ % 2 == 0 ? now + Ms(m_opt.modeArg) : now, std::move(answer));
        return true;
    case Mode::WrongTid: {
        const uint16_t tid = uint16_t((answer[0] << 8 | answer[1]) - 1);
        answer[0] = uint8_t(tid >> 8);
        answer[1] = uint8_t(tid);
        Queue(now, std::move(answer));
        return true;
    }
    case Mode::Random: {
        // Up to three cuts, each piece up to 60 ms after the one before; one
        // answer in 40 starts 3.1 to 3.5 s late.
        std::uniform_int_distribution<int> pick(0, 39), cutAt(1, int(answer.size()) - 1),
            gap(0, 60), late(3100, 3500), cuts(0, 3);
        auto due = now + (pick(m_random) == 0 ? Ms(late(m_random)) : Ms(gap(m_random)));
        std::vector<size_t> at;
        for (int n = answer.size() > 1 ? cuts(m_random) : 0; n > 0; --n)
            at.push_back(size_t(cutAt(m_random)));
        at.push_back(answer.size());
        std::sort(at.begin(), at.end());
        size_t from = 0;
        for (const size_t to : at) {
            if (to > from)
                Queue(due, Bytes(answer.begin() + long(from), answer.begin() + long(to)));
            from = std::max(from, to);
            due += Ms(gap(m_random));
        }
        return true;
    }
    default:
        return false;
    }
}

// Sends what is due. False when the connection is gone.
bool Server::Flush() {
    const auto now = Clock::now();
    while (!m_conn.out.empty() && m_conn.out.front().due <= now) {
        Pending &head = m_conn.out.front();
        const long long n =
            net::Send(m_conn.fd, head.bytes.data() + head.sent, head.bytes.size() - head.sent);
        if (n < 0) {
            if (net::Retry())
                return true;
            Drop(net::LastError().c_str());
            return false;
        }
        head.sent += size_t(n);
        m_conn.outBytes -= size_t(n);
        if (head.sent == head.bytes.size())
            m_conn.out.pop_front();
    }
    return true;
}

int Server::PollTimeout() const {
    auto wait = Ms(MaxPollMs);
    const auto now = Clock::now();
    if (!m_conn.out.empty())
        wait = std::min(wait, std::chrono::duration_cast<Ms>(m_conn.out.front().due - now) + Ms(1));
    if (m_conn.lingering)
        wait = std::min(wait, std::chrono::duration_cast<Ms>(m_conn.lingerUntil - now) + Ms(1));
    return int(std::max(wait, Ms(0)).count());
}

int Server::Run() {
    if (!Listen())
        return 1;
    while (!g_stop) {
        const bool haveConn = m_conn.fd != net::NoFd;
        short events = 0;
        if (haveConn) {
            const bool takeInput = m_conn.lingering || m_conn.in.size() < MaxInput;
            if (takeInput)
                events |= POLLIN;
            if (!m_conn.out.empty() && m_conn.out.front().due <= Clock::now())
                events |= POLLOUT;
        } else {
            events = POLLIN;
        }
        short revents = 0;
        const int rc = net::Wait(haveConn ? m_conn.fd : m_listen, events, PollTimeout(), revents);
        if (rc < 0) {
            if (net::Retry())
                continue;
            Note("poll: " + net::LastError());
            return 1;
        }
        if (!haveConn) {
            if (revents & POLLIN)
                Accept();
            continue;
        }
        if (revents & POLLIN) {
            if (!ReadInput())
                continue;
        } else if (revents & (POLLHUP | POLLERR)) {
            Drop("connection lost");
            continue;
        }
        TakeRequests();
        if (m_conn.fd == net::NoFd || !Flush())
            continue;
        if (m_conn.closeWhenDrained && !m_conn.lingering && m_conn.out.empty())
            StartLinger();
        if (m_conn.lingering && Clock::now() >= m_conn.lingerUntil)
            Drop("closed after answering");
    }
    if (m_conn.fd != net::NoFd)
        Drop("stopped");
    net::Close(m_listen);
    return 0;
}

} // namespace

int main(int argc, char **argv) {
    Options opt;
    if (!ParseArgs(argc, argv, opt)) {
        Usage(stderr);
        return 2;
    }

    net::OnStop(&g_stop);
    if (std::string error; !net::Start(error)) {
        Note(error);
        return 1;
    }

    FILE *log = nullptr;
    if (!opt.logFile.empty()) {
        log = std::fopen(opt.logFile.c_str(), "ab"); // LF line ends everywhere
        if (!log) {
            Note("cannot open " + opt.logFile + ": " + std::strerror(errno));
            return 1;
        }
    }
    FILE *answerLog = nullptr;
    if (!opt.answerLogFile.empty()) {
        answerLog = std::fopen(opt.answerLogFile.c_str(), "ab");
        if (!answerLog) {
            Note("cannot open " + opt.answerLogFile + ": " + std::strerror(errno));
            return 1;
        }
    }
    Server server(opt, log, answerLog);
    if (opt.plain)
        server.Module().MakePlain();
    if (std::string error;
        !opt.imageFile.empty() && !server.Module().ReadImage(opt.imageFile, error)) {
        Note("cannot load the image " + error);
        return 2;
    }
    const int rc = server.Run();
    if (log)
        std::fclose(log);
    if (answerLog)
        std::fclose(answerLog);
    return rc;
}
