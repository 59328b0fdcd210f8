#include "Cli.h"
#include "CliCommon.h"
#include "Config.h"
#include "Follow.h"
#include "Hex.h"
#include "IniFile.h"
#include "Modbus.h"
#include "NetSettings.h"
#include "Platform.h"
#include "Provision.h"
#include "SaveFile.h"
#include "Session.h"
#include "TcpClient.h"

#include <QCommandLineParser>
#include <QDateTime>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QSaveFile>
#include <QTextStream>
#include <QThread>

#include <algorithm>
#include <map>

namespace cli {

namespace {

constexpr int MaxWriteRun = 123; // registers in one function-16 request

// A register number of the device: 40001..40155.
int RegisterIndex(const QString &text) {
    bool ok = false;
    const int number = text.trimmed().toInt(&ok);
    if (!ok || number < core::FirstNumber || number >= core::FirstNumber + core::DeviceRegs)
        throw UsageError(QStringLiteral("register %1 is outside 40001..40155").arg(text));
    return number - core::FirstNumber;
}

uint16_t RegisterValue(const QString &text) {
    bool ok = false;
    const QString t = text.trimmed();
    const uint v = t.startsWith(QStringLiteral("0x"), Qt::CaseInsensitive)
                       ? t.mid(2).toUInt(&ok, 16)
                       : t.toUInt(&ok, 10);
    if (!ok || v > 65535)
        throw UsageError(QStringLiteral("value %1 is outside 0..65535").arg(text));
    return uint16_t(v);
}

// "FIRST[..LAST]" as first index and count.
std::pair<int, int> RegisterRange(const QString &text) {
    const QStringList parts = text.split(QStringLiteral(".."));
    if (parts.size() > 2)
        throw UsageError(QStringLiteral("a range is FIRST..LAST, not %1").arg(text));
    const int first = RegisterIndex(parts[0]);
    const int last = parts.size() == 2 ? RegisterIndex(parts[1]) : first;
    if (last < first)
        throw UsageError(QStringLiteral("the range %1 ends before it begins").arg(text));
    return {first, last - first + 1};
}

// ---- the commands ------------------------------------------------------------

int CmdRead(Link &link, const QStringList &args) {
    if (args.size() > 1)
        throw UsageError(QStringLiteral("read takes one range at most"));
    const auto [first, count] =
        args.isEmpty() ? std::pair{0, int(core::DeviceRegs)} : RegisterRange(args[0]);
    if (!link.Open())
        return NoAnswer;
    uint16_t image[core::ImageSize] = {};
    const engine::Reply r = link.session.ReadRange(first, count, image);
    const int code = link.Judge(r, count);
    if (code != Done)
        return code;
    link.PrintRegisters(image, first, count);
    return Done;
}

int CmdWrite(Link &link, const QStringList &args) {
    if (args.isEmpty())
        throw UsageError(QStringLiteral("write needs REG=VALUE"));
    std::map<int, uint16_t> words;
    for (const QString &a : args) {
        const qsizetype eq = a.indexOf(u'=');
        if (eq < 0)
            throw UsageError(QStringLiteral("%1 is not REG=VALUE").arg(a));
        const int index = RegisterIndex(a.left(eq));
        if (words.count(index))
            throw UsageError(QStringLiteral("register %1 is given twice").arg(Number(index)));
        words[index] = RegisterValue(a.mid(eq + 1));
    }
    if (!link.Open())
        return NoAnswer;
    const WriteOutcome w = link.WriteRuns(words, MaxWriteRun);
    link.PrintWritten(words, w);
    return w.code;
}

int CmdText(Link &link, const QStringList &args) {
    if (args.size() != 1)
        throw UsageError(QStringLiteral("text needs one TEXT (quote it)"));
    const QString text = args[0];
    if (text.isEmpty())
        throw UsageError(QStringLiteral("The text can't be empty."));
    if (text.size() > core::MaxSentText)
        throw UsageError(QStringLiteral("the text has %1 characters; the module shows 99 at most")
                             .arg(text.size()));
    if (!link.Open())
        return NoAnswer;
    uint16_t image[core::ImageSize] = {};
    core::TextToRegs(text, image);
    const int code = link.Judge(link.session.SendText(image));
    if (code == Done)
        link.PrintEvent(QStringLiteral("text"),
                        QStringLiteral("Text sent: %1 characters.").arg(text.size()));
    return code;
}

int CmdRestart(Link &link, const QStringList &args) {
    if (!args.isEmpty())
        throw UsageError(QStringLiteral("restart takes no arguments"));
    if (!link.Open())
        return NoAnswer;
    const int code = link.Judge(link.session.Restart());
    if (code == Done)
        link.PrintEvent(QStringLiteral("restart"), QStringLiteral("Restart sent."));
    return code;
}

int CmdSave(Link &link, const QStringList &args) {
    if (args.size() != 1)
        throw UsageError(QStringLiteral("save needs one FILE"));
    // Opened first: a file that cannot be written costs no request.
    core::SaveFile file(args[0]);
    if (!file.Open())
        throw UsageError(QStringLiteral("cannot write %1: %2").arg(args[0], file.Error()));
    if (!link.Open())
        return NoAnswer;
    uint16_t image[core::ImageSize] = {};
    const int code =
        link.Judge(link.session.ReadRange(0, core::DeviceRegs, image), core::DeviceRegs);
    if (code != Done)
        return code;
    if (!file.Write(core::RegistersCsv(image)) || !file.Commit())
        throw UsageError(QStringLiteral("cannot write %1: %2").arg(args[0], file.Error()));
    link.PrintEvent(
        QStringLiteral("save"),
        QStringLiteral("Saved %1 to %2.").arg(core::Registers(core::DeviceRegs), args[0]));
    return Done;
}

int CmdLoad(Link &link, const QStringList &args) {
    if (args.size() != 1)
        throw UsageError(QStringLiteral("load needs one FILE"));
    const core::ConfigFile config = ReadConfig(args[0]);
    const std::map<int, uint16_t> words = ConfigWords(config, link.err, args[0]);
    if (words.empty())
        throw UsageError(QStringLiteral("%1 gives no register to write").arg(args[0]));
    if (!link.Open())
        return NoAnswer;
    // Only the words the device does not hold yet go out: a saved file loads
    // back without writing the version, which the module refuses.
    uint16_t before[core::ImageSize] = {};
    int code = link.Judge(link.session.ReadRange(0, core::DeviceRegs, before), core::DeviceRegs);
    if (code != Done)
        return code;
    std::map<int, uint16_t> changed;
    for (const auto &[index, word] : words)
        if (before[index] != word)
            changed[index] = word;
    WriteOutcome w = link.WriteRuns(changed, MaxWriteRun);
    if (w.code == Done)
        w.code = link.VerifyWords(words, w.differing);
    link.PrintWritten(words, w);
    return w.code;
}

int CmdCompare(Link &link, const QStringList &args) {
    if (args.size() != 1)
        throw UsageError(QStringLiteral("compare needs one FILE"));
    const core::ConfigFile config = ReadConfig(args[0]);
    const std::map<int, uint16_t> words = ConfigWords(config, link.err, args[0]);
    if (!link.Open())
        return NoAnswer;
    uint16_t image[core::ImageSize] = {};
    const int code =
        link.Judge(link.session.ReadRange(0, core::DeviceRegs, image), core::DeviceRegs);
    if (code != Done)
        return code;
    QList<int> differing;
    for (const auto &[index, word] : words)
        if (image[index] != word)
            differing << index;
    link.PrintComparison(words, image, differing);
    return differing.isEmpty() ? Done : Differs;
}

int CmdWatch(Link &link, const QStringList &args, double seconds, int intervalMs) {
    if (!args.isEmpty())
        throw UsageError(QStringLiteral("watch takes no arguments (--seconds N)"));
    if (!link.Open())
        return NoAnswer;
    engine::StallWatch watch;
    uint16_t image[core::ImageSize] = {};
    QElapsedTimer clock;
    clock.start();
    const qint64 endMs = seconds > 0 ? qint64(seconds * 1000) : -1;
    for (qint64 tick = 0;; ++tick) {
        // As the window's repeat job: an unanswered read keeps the last word.
        const engine::Reply r = link.session.ReadRange(core::CounterIndex, 1, image);
        if (!r.exchange.sent)
            return NoAnswer; // the connection is gone
        const bool trigger = watch.Tick(image[core::CounterIndex]);
        bool triggered = false;
        if (trigger) {
            const engine::Reply t = link.session.WriteSingle(core::TriggerIndex, 1);
            triggered = t.acknowledged;
        }
        link.PrintTick(image[core::CounterIndex], r.Ok(), watch.count, trigger, triggered);
        const qint64 next = (tick + 1) * intervalMs;
        if (endMs >= 0 && next > endMs)
            return Done;
        while (clock.elapsed() < next)
            QThread::msleep(ulong(std::min<qint64>(next - clock.elapsed(), 100)));
    }
}

int CmdNetwork(Link &link, const QStringList &args, const QCommandLineParser &parser) {
    if (!args.isEmpty())
        throw UsageError(QStringLiteral("network takes its settings as options"));
    const QStringList names{QStringLiteral("set-ip"), QStringLiteral("set-mask"),
                            QStringLiteral("set-gateway"), QStringLiteral("set-port")};
    for (const QString &n : names)
        if (!parser.isSet(n))
            throw UsageError(QStringLiteral("network needs --set-ip, --set-mask, --set-gateway "
                                            "and --set-port"));
    core::NetSettings settings;
    const core::NetCheck check =
        core::CheckNetTexts({parser.value(names[0]), parser.value(names[1]), parser.value(names[2]),
                             parser.value(names[3])},
                            settings);
    if (!check.Ok())
        throw UsageError(QStringLiteral("refused, nothing sent: ") + check.Problems());
    if (!check.warning.isEmpty()) {
        link.err << QStringLiteral("tavrin-cli: ") << check.warning << u'\n';
        link.err.flush();
    }
    if (!link.Open())
        return NoAnswer;
    const core::NetWords words = settings.Words();
    int code = link.Judge(link.session.WriteRange(core::NetFirstIndex, words));
    if (code != Done)
        return code;
    // Read back always: a wrong word here locks everyone out.
    uint16_t image[core::ImageSize] = {};
    code = link.Judge(link.session.ReadRange(core::NetFirstIndex, core::NetWordCount, image),
                      core::NetWordCount);
    if (code != Done)
        return code;
    for (int i = 0; i < core::NetWordCount; ++i) {
        const int index = core::NetFirstIndex + i;
        if (image[index] != words[size_t(i)]) {
            link.PrintEvent(QStringLiteral("differs"),
                            QStringLiteral("%1: written %2, device holds %3")
                                .arg(core::FirstNumber + index)
                                .arg(words[size_t(i)])
                                .arg(image[index]));
            return Differs;
        }
    }
    link.PrintEvent(
        QStringLiteral("written"),
        QStringLiteral("Written and read back: %1.").arg(core::NetDescription(settings)));
    if (!parser.isSet(QStringLiteral("restart")))
        return Done;

    const QString oldAddress =
        QStringLiteral("%1:%2").arg(link.settings.host).arg(link.settings.port);
    const QString newHost = core::QuadText(settings.ip);
    const QString newAddress = QStringLiteral("%1:%2").arg(newHost).arg(settings.port);
    // A module that resets before its answer leaves the restart unanswered:
    // it is followed all the same. Only a refusal means it stays as it is.
    code = link.Judge(link.session.Restart());
    if (code == Exception || code == Differs)
        return code;
    link.client.Close(); // the module ends this connection as it restarts
    const Settings old = link.settings;
    link.settings.host = newHost;
    link.settings.port = settings.port;
    link.quiet = true;
    const auto attempt = [&link](int ms) {
        link.settings.connectTimeoutMs = ms;
        return link.Open();
    };
    const int bound =
        old.connectTimeoutMs > 0 ? old.connectTimeoutMs : tcp::platform::DefaultConnectTimeoutMs;
    if (engine::Retry(attempt, bound)) {
        link.quiet = false;
        code = link.Judge(link.session.ReadRange(0, core::DeviceRegs, image), core::DeviceRegs);
        if (code != Done)
            return code;
        link.PrintEvent(QStringLiteral("moved"),
                        QStringLiteral("The module answers at %1.").arg(newAddress));
        return Done;
    }
    link.settings = old;
    link.settings.connectTimeoutMs = bound;
    const bool stayed = link.Open();
    link.quiet = false;
    link.PrintEvent(stayed ? QStringLiteral("stayed") : QStringLiteral("lost"),
                    stayed ? QStringLiteral("The module did not answer at %1 within 15 s; it "
                                            "still answers at %2.")
                                 .arg(newAddress, oldAddress)
                           : QStringLiteral("The module answers neither at %1 nor at %2.")
                                 .arg(newAddress, oldAddress));
    return NoAnswer;
}

} // namespace

int Run(const QStringList &arguments, QTextStream &out, QTextStream &err) {
    QCommandLineParser parser;
    parser.setApplicationDescription(HelpText());
    parser.addHelpOption();
    parser.addVersionOption();
    AddConnectionOptions(parser);
    const QCommandLineOption seconds(QStringLiteral("seconds"),
                                     QStringLiteral("watch: stop after N seconds (default: "
                                                    "until interrupted)."),
                                     QStringLiteral("N"));
    const QCommandLineOption interval(QStringLiteral("interval"),
                                      QStringLiteral("watch: read the counter every MS "
                                                     "milliseconds (default 3000)."),
                                      QStringLiteral("MS"), QStringLiteral("3000"));
    parser.addOptions({seconds, interval});
    parser.addOptions({
        {QStringLiteral("set-ip"), QStringLiteral("network: the module's new IPv4 address."),
         QStringLiteral("A")},
        {QStringLiteral("set-mask"), QStringLiteral("network: its new subnet mask."),
         QStringLiteral("M")},
        {QStringLiteral("set-gateway"), QStringLiteral("network: its new gateway (0.0.0.0: none)."),
         QStringLiteral("G")},
        {QStringLiteral("set-port"), QStringLiteral("network: its new port, 1..65534."),
         QStringLiteral("P")},
    });
    AddProvisionOptions(parser);
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("read, write, text, restart, save, load, "
                                                "compare, watch, network or provision, and its "
                                                "arguments."));
    try {
        if (!parser.parse(arguments))
            throw UsageError(parser.errorText());
        if (parser.isSet(QStringLiteral("help"))) {
            out << parser.helpText();
            return Done;
        }
        if (parser.isSet(QStringLiteral("version"))) {
            out << QStringLiteral("tavrin-cli 1.04\n");
            return Done;
        }
        QStringList args = parser.positionalArguments();
        if (args.isEmpty())
            throw UsageError(QStringLiteral("no command given (see --help)"));
        const QString command = args.takeFirst();
        if (command == u"provision") {
            if (!args.isEmpty())
                throw UsageError(QStringLiteral("provision takes its files as options"));
            return Provision(parser, ParseSettings(parser, false), out, err);
        }
        const Settings settings = ParseSettings(parser);
        Link link(settings, out, err);
        if (command == u"read")
            return CmdRead(link, args);
        if (command == u"write")
            return CmdWrite(link, args);
        if (command == u"text")
            return CmdText(link, args);
        if (command == u"restart")
            return CmdRestart(link, args);
        if (command == u"save")
            return CmdSave(link, args);
        if (command == u"load")
            return CmdLoad(link, args);
        if (command == u"compare")
            return CmdCompare(link, args);
        if (command == u"network")
            return CmdNetwork(link, args, parser);
        if (command == u"watch") {
            double s = 0;
            if (parser.isSet(seconds)) {
                bool ok = false;
                s = parser.value(seconds).toDouble(&ok);
                if (!ok || s <= 0)
                    throw UsageError(QStringLiteral("--seconds needs a number above 0"));
            }
            bool ok = false;
            const int ms = parser.value(interval).toInt(&ok);
            if (!ok || ms < 10 || ms > 3600000)
                throw UsageError(QStringLiteral("--interval needs 10..3600000 milliseconds"));
            return CmdWatch(link, args, s, ms);
        }
        throw UsageError(QStringLiteral("unknown command %1 (see --help)").arg(command));
    } catch (const UsageError &e) {
        err << QStringLiteral("tavrin-cli: ") << e.text << u'\n';
        return Usage;
    } catch (const std::exception &e) {
        // A socket failure in mid-exchange: the connection is gone.
        err << QStringLiteral("tavrin-cli: ")
            << QString::fromLocal8Bit(e.what()).replace(u'\n', u' ') << u'\n';
        return NoAnswer;
    }
}

} // namespace cli
