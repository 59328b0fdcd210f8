#include "Device.h"

#include <algorithm>

namespace sim {

namespace {

constexpr size_t MinFrame = 8;     // header + function code
constexpr size_t FixedFrame = 12;  // functions 3 and 6
constexpr size_t MultiHeader = 13; // function 16 up to its byte count
constexpr int MaxQuantity = 255;   // the program reads up to 255 at once

uint16_t Be16(const Bytes &b, size_t at) {
    return uint16_t(b[at] << 8 | b[at + 1]);
}

void PutBe16(Bytes &b, uint16_t v) {
    b.push_back(uint8_t(v >> 8));
    b.push_back(uint8_t(v));
}

// Transaction ID and protocol ID echoed, the length of what follows, the
// unit ID echoed.
Bytes Header(const Bytes &req, size_t pduSize) {
    Bytes a(req.begin(), req.begin() + 4);
    PutBe16(a, uint16_t(1 + pduSize));
    a.push_back(req[6]);
    return a;
}

Bytes Exception(const Bytes &req, uint8_t code) {
    Bytes a = Header(req, 2);
    a.push_back(uint8_t(req[7] | 0x80));
    a.push_back(code);
    return a;
}

} // namespace

Device::Device(int stallAfter, Clock::time_point now)
    : m_stallAfter(stallAfter), m_countStart(now) {
    StartImage();
}

void Device::Tick(Clock::time_point now) {
    long long due = std::chrono::duration_cast<std::chrono::seconds>(now - m_countStart).count();
    if (m_stallAfter >= 0)
        due = std::min<long long>(due, m_stallAfter);
    for (; m_ticks < due; ++m_ticks)
        ++m_regs[CounterIndex];
}

void Device::Restart(Clock::time_point now) {
    ++m_restarts;
    m_regs[CounterIndex] = 0;
    m_countStart = now;
    m_ticks = 0;
}

void Device::Store(int index, uint16_t value, Clock::time_point now) {
    m_regs[index] = Kept(index, value);
    if (index == RestartIndex && value == RestartValue)
        Restart(now);
}

Bytes Device::Answer(const Bytes &f, Clock::time_point now, bool forceException,
                     std::string &warning) {
    warning.clear();
    if (f.size() < MinFrame) {
        warning = "frame of " + std::to_string(f.size()) + " bytes is too short to answer";
        return {};
    }
    if (Be16(f, 4) != f.size() - 6) {
        warning = "MBAP length " + std::to_string(Be16(f, 4)) + " does not match the " +
                  std::to_string(f.size()) + "-byte frame";
        return Exception(f, IllegalValue);
    }
    if (forceException)
        return Exception(f, DeviceFailure);

    Tick(now);
    const uint8_t function = f[7];
    switch (function) {
    case 3: {
        if (f.size() != FixedFrame) {
            warning = "function 3 frame is not 12 bytes";
            return Exception(f, IllegalValue);
        }
        const int start = Be16(f, 8);
        const int quantity = Be16(f, 10);
        if (quantity < 1 || quantity > MaxQuantity)
            return Exception(f, IllegalValue);
        if (start + quantity > RegCount)
            return Exception(f, IllegalAddress);
        Bytes a = Header(f, 2 + 2 * size_t(quantity));
        a.push_back(3);
        a.push_back(uint8_t(2 * quantity)); // one byte: only its low bits above 127
        for (int i = 0; i < quantity; ++i)
            PutBe16(a, m_regs[start + i]);
        return a;
    }
    case 6: {
        if (f.size() != FixedFrame) {
            warning = "function 6 frame is not 12 bytes";
            return Exception(f, IllegalValue);
        }
        const int index = Be16(f, 8);
        if (index >= RegCount || RefusesWrite(index, 1))
            return Exception(f, IllegalAddress);
        Store(index, Be16(f, 10), now);
        return f; // the answer echoes the request
    }
    case 16: {
        if (f.size() < MultiHeader) {
            warning = "function 16 frame is shorter than 13 bytes";
            return Exception(f, IllegalValue);
        }
        const int start = Be16(f, 8);
        const int quantity = Be16(f, 10);
        const uint8_t byteCount = f[12];
        if (quantity < 1 || quantity > MaxQuantity || byteCount != uint8_t(2 * quantity) ||
            f.size() != MultiHeader + 2 * size_t(quantity)) {
            warning = "function 16 quantity, byte count and frame size disagree";
            return Exception(f, IllegalValue);
        }
        if (start + quantity > RegCount || RefusesWrite(start, quantity))
            return Exception(f, IllegalAddress);
        for (int i = 0; i < quantity; ++i)
            Store(start + i, Be16(f, MultiHeader + 2 * size_t(i)), now);
        Bytes a = Header(f, 5);
        a.push_back(16);
        PutBe16(a, uint16_t(start));
        PutBe16(a, uint16_t(quantity));
        return a;
    }
    default:
        return Exception(f, IllegalFunction);
    }
}

} // namespace sim
