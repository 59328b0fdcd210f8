#include "NetSettings.h"

#include <QList>
#include <QStringList>
#include <algorithm>
#include <bit>

namespace core {

namespace {

constexpr uint16_t MaxElement = 255;
constexpr int IpAt = 0, MaskAt = 4, GatewayAt = 8;

bool IsDigit(QChar c) {
    return c.unicode() >= u'0' && c.unicode() <= u'9';
}

bool AllDigits(QStringView text) {
    for (QChar c : text)
        if (!IsDigit(c))
            return false;
    return true;
}

// The value of a run of digits, held at Ceiling once it gets there.
uint DigitsValue(QStringView digits) {
    constexpr uint Ceiling = 1000000;
    uint value = 0;
    for (QChar c : digits)
        value = std::min(Ceiling, value * 10 + uint(c.unicode() - u'0'));
    return value;
}

uint32_t ToBits(const Quad &quad) {
    return uint32_t(quad[0]) << 24 | uint32_t(quad[1]) << 16 | uint32_t(quad[2]) << 8 |
           uint32_t(quad[3]);
}

QString BitsText(uint32_t bits) {
    return QuadText({uint16_t(bits >> 24), uint16_t(bits >> 16 & 0xFF), uint16_t(bits >> 8 & 0xFF),
                     uint16_t(bits & 0xFF)});
}

// Every element 0..255, or which one is not.
QString ElementsReason(const Quad &quad) {
    for (size_t i = 0; i < quad.size(); ++i)
        if (quad[i] > MaxElement)
            return QStringLiteral("element %1 holds %2, above 255").arg(i).arg(quad[i]);
    return QString();
}

// The subnet an address lies in, for the reasons that name it.
struct Subnet {
    uint32_t mask = 0, network = 0, broadcast = 0;
    int prefix = 0;
    QString Text() const { return BitsText(network) + u'/' + QString::number(prefix); }
};

// Why a host address cannot stand in subnet (empty when it can).
QString HostReason(uint32_t address, const Subnet &subnet) {
    if (address == subnet.network)
        return QStringLiteral("%1 is the network address of %2")
            .arg(BitsText(address), subnet.Text());
    if (address == subnet.broadcast)
        return QStringLiteral("%1 is the broadcast address of %2")
            .arg(BitsText(address), subnet.Text());
    return QString();
}

} // namespace

NetSettings NetSettings::FromWords(std::span<const uint16_t, NetWordCount> words) {
    NetSettings s;
    std::copy_n(words.begin() + IpAt, 4, s.ip.begin());
    std::copy_n(words.begin() + MaskAt, 4, s.mask.begin());
    std::copy_n(words.begin() + GatewayAt, 4, s.gateway.begin());
    s.port = words[NetPortIndex - NetFirstIndex];
    return s;
}

NetSettings NetSettings::FromImage(ConstImage regs) {
    return FromWords(regs.subspan<NetFirstIndex, NetWordCount>());
}

NetWords NetSettings::Words() const {
    NetWords w{};
    std::copy(ip.begin(), ip.end(), w.begin() + IpAt);
    std::copy(mask.begin(), mask.end(), w.begin() + MaskAt);
    std::copy(gateway.begin(), gateway.end(), w.begin() + GatewayAt);
    w[NetPortIndex - NetFirstIndex] = port;
    return w;
}

QString NetFieldName(NetField field) {
    switch (field) {
    case NetField::Ip:
        return QStringLiteral("IP");
    case NetField::Mask:
        return QStringLiteral("mask");
    case NetField::Gateway:
        return QStringLiteral("gateway");
    case NetField::Port:
        return QStringLiteral("port");
    }
    return QString();
}

bool NetCheck::Ok() const {
    for (const QString &r : reasons)
        if (!r.isEmpty())
            return false;
    return true;
}

QString NetCheck::Problems() const {
    QStringList parts;
    for (int i = 0; i < NetFieldCount; ++i)
        if (!reasons[size_t(i)].isEmpty())
            parts << NetFieldName(NetField(i)) + QStringLiteral(": ") + reasons[size_t(i)];
    return parts.join(QStringLiteral("; "));
}

int PrefixLength(const Quad &mask) {
    if (!ElementsReason(mask).isEmpty())
        return -1;
    const uint32_t bits = ToBits(mask);
    const int ones = std::countl_one(bits);
    // Contiguous: nothing set after the leading ones.
    return ones == 32 || (bits << ones) == 0 ? ones : -1;
}

NetCheck CheckNetSettings(const NetSettings &s) {
    NetCheck c;
    QString &ipWhy = c.reasons[size_t(NetField::Ip)];
    QString &maskWhy = c.reasons[size_t(NetField::Mask)];
    QString &gatewayWhy = c.reasons[size_t(NetField::Gateway)];
    QString &portWhy = c.reasons[size_t(NetField::Port)];

    maskWhy = ElementsReason(s.mask);
    const int prefix = PrefixLength(s.mask);
    if (maskWhy.isEmpty() && prefix < 0)
        maskWhy = QStringLiteral("%1 is not a mask: its ones must run unbroken from the left")
                      .arg(QuadText(s.mask));
    else if (maskWhy.isEmpty() && (prefix < MinPrefix || prefix > MaxPrefix))
        maskWhy =
            QStringLiteral("/%1 is outside /%2 to /%3").arg(prefix).arg(MinPrefix).arg(MaxPrefix);

    const uint32_t ip = ToBits(s.ip);
    const uint32_t gateway = ToBits(s.gateway);
    Subnet subnet;
    if (maskWhy.isEmpty()) {
        const uint32_t m = ToBits(s.mask);
        subnet = {m, ip & m, (ip & m) | ~m, prefix};
    }

    ipWhy = ElementsReason(s.ip);
    if (ipWhy.isEmpty() && ip == 0)
        ipWhy = QStringLiteral("0.0.0.0 is no address");
    else if (ipWhy.isEmpty() && s.ip[0] >= 224 && s.ip[0] <= 239)
        ipWhy = QStringLiteral("%1 is a multicast address (224 to 239)").arg(QuadText(s.ip));
    else if (ipWhy.isEmpty() && maskWhy.isEmpty())
        ipWhy = HostReason(ip, subnet);
    if (ipWhy.isEmpty() && s.ip[0] == 127)
        c.warning = QStringLiteral("%1 is a loopback address: only a program on the same "
                                   "computer reaches it (the simulator does)")
                        .arg(QuadText(s.ip));

    // 0.0.0.0: the module has no gateway. Otherwise a host of the IP's subnet;
    // without a good IP and mask there is no subnet to hold it to.
    gatewayWhy = ElementsReason(s.gateway);
    if (gatewayWhy.isEmpty() && gateway != 0 && ipWhy.isEmpty() && maskWhy.isEmpty()) {
        if ((gateway & subnet.mask) != subnet.network)
            gatewayWhy = QStringLiteral("%1 is outside %2, the subnet of the IP")
                             .arg(QuadText(s.gateway), subnet.Text());
        else if (gateway == ip)
            gatewayWhy = QStringLiteral("%1 is the IP itself").arg(QuadText(s.gateway));
        else
            gatewayWhy = HostReason(gateway, subnet);
    }

    if (s.port < MinNetPort || s.port > MaxNetPort)
        portWhy =
            QStringLiteral("%1 is outside %2 to %3").arg(s.port).arg(MinNetPort).arg(MaxNetPort);
    return c;
}

QString ParseQuad(QStringView text, Quad &out) {
    const QStringView t = text.trimmed();
    if (t.isEmpty())
        return QStringLiteral("empty");
    const QList<QStringView> parts = t.split(u'.');
    if (parts.size() != 4)
        return QStringLiteral("not four numbers with points between, like 192.168.10.50");
    Quad q{};
    for (size_t i = 0; i < q.size(); ++i) {
        const QStringView part = parts[qsizetype(i)];
        if (part.isEmpty() || !AllDigits(part))
            return QStringLiteral("not four numbers with points between, like 192.168.10.50");
        const uint value = DigitsValue(part);
        if (value > MaxElement)
            return QStringLiteral("%1 is above 255").arg(part);
        // Some tools read 010 as octal 8: say which is meant.
        if (part.size() > 1 && part[0] == u'0')
            return QStringLiteral("%1 has a leading zero, which some tools read as octal: "
                                  "write %2")
                .arg(part)
                .arg(value);
        q[i] = uint16_t(value);
    }
    out = q;
    return QString();
}

QString ParsePort(QStringView text, uint16_t &out) {
    const QStringView t = text.trimmed();
    if (t.isEmpty())
        return QStringLiteral("empty");
    if (!AllDigits(t))
        return QStringLiteral("%1 is not a whole number").arg(t);
    const uint value = DigitsValue(t);
    if (value < MinNetPort || value > MaxNetPort)
        return QStringLiteral("%1 is outside %2 to %3").arg(t).arg(MinNetPort).arg(MaxNetPort);
    out = uint16_t(value);
    return QString();
}

NetCheck CheckNetTexts(const NetTexts &texts, NetSettings &out) {
    NetSettings s;
    const std::array<QString, NetFieldCount> parsed = {
        ParseQuad(texts.ip, s.ip), ParseQuad(texts.mask, s.mask),
        ParseQuad(texts.gateway, s.gateway), ParsePort(texts.port, s.port)};
    NetCheck c = CheckNetSettings(s);
    for (size_t i = 0; i < parsed.size(); ++i)
        if (!parsed[i].isEmpty())
            c.reasons[i] = parsed[i];
    // An IP that could not be read warns of nothing.
    if (!parsed[size_t(NetField::Ip)].isEmpty())
        c.warning.clear();
    out = s;
    return c;
}

QString QuadText(const Quad &quad) {
    return QStringLiteral("%1.%2.%3.%4").arg(quad[0]).arg(quad[1]).arg(quad[2]).arg(quad[3]);
}

QString NetDescription(const NetSettings &s) {
    const int prefix = PrefixLength(s.mask);
    const QString maskNote =
        prefix < 0 ? QStringLiteral("not a mask") : QStringLiteral("/%1").arg(prefix);
    const bool noGateway = ToBits(s.gateway) == 0 && ElementsReason(s.gateway).isEmpty();
    return QStringLiteral("IP %1, mask %2 (%3), gateway %4%5, port %6")
        .arg(QuadText(s.ip), QuadText(s.mask), maskNote, QuadText(s.gateway),
             noGateway ? QStringLiteral(" (none)") : QString())
        .arg(s.port);
}

} // namespace core
