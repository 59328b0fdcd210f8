// tavrin-sim: a stand-in for the display module on loopback, for tests and
// demos. --modules N makes it N independent modules on N consecutive ports,
// each with its own registers and connection. A module serves one connection
// at a time; each request is a 4-byte big-endian count followed by that many
// bytes of a Modbus TCP frame; answers carry no count.
//
// stdout: first one ready line per module, in module order, "tavrin-sim
// listening on 127.0.0.1:<port>" ("tavrin-sim closed on 127.0.0.1:<port>" for
// a module whose port refuses connections); then one "REQ <hex>" line per
// request (count bytes and frame; with several modules "REQ <address:port>
// <hex>"), and "tavrin-sim listening on <address:port> (moved from
// <address:port>)" when a restart moves a module, "tavrin-sim closed on
// <address:port>" when one does not come back. stderr: connections,
// warnings, errors. Everything is flushed line by line.
#include "Device.h"
#include "Net.h"

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <random>
#include <string>
#include <utility>

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
constexpr long MaxModules = 100;
constexpr int PortTries = 100; // free blocks of consecutive ports sought with --port 0

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
    // Faults of one module among several.
    RefuseWrites,  // every write answered with exception 02, nothing stored
    CapBrightness, // the brightness keeps at most 100 even with --plain
    Closed,        // the port is held but refuses connections
    NoRestart,     // after a restart it closes and never comes back
};

struct Fault {
    Mode mode = Mode::Normal;
    long arg = 0;          // N of close-after, MS of slow and late, N of split-at, SEED of random
    long splitDelayMs = 0; // MS of split-at
};

struct Options {
    int port = 1502;
    int modules = 1;
    long delayMs = 0;
    Fault fault;                                     // every module's...
    std::vector<std::pair<int, Fault>> moduleFaults; // ...but those numbered here (from 1)
    std::string logFile;
    std::string answerLogFile;
    int stallAfter = -1;
    std::string imageFile;
    bool plain = false;
};

