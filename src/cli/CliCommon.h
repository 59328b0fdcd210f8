#pragma once
// What the command line's commands share: the connection settings, one
// connected session with its traffic log, how a reply becomes an exit code,
// and the output in text, CSV or JSON.
#include "Cli.h"
#include "Config.h"
#include "Session.h"
#include "TcpClient.h"

#include <QElapsedTimer>
#include <QString>
#include <atomic>
#include <map>
#include <vector>

class QCommandLineParser;
class QTextStream;

namespace cli {

// A usage error or a bad file: reported, exit 2, nothing sent.
struct UsageError {
    explicit UsageError(QString t) : text(std::move(t)) {}
    QString text;
};

enum class Format { Text, Csv, Json };

struct Settings {
    QString host;
    uint16_t port = 502;
    core::Mbap header{1, 1, 1};
    int connectTimeoutMs = -1; // the window's bound: the platform's default
    Format format = Format::Text;
    bool log = false;
};

void AddConnectionOptions(QCommandLineParser &parser);
// --host/--port/--node/--protocol/--tid over what --ini gives; without
// needHost (provisioning names its hosts in a list) a missing host is fine.
Settings ParseSettings(const QCommandLineParser &parser, bool needHost = true);
QString HelpText();

// The register number of an image index: "40038" for 37.
QString Number(int index);

// 40001 (trigger) and 40039 (restart): commands, never configuration.
bool IsCommandRegister(int index);
// 40002, the counter: it runs on its own, so a saved word of it is no
// configuration either (a verify of it would fail whenever it moved).
bool IsLiveRegister(int index);

// A CSV or a Tavrin.ini's [REG]; throws UsageError for a file that cannot
// be read or parsed.
core::ConfigFile ReadConfig(const QString &path);

// The words of a configuration file to write, by index: the trigger and the
// restart are commands, so they are left out, and err says so.
std::map<int, uint16_t> ConfigWords(const core::ConfigFile &config, QTextStream &err,
                                    const QString &path);

struct WriteOutcome {
    int code = 0;
    int requests = 0;
    int written = 0;      // registers acknowledged
    QList<int> differing; // after the read-back
    QString why;          // for a failure
};

// One module's connection and session. Traffic lines go to err with --log,
// each after its local time as in a saved log.
class Link {
public:
    Link(const Settings &settings, QTextStream &out, QTextStream &err);

    // Connects; on failure says why and returns false.
    bool Open();
    // The exit code of a reply (reads: count registers expected), with the
    // reason on err.
    int Judge(const engine::Reply &reply, int count = 0);
    // Writes words in runs of consecutive registers: one register alone by
    // function 6, a run by function 16 of at most maxRun registers. Stops at
    // the first write that fails.
    WriteOutcome WriteRuns(const std::map<int, uint16_t> &words, int maxRun);
    // Reads the device's registers back; differing: the indices of words
    // that the device does not hold.
    int VerifyWords(const std::map<int, uint16_t> &words, QList<int> &differing);

    void PrintRegisters(const uint16_t *image, int first, int count);
    void PrintWritten(const std::map<int, uint16_t> &words, const WriteOutcome &w);
    void PrintComparison(const std::map<int, uint16_t> &file, const uint16_t *device,
                         const QList<int> &differing);
    void PrintEvent(const QString &event, const QString &text);
    void PrintTick(uint16_t counter, bool answered, int unchanged, bool trigger, bool written);

    Settings settings;
    QTextStream &out;
    QTextStream &err;
    tcp::TcpClient client;
    engine::Session session;
    // Where traffic lines go: err with --log, a module's own file when
    // provisioning, nowhere otherwise.
    QTextStream *trafficTo = nullptr;
    // Quiet: reasons are kept in lastWhy, not printed (parallel modules).
    bool quiet = false;
    QString lastWhy;
    // The device's words after the last verify, by index.
    std::vector<uint16_t> readBack;
    core::AnswerCheck lastCheck;             // of the last reply judged
    const std::atomic<bool> *stop = nullptr; // set: no further write starts

private:
    void Traffic(const QString &line);
    QElapsedTimer m_sent;
    bool m_sentValid = false;
    void Say(const QString &why);
    bool m_tickHeader = false;
};

} // namespace cli
