#pragma once
// The module's network settings as the thirteen registers 40025..40037 hold
// them (IP, mask and gateway one element a register, then the port): read
// from and put into the image, parsed from dotted text, checked field by
// field with the reason a field fails, and described in one line. Qt Core
// only, so that the window and a command line share the rules.
#include "RegisterMap.h"

#include <QString>
#include <QStringView>
#include <array>
#include <cstdint>
#include <span>

namespace core {

constexpr int NetFirstIndex = 24; // 40025: IP[0]
constexpr int NetWordCount = 13;  // IP, mask, gateway (4 each), port
constexpr int NetPortIndex = 36;  // 40037
constexpr uint16_t MinNetPort = 1;
constexpr uint16_t MaxNetPort = 65534; // the range of the "Port:" field
constexpr int MinPrefix = 8;
constexpr int MaxPrefix = 30; // /31 and /32 leave no network and broadcast apart

// Four elements as the registers hold them; an element above 255 is kept so
// that the check can name it.
using Quad = std::array<uint16_t, 4>;
using NetWords = std::array<uint16_t, NetWordCount>;

struct NetSettings {
    Quad ip{}, mask{}, gateway{};
    uint16_t port = 0;

    static NetSettings FromWords(std::span<const uint16_t, NetWordCount> words);
    static NetSettings FromImage(ConstImage regs);
    NetWords Words() const;
    bool operator==(const NetSettings &) const = default;
};

enum class NetField { Ip, Mask, Gateway, Port };
constexpr int NetFieldCount = 4;

// "IP", "mask", "gateway", "port": how a reason is introduced.
QString NetFieldName(NetField field);

// Why each field fails (empty when it passes), and the loopback warning.
// A field whose value could not be read stops the checks that need it: a
// bad mask leaves the IP's subnet checks out, and so on.
struct NetCheck {
    std::array<QString, NetFieldCount> reasons;
    QString warning; // not a failure

    bool Ok() const;
    const QString &Reason(NetField field) const { return reasons[size_t(field)]; }
    // "IP: 0.0.0.0 is no address; port: 0 is outside 1 to 65534"; empty when Ok.
    QString Problems() const;
};

NetCheck CheckNetSettings(const NetSettings &settings);

// Dotted text: four decimal numbers 0..255 with points between, blanks at
// either end ignored. The reason, or empty when it was read into out.
QString ParseQuad(QStringView text, Quad &out);
// Port text: a decimal number 1..65534, blanks at either end ignored.
QString ParsePort(QStringView text, uint16_t &out);

// The four texts as an operator types them: parsed, then checked; where a
// text cannot be read its parse reason stands for the field. out holds
// what could be read (all of it when the result is Ok).
struct NetTexts {
    QString ip, mask, gateway, port;
};
NetCheck CheckNetTexts(const NetTexts &texts, NetSettings &out);

// The number of leading ones when the mask's ones are contiguous, else -1
// (also when an element is above 255).
int PrefixLength(const Quad &mask);

// "192.168.10.50"; elements above 255 as they are.
QString QuadText(const Quad &quad);

// "IP 192.168.10.50, mask 255.255.255.0 (/24), gateway 192.168.10.1, port 502"
QString NetDescription(const NetSettings &settings);

} // namespace core