void Usage(FILE *to) {
    std::fputs("usage: tavrin-sim [--port N] [--modules N] [--delay MS] [--mode M]\n"
               "                 [--module-fault K:M]... [--log FILE] [--answer-log FILE]\n"
               "                 [--stall-after S] [--image FILE] [--plain]\n"
               "  --port N         listen on 127.0.0.1:N (default 1502; 0 picks free ports)\n"
               "  --modules N      N independent modules (1 to 100, default 1) on the ports\n"
               "                   N, N+1, ...: module 1 on --port, module K on --port + K - 1;\n"
               "                   each has its own registers and connection\n"
               "  --delay MS       every answer MS later than the request (a real network:\n"
               "                   20 to 150), on top of any mode's delays\n"
               "  --mode M         every module's mode: normal (default), silent, split,\n"
               "                   flood, exception (exception 04 to everything),\n"
               "                   close-after N, slow MS (also close-after=N, slow=MS),\n"
               "                   split-at N/MS (the first N bytes, the rest MS later),\n"
               "                   late MS (every odd-numbered answer MS late), wrong-tid\n"
               "                   (answers carry the previous transaction ID), random SEED\n"
               "                   (random pieces and delays; about one answer in 40 comes\n"
               "                   after the program's 3 s wait), refuse-writes (every write\n"
               "                   answered with exception 02, nothing stored), cap-brightness\n"
               "                   (40038 keeps at most 100, also with --plain), closed (the\n"
               "                   port is held but refuses connections), no-restart (after\n"
               "                   the restart command it answers, closes and never comes back)\n"
               "  --module-fault K:M\n"
               "                   module K (counted from 1) runs mode M instead, its value\n"
               "                   after '=' (2:late=400, 3:split-at=5/400); once per module\n"
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
               "                   version, no brightness cut)\n"
               "On the restart command (85 to 40039) a module reads 40025..40028 (address)\n"
               "and 40037 (port): when they name another address in 127.0.0.0/8 or another\n"
               "port, it answers, ends the connection and listens there from then on;\n"
               "otherwise it stays (and says so on stderr for an address elsewhere).\n",
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

bool WantsArg(const std::string &m) {
    return m == "close-after" || m == "slow" || m == "split-at" || m == "late" || m == "random";
}

// The timing-fault modes with their argument; false for any other mode.
bool ParseTimingMode(const std::string &m, const std::string &arg, Fault &f) {
    long v = 0;
    if (m == "split-at") {
        const auto slash = arg.find('/');
        long ms = 0;
        if (slash == std::string::npos || !ParseLong(arg.substr(0, slash).c_str(), 1, 100000, v) ||
            !ParseLong(arg.substr(slash + 1).c_str(), 0, 600000, ms))
            return false;
        f.mode = Mode::SplitAt, f.arg = v, f.splitDelayMs = ms;
        return true;
    }
    if (m == "late" && ParseLong(arg.c_str(), 0, 600000, v)) {
        f.mode = Mode::Late, f.arg = v;
        return true;
    }
    if (m == "random" && ParseLong(arg.c_str(), 0, 2147483647, v)) {
        f.mode = Mode::Random, f.arg = v;
        return true;
    }
    if (m == "wrong-tid" && arg.empty()) {
        f.mode = Mode::WrongTid;
        return true;
    }
    return false;
}

// A mode by name with its argument (empty for the modes that take none).
bool ParseMode(const std::string &m, const std::string &arg, Fault &f) {
    if (WantsArg(m) == arg.empty())
        return false;
    static const std::pair<const char *, Mode> plain[] = {
        {"normal", Mode::Normal},
        {"silent", Mode::Silent},
        {"split", Mode::Split},
        {"flood", Mode::Flood},
        {"exception", Mode::Exception},
        {"refuse-writes", Mode::RefuseWrites},
        {"cap-brightness", Mode::CapBrightness},
        {"closed", Mode::Closed},
        {"no-restart", Mode::NoRestart},
    };
    for (const auto &[name, mode] : plain)
        if (m == name) {
            f = Fault{mode, 0, 0};
            return true;
        }
    long v = 0;
    if (m == "close-after" && ParseLong(arg.c_str(), 0, 1000000000, v)) {
        f = Fault{Mode::CloseAfter, v, 0};
        return true;
    }
    if (m == "slow" && ParseLong(arg.c_str(), 0, 600000, v)) {
        f = Fault{Mode::Slow, v, 0};
        return true;
    }
    return ParseTimingMode(m, arg, f);
}

// "name" or "name=value" split in two.
std::pair<std::string, std::string> NameAndArg(const std::string &text) {
    const auto eq = text.find('=');
    if (eq == std::string::npos)
        return {text, {}};
    return {text.substr(0, eq), text.substr(eq + 1)};
}

// "K:mode[=value]"
bool ParseModuleFault(const std::string &text, Options &o) {
    const auto colon = text.find(':');
    long k = 0;
    Fault f;
    if (colon == std::string::npos || !ParseLong(text.substr(0, colon).c_str(), 1, MaxModules, k))
        return false;
    const auto [m, arg] = NameAndArg(text.substr(colon + 1));
    if (!ParseMode(m, arg, f))
        return false;
    for (const auto &given : o.moduleFaults)
        if (given.first == int(k))
            return false;
    o.moduleFaults.emplace_back(int(k), f);
    return true;
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
        } else if (a == "--modules") {
            if (!ParseLong(next, 1, MaxModules, v))
                return false;
            o.modules = int(v);
            ++i;
        } else if (a == "--delay") {
            if (!ParseLong(next, 0, 600000, v))
                return false;
            o.delayMs = v;
            ++i;
        } else if (a == "--module-fault") {
            if (!next || !ParseModuleFault(next, o))
                return false;
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
            ++i;
            auto [m, arg] = NameAndArg(next);
            // The value may also follow as an argument of its own.
            if (WantsArg(m) && arg.empty() && std::strchr(next, '=') == nullptr) {
                if (i + 1 >= argc)
                    return false;
                arg = argv[++i];
            }
            if (!ParseMode(m, arg, o.fault))
                return false;
        } else {
            return false;
        }
    }
    for (const auto &given : o.moduleFaults)
        if (given.first > o.modules)
            return false;
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

void Say(const std::string &line) {
    std::fputs((line + "\n").c_str(), stdout);
    std::fflush(stdout);
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
    bool closeWhenDrained = false; // close-after, a move: no more requests taken
    bool lingering = false;        // our FIN is out; discarding input
    Clock::time_point lingerUntil;
};

// One simulated module: its registers, its port and its one connection.
class Module {
public:
    Module(const Options &o, const Fault &f, FILE *log, FILE *answerLog)
        : m_opt(o), m_fault(f), m_log(log), m_answerLog(answerLog),
          m_device(o.stallAfter, Clock::now()), m_random(uint32_t(f.arg)) {}
    ~Module() { Close(); }
    Module(const Module &) = delete;
    Module &operator=(const Module &) = delete;

    sim::Device &Device() { return m_device; }

    // Takes 127.0.0.1:port (0: a free one): listening, or only held when the
    // module is closed.
    bool Open(uint16_t port, std::string &error);
    void Close();
    uint16_t Port() const { return m_port; }
    void PrintReady() const;

    // The socket to wait on, if any, added to `waiters`.
    void AddWaiter(std::vector<net::Waiter> &waiters);
    int PollTimeout() const;
    // Serves what the wait found (nothing for a time-out).
    void Step(const std::vector<net::Waiter> &waiters);

private:
    std::string Where() const { return net::AddressText(m_addr, m_port); }
    void Note(const std::string &text) const;
    void Accept();
    void Drop(const char *why);
    void StartLinger();
    bool ReadInput();
    void TakeRequests();
    void Handle(const Bytes &frame);
    void AfterRestart();
    void Retire();
    void Queue(Clock::time_point due, Bytes bytes);
    bool HandleTimingFault(Clock::time_point at, Bytes &answer);
    bool Flush();
    void PrintRequest(const uint8_t *p, size_t n);

    const Options &m_opt;
    Fault m_fault;
    FILE *m_log;
    FILE *m_answerLog;
    sim::Device m_device;
    std::mt19937 m_random;
    long m_answers = 0; // answers queued since the start, for late
    uint32_t m_addr = net::Localhost;
    uint16_t m_port = 0;
    net::Fd m_listen = net::NoFd; // listening, or only held (closed, retired)
    bool m_listening = false;
    Connection m_conn;
    int m_slot = -1; // in the waiters of this round
};

bool Module::Open(uint16_t port, std::string &error) {
    m_listening = m_fault.mode != Mode::Closed;
    m_listen = m_listening ? net::Listen(m_addr, port, m_port, error)
                           : net::Reserve(m_addr, port, m_port, error);
    return m_listen != net::NoFd;
}

void Module::Close() {
    if (m_conn.fd != net::NoFd)
        Drop("stopped");
    if (m_listen != net::NoFd)
        net::Close(m_listen);
    m_listen = net::NoFd;
}

void Module::PrintReady() const {
    Say(std::string(m_listening ? "tavrin-sim listening on " : "tavrin-sim closed on ") + Where());
}

void Module::Note(const std::string &text) const {
    ::Note(m_opt.modules > 1 ? Where() + ": " + text : text);
}

void Module::Accept() {
    std::string peer;
    const net::Fd fd = net::Accept(m_listen, peer); // split parts go out as such
    if (fd == net::NoFd)
        return;
    m_conn = Connection{};
    m_conn.fd = fd;
    Note("connection from " + peer);
    if (m_fault.mode == Mode::CloseAfter && m_fault.arg == 0)
        m_conn.closeWhenDrained = true;
}

void Module::Drop(const char *why) {
    if (m_conn.fd == net::NoFd)
        return;
    net::Close(m_conn.fd);
    m_conn = Connection{};
    Note(std::string("connection closed (") + why + ")");
}

void Module::StartLinger() {
    net::ShutdownSend(m_conn.fd);
    m_conn.lingering = true;
    m_conn.lingerUntil = Clock::now() + LingerTime;
    m_conn.in.clear();
}

// One receive. False when the connection is gone.
bool Module::ReadInput() {
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

void Module::PrintRequest(const uint8_t *p, size_t n) {
    // With several modules each line names the module it came to.
    const std::string line =
        "REQ " + (m_opt.modules > 1 ? Where() + " " : std::string()) + Hex(p, n) + "\n";
    std::fputs(line.c_str(), stdout);
    std::fflush(stdout);
    if (m_log) {
        std::fputs(line.c_str(), m_log);
        std::fflush(m_log);
    }
}

void Module::TakeRequests() {
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
        const long restarts = m_device.Restarts();
        Handle(frame);
        if (m_device.Restarts() != restarts)
            AfterRestart();
    }
}

// The restart command has been answered: the module takes its network
// registers and moves within 127.0.0.0/8, stays, or (no-restart) goes away.
void Module::AfterRestart() {
    if (m_fault.mode == Mode::NoRestart) {
        Retire();
        return;
    }
    uint32_t addr = 0;
    bool valid = true;
    for (int i = 0; i < 4; ++i) {
        const uint16_t element = m_device.Reg(sim::Device::IpIndex + i);
        valid = valid && element <= 255;
        addr = addr << 8 | (element & 255u);
    }
    const uint16_t port = m_device.Reg(sim::Device::PortIndex);
    const std::string to = net::AddressText(addr, port);
    if (valid && addr == m_addr && port == m_port)
        return;
    if (!valid || port == 0) {
        Note("restarted; the network registers name no address and port (" + to + "); stays on " +
             Where());
        return;
    }
    if (!net::IsLoopback(addr)) {
        Note("restarted; would move to " + to + ", outside 127.0.0.0/8; stays on " + Where());
        return;
    }
    std::string error;
    uint16_t bound = 0;
    const net::Fd fd = net::Listen(addr, port, bound, error);
    if (fd == net::NoFd) {
        Note("restarted; cannot move: " + error + "; stays on " + Where());
        return;
    }
    const std::string from = Where();
    net::Close(m_listen);
    m_listen = fd;
    m_addr = addr;
    m_port = bound;
    // A device with a new address keeps no connection: this one ends once
    // the restart's answer is out.
    m_conn.closeWhenDrained = true;
    Say("tavrin-sim listening on " + Where() + " (moved from " + from + ")");
}

// no-restart: the restart's answer goes out, then the connection ends and the
// port refuses connections for good (held, so that nobody else takes it).
void Module::Retire() {
    net::Close(m_listen);
    m_listening = false;
    std::string error;
    uint16_t bound = 0;
    m_listen = net::Reserve(m_addr, m_port, bound, error);
    if (m_listen == net::NoFd)
        Note(error);
    m_conn.closeWhenDrained = true;
    Note("restarted and does not come back");
    Say("tavrin-sim closed on " + Where());
}

void Module::Queue(Clock::time_point due, Bytes bytes) {
    if (bytes.empty())
        return;
    if (m_answerLog) {
        const std::string line = "ANS " + (m_opt.modules > 1 ? Where() + " " : std::string()) +
                                 Hex(bytes.data(), bytes.size()) + "\n";
        std::fputs(line.c_str(), m_answerLog);
        std::fflush(m_answerLog);
    }
    m_conn.outBytes += bytes.size();
    m_conn.out.push_back(Pending{due, std::move(bytes)});
}

void Module::Handle(const Bytes &frame) {
    const auto now = Clock::now();
    const auto at = now + Ms(m_opt.delayMs); // the network's share
    std::string warning;
    Bytes answer = m_device.Answer(frame, now, m_fault.mode == Mode::Exception, warning);
    if (!warning.empty())
        Note(warning);
    if (answer.empty() || HandleTimingFault(at, answer))
        return;
    switch (m_fault.mode) {
    case Mode::Silent:
        return;
    case Mode::Split: {
        const size_t first = std::max<size_t>(1, answer.size() / 2);
        Queue(at, Bytes(answer.begin(), answer.begin() + std::ptrdiff_t(first)));
        Queue(at + SplitDelay, Bytes(answer.begin() + std::ptrdiff_t(first), answer.end()));
        return;
    }
    case Mode::Flood:
        answer.resize(std::max(answer.size(), FloodSize), FloodFiller);
        Queue(at, std::move(answer));
        return;
    case Mode::Slow:
        Queue(at + Ms(m_fault.arg), std::move(answer));
        return;
    case Mode::CloseAfter:
        Queue(at, std::move(answer));
        if (++m_conn.answered >= m_fault.arg)
            m_conn.closeWhenDrained = true;
        return;
    case Mode::Normal:
    case Mode::Exception:
    case Mode::SplitAt:
    case Mode::Late:
    case Mode::WrongTid:
    case Mode::Random:
    case Mode::RefuseWrites:
    case Mode::CapBrightness:
    case Mode::Closed:
    case Mode::NoRestart:
        Queue(at, std::move(answer));
        return;
    }
}

// The timing-fault modes: true when the answer has been queued.
bool Module::HandleTimingFault(Clock::time_point at, Bytes &answer) {
    switch (m_fault.mode) {
    case Mode::SplitAt: {
        const size_t first = std::min(answer.size(), size_t(m_fault.arg));
        Queue(at, Bytes(answer.begin(), answer.begin() + std::ptrdiff_t(first)));
        Queue(at + Ms(m_fault.splitDelayMs),
              Bytes(answer.begin() + std::ptrdiff_t(first), answer.end()));
        return true;
    }
    case Mode::Late:
        Queue(m_answers++ % 2 == 0 ? at + Ms(m_fault.arg) : at, std::move(answer));
        return true;
    case Mode::WrongTid: {
        const uint16_t tid = uint16_t((answer[0] << 8 | answer[1]) - 1);
        answer[0] = uint8_t(tid >> 8);
        answer[1] = uint8_t(tid);
        Queue(at, std::move(answer));
        return true;
    }
    case Mode::Random: {
        // Up to three cuts, each piece up to 60 ms after the one before; one
        // answer in 40 starts 3.1 to 3.5 s late.
        std::uniform_int_distribution<int> pick(0, 39), cutAt(1, int(answer.size()) - 1),
            gap(0, 60), late(3100, 3500), cuts(0, 3);
        auto due = at + (pick(m_random) == 0 ? Ms(late(m_random)) : Ms(gap(m_random)));
        std::vector<size_t> cut;
        for (int n = answer.size() > 1 ? cuts(m_random) : 0; n > 0; --n)
            cut.push_back(size_t(cutAt(m_random)));
        cut.push_back(answer.size());
        std::sort(cut.begin(), cut.end());
        size_t from = 0;
        for (const size_t to : cut) {
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
bool Module::Flush() {
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

int Module::PollTimeout() const {
    auto wait = Ms(MaxPollMs);
    const auto now = Clock::now();
    if (!m_conn.out.empty())
        wait = std::min(wait, std::chrono::duration_cast<Ms>(m_conn.out.front().due - now) + Ms(1));
    if (m_conn.lingering)
        wait = std::min(wait, std::chrono::duration_cast<Ms>(m_conn.lingerUntil - now) + Ms(1));
    return int(std::max(wait, Ms(0)).count());
}

// A connection waits for its input and due output; without one, a listening
// module waits for the next (one connection at a time: others stay queued).
void Module::AddWaiter(std::vector<net::Waiter> &waiters) {
    m_slot = -1;
    net::Waiter w;
    if (m_conn.fd != net::NoFd) {
        w.fd = m_conn.fd;
        if (m_conn.lingering || m_conn.in.size() < MaxInput)
            w.events |= POLLIN;
        if (!m_conn.out.empty() && m_conn.out.front().due <= Clock::now())
            w.events |= POLLOUT;
    } else if (m_listening) {
        w.fd = m_listen;
        w.events = POLLIN;
    } else {
        return;
    }
    m_slot = int(waiters.size());
    waiters.push_back(w);
}

void Module::Step(const std::vector<net::Waiter> &waiters) {
    const short revents = m_slot >= 0 ? waiters[size_t(m_slot)].revents : 0;
    if (m_conn.fd == net::NoFd) {
        if (m_listening && (revents & POLLIN))
            Accept();
        return;
    }
    if (revents & POLLIN) {
        if (!ReadInput())
            return;
    } else if (revents & (POLLHUP | POLLERR)) {
        Drop("connection lost");
        return;
    }
    TakeRequests();
    if (m_conn.fd == net::NoFd || !Flush())
        return;
    if (m_conn.closeWhenDrained && !m_conn.lingering && m_conn.out.empty())
        StartLinger();
    if (m_conn.lingering && Clock::now() >= m_conn.lingerUntil)
        Drop("closed after answering");
}

using Modules = std::vector<std::unique_ptr<Module>>;

// Module K on port + K - 1. With port 0 the first port is a free one, and a
// block where another program holds a port is given up for another.
bool OpenAll(const Modules &modules, int port) {
    const int tries = port == 0 ? PortTries : 1;
    std::string error;
    for (int t = 0; t < tries; ++t) {
        bool ok = modules[0]->Open(uint16_t(port), error);
        const long first = modules[0]->Port();
        for (size_t k = 1; ok && k < modules.size(); ++k) {
            ok = first + long(k) <= 65535;
            if (!ok)
                error = "no " + std::to_string(modules.size()) + " ports from " +
                        std::to_string(first) + " below 65536";
            else
                ok = modules[k]->Open(uint16_t(first + long(k)), error);
        }
        if (ok)
            return true;
        for (const auto &m : modules)
            m->Close();
    }
    Note(error);
    return false;
}

int Run(const Modules &modules) {
    std::vector<net::Waiter> waiters;
    while (!g_stop) {
        waiters.clear();
        int timeout = MaxPollMs;
        for (const auto &m : modules) {
            m->AddWaiter(waiters);
            timeout = std::min(timeout, m->PollTimeout());
        }
        const int rc = net::Wait(waiters.data(), waiters.size(), timeout);
        if (rc < 0) {
            if (net::Retry())
                continue;
            Note("poll: " + net::LastError());
            return 1;
        }
        for (const auto &m : modules)
            m->Step(waiters);
    }
    for (const auto &m : modules)
        m->Close();
    return 0;
}

Fault FaultOf(const Options &o, int k) {
    for (const auto &[number, fault] : o.moduleFaults)
        if (number == k)
            return fault;
    return o.fault;
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
    int rc = 0;
    {
        Modules modules;
        for (int k = 1; k <= opt.modules; ++k) {
            const Fault fault = FaultOf(opt, k);
            auto m = std::make_unique<Module>(opt, fault, log, answerLog);
            if (opt.plain)
                m->Device().MakePlain();
            if (std::string error;
                !opt.imageFile.empty() && !m->Device().ReadImage(opt.imageFile, error)) {
                Note("cannot load the image " + error);
                return 2;
            }
            if (fault.mode == Mode::RefuseWrites)
                m->Device().RefuseWrites();
            if (fault.mode == Mode::CapBrightness)
                m->Device().CapBrightness();
            modules.push_back(std::move(m));
        }
        if (!OpenAll(modules, opt.port))
            return 1;
        for (const auto &m : modules)
            m->PrintReady();
        rc = Run(modules);
    }
    if (log)
        std::fclose(log);
    if (answerLog)
        std::fclose(answerLog);
    return rc;
}
