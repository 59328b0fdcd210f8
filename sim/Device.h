#pragma once
// The simulated display module: 256 holding registers and the Modbus TCP
// answers to functions 3, 6 and 16. Written apart from the program's own
// frame code on purpose, so that it checks the program rather than
// mirroring it.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace sim {

using Clock = std::chrono::steady_clock;
using Bytes = std::vector<uint8_t>;

class Device {
public:
    static constexpr int RegCount = 256;
    static constexpr int CounterIndex = 1;  // 40002, counts up once a second
    static constexpr int VersionIndex = 23; // 40024
    static constexpr int IpIndex = 24;      // 40025..40028, one element a register
    static constexpr int PortIndex = 36;    // 40037
    static constexpr int RestartIndex = 38; // 40039, 85 restarts the counter
    static constexpr uint16_t RestartValue = 85;
    static constexpr int TextLengthIndex = 54; // 40055
    static constexpr int TextIndex = 55;       // 40056..40155
    static constexpr uint16_t Version = 104;
    // Register behaviour of a real module: the version refuses writes
    // (exception 02), the brightness keeps at most MaxBrightness.
    static constexpr int ReadOnlyIndex = VersionIndex;
    static constexpr int BrightnessIndex = 37; // 40038
    static constexpr uint16_t MaxBrightness = 100;

    // Modbus exception codes used here.
    static constexpr uint8_t IllegalFunction = 1;
    static constexpr uint8_t IllegalAddress = 2;
    static constexpr uint8_t IllegalValue = 3;
    static constexpr uint8_t DeviceFailure = 4;

    // stallAfter: seconds after (re)start after which the counter stops;
    // negative counts for ever, 0 never counts.
    Device(int stallAfter, Clock::time_point now);

    // Brings the counter up to date.
    void Tick(Clock::time_point now);

    // The answer to one request frame (MBAP header + PDU, no count). An empty
    // result means no answer at all (a frame too short to answer);
    // `warning` then, or for a malformed frame, says what was wrong.
    // forceException answers every frame with DeviceFailure.
    Bytes Answer(const Bytes &frame, Clock::time_point now, bool forceException,
                 std::string &warning);

    uint16_t Reg(int index) const { return m_regs[index]; }

    // Replaces the start image with a configuration file: every register 0,
    // then the ones the file gives, one "40038,Name,80" line each (the name
    // optional, a first line "Register,..." skipped, decimal or 0x values).
    // False with error naming the file's first bad line; the image is then
    // unchanged.
    bool ReadImage(const std::string &path, std::string &error);

    // A bare register store: only the version and a text at start, and every
    // register keeps what is written, for tests that model the device as
    // just that.
    void MakePlain();

    // Faults of single modules: every write refused with IllegalAddress and
    // nothing stored; the brightness cut kept on a bare store.
    void RefuseWrites() { m_refuseWrites = true; }
    void CapBrightness() { m_capBrightness = true; }

    // Restart commands taken so far (85 written to 40039, alone or in a range).
    long Restarts() const { return m_restarts; }

private:
    // The registers of a plausible module at power-on.
    void StartImage();
    // Every register 0 but the version and the text "Hello Tavrin".
    void BareImage();
    // A write that covers a register refusing writes is refused whole.
    bool RefusesWrite(int start, int quantity) const;
    // The word a register keeps when value is written to it.
    uint16_t Kept(int index, uint16_t value) const;
    void Restart(Clock::time_point now);
    void Store(int index, uint16_t value, Clock::time_point now);

    uint16_t m_regs[RegCount] = {};
    bool m_plain = false;
    bool m_refuseWrites = false;
    bool m_capBrightness = false;
    long m_restarts = 0;
    int m_stallAfter;
    Clock::time_point m_countStart;
    long long m_ticks = 0;
};

} // namespace sim
