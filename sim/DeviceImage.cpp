// The simulated module's registers at start: a plausible configuration, or
// one read from a file; and the registers that do not simply keep a word.
#include "Device.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>

namespace sim {

namespace {

std::string Trimmed(const std::string &s) {
    const size_t b = s.find_first_not_of(" \t\r");
    if (b == std::string::npos)
        return {};
    return s.substr(b, s.find_last_not_of(" \t\r") - b + 1);
}

// Decimal or 0x-hex, the whole text, at most max.
bool Number(const std::string &text, unsigned long max, unsigned long &out) {
    const std::string t = Trimmed(text);
    const bool hex = t.size() > 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X');
    const std::string digits = hex ? t.substr(2) : t;
    if (digits.empty() || digits.size() > 8)
        return false;
    for (char c : digits)
        if (!(c >= '0' && c <= '9') && !(hex && std::strchr("abcdefABCDEF", c)))
            return false;
    out = std::stoul(digits, nullptr, hex ? 16 : 10);
    return out <= max;
}

} // namespace

void Device::BareImage() {
    std::fill(std::begin(m_regs), std::end(m_regs), uint16_t(0));
    m_regs[VersionIndex] = Version;
    static const char greeting[] = "Hello Tavrin";
    const int len = int(sizeof greeting - 1);
    m_regs[TextLengthIndex] = uint16_t(len);
    for (int i = 0; i < len; ++i)
        m_regs[TextIndex + i] = uint16_t(uint8_t(greeting[i]));
    m_regs[TextIndex + len] = 0;
}

void Device::StartImage() {
    BareImage();
    const uint16_t range1[] = {0, 100, 1};         // 40003..40005: range/colour 1
    const uint16_t network[] = {192, 168, 10,  50, // 40025..40028: IP
                                255, 255, 255, 0,  // 40029..40032: mask
                                192, 168, 10,  1,  // 40033..40036: gateway
                                502,               // 40037: port
                                80};               // 40038: brightness
    const uint16_t display[] = {1, 0, 3, 2};       // 40051..40054: font, mode, speed, colour
    std::copy(std::begin(range1), std::end(range1), m_regs + 2);
    std::copy(std::begin(network), std::end(network), m_regs + 24);
    std::copy(std::begin(display), std::end(display), m_regs + 50);
}

bool Device::ReadImage(const std::string &path, std::string &error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    uint16_t regs[RegCount] = {};
    std::string line;
    for (int n = 1; std::getline(in, line); ++n) {
        if (n == 1 && line.rfind("\xEF\xBB\xBF", 0) == 0)
            line.erase(0, 3);
        const std::string t = Trimmed(line);
        if (t.empty() || t[0] == '#' || (n == 1 && t.rfind("Register", 0) == 0))
            continue;
        const size_t first = t.find(','), last = t.rfind(',');
        unsigned long reg = 0, value = 0;
        if (first == std::string::npos || !Number(t.substr(0, first), 40000 + RegCount, reg) ||
            reg < 40001 || !Number(t.substr(last + 1), 0xFFFF, value)) {
            error = path + " line " + std::to_string(n) + ": not \"register,name,value\": " + t;
            return false;
        }
        regs[reg - 40001] = uint16_t(value);
    }
    std::copy(std::begin(regs), std::end(regs), m_regs);
    return true;
}

void Device::MakePlain() {
    m_plain = true;
    BareImage();
}

bool Device::RefusesWrite(int start, int quantity) const {
    return m_refuseWrites ||
           (!m_plain && start <= ReadOnlyIndex && ReadOnlyIndex < start + quantity);
}

uint16_t Device::Kept(int index, uint16_t value) const {
    const bool cut = !m_plain || m_capBrightness;
    return cut && index == BrightnessIndex ? std::min(value, MaxBrightness) : value;
}

} // namespace sim
