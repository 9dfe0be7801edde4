#pragma once
// A model of the ZRV regulator behind its MODBUS tables: live measurements,
// valves that answer coil commands, the step strobe, the operating mode, a
// running clock, setpoints with sound defaults and the journal ring.
//
// Not thread-safe: the simulator's serving thread owns it; others reach it
// under SimServer's lock.

#include "link/RegisterMap.h"

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace zrvsim {

using Clock = std::chrono::steady_clock;

struct JournalEntry {
    uint16_t offsetSeconds = 0;
    uint16_t tag = 0;  // bits 0-7 address, bit 14 input register, bit 15 float
    uint16_t value = 0;
    uint16_t valueHigh = 0;  // second word, float entries only
};

// The stamp and measurements that open a record.
struct JournalStamp {
    int sec = 0, min = 0, hours = 0, day = 1, month = 1, year = 2026;
    float p1 = 0, p2 = 0, t = 0, q = 0;
};

class DeviceModel {
public:
    static constexpr int kCoils = 16;
    static constexpr int kDiscretes = 24;
    static constexpr int kHoldings = 114;
    static constexpr uint16_t kRingFirst = zrv::reg::kRingFirst;
    static constexpr uint16_t kRingEnd = zrv::reg::kRingEnd;

    DeviceModel();

    // Moves time on to `now`: measurements, clock registers, valve motion.
    void advance(Clock::time_point now);

    // Tables, as MODBUS sees them.
    std::array<uint8_t, kCoils> coils{};
    std::array<uint8_t, kDiscretes> discretes{};
    std::array<uint16_t, kHoldings> holdings{};
    std::vector<uint16_t> inputs = std::vector<uint16_t>(65536, 0);

    // Writes coming from the master. They return false for a value the
    // device refuses (reported as an illegal-value exception).
    bool writeCoil(uint16_t address, bool on, Clock::time_point now);
    bool writeHoldings(uint16_t start, const std::vector<uint16_t>& values, Clock::time_point now);

    // Valve confirmation: the delay before the state inputs follow a
    // command, and a switch that keeps them from ever following.
    std::chrono::milliseconds valveDelay{300};
    bool valvesStuck = false;
    bool mainsPower = true;
    // Keeps the measurements (input registers 0..11) where they were put, so
    // that a test can set exact values.
    bool holdMeasurements = false;
    // The clock registers keep whatever was put there (a clock chip gone bad).
    bool holdClock = false;

    // Clock: offset of the device clock from the PC's, in seconds.
    long long clockOffsetSeconds = 0;

    // Journal ring.
    void clearJournal();
    // Writes one record at the write position; entries that would make the
    // record longer than the ring are dropped.
    void appendRecord(const JournalStamp& stamp, const std::vector<JournalEntry>& entries);
    // Told of every record appended: its start address and its stamp (words
    // 1..3), as a reader keys it.
    std::function<void(uint16_t start, const std::array<uint16_t, 3>& stamp)> recordWritten;
    // Many plausible records, reproducible from the seed.
    void preloadJournal(int records, unsigned seed);
    uint16_t writePosition() const { return inputs[27]; }
    // Puts the write position (and the link at it) anywhere, for tests of
    // damaged journals.
    void setWritePosition(uint16_t position, uint16_t newestStart);
    // The current stamp from the device clock and measurements.
    JournalStamp stampNow() const;
    // Journals that test the reader's edges: "wrap" (the newest record runs
    // past 32766 to 512), "block125" (one record of exactly 250 registers),
    // "short" (one record of 12 words), "loop" (a chain that loops),
    // "outside" (a write position outside the ring). False for other names.
    bool prepareJournalCase(const std::string& name);

    // Puts every valve at once where the word says (bit 0 is valve 1), coils
    // and state inputs alike.
    void setValveWord(uint8_t word);

    // Weights written as valve factors 96..103 (low bytes count).
    void setValveWeights(const std::array<uint16_t, zrv::reg::kValveCount>& weights);
    // A float across two input registers, low half first (with
    // holdMeasurements, a measurement that stays put).
    void setInputFloat(uint16_t address, float v);

private:
    void updateMeasurements(double seconds);
    void updateClock();
    void setHoldingFloat(uint16_t address, float v);
    void commandValves(uint8_t word, Clock::time_point now);
    void logEvent(std::vector<JournalEntry> entries);
    void logDeviations(Clock::time_point now);

    std::array<float, 4> m_logged{};  // P1, P2, T, Q as last written to the journal

    Clock::time_point m_start = Clock::now();
    // The wall clock at m_start: the device's clock runs on the model's own
    // time, so a model driven in simulated time keeps simulated days.
    std::chrono::system_clock::time_point m_wallStart = std::chrono::system_clock::now();
    Clock::time_point m_now = m_start;
    Clock::time_point m_lastLog = m_start;
    // Valve states settle to the last command at this time.
    uint8_t m_commandedWord = 0;
    Clock::time_point m_valvesSettleAt{};
    std::mt19937 m_rng{12345};
};

}  // namespace zrvsim
