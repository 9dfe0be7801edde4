#include "DeviceModel.h"

#include <bit>
#include <cmath>
#include <ctime>
#include <string>

namespace zrvsim {

namespace {

using namespace zrv::reg;
constexpr int kValves = kValveCount;
// Coil 15 on: the terminal has the valves.
constexpr uint16_t kExternal = kCoilExternalControl;

uint32_t bitsOf(float v) { return std::bit_cast<uint32_t>(v); }

bool floatHolding(uint16_t a) { return isFloatHolding(a); }

}  // namespace

DeviceModel::DeviceModel()
{
    // Setpoints that pass every check the terminal makes before a write.
    holdings[kMode] = 2;  // pressure regulator
    holdings[kP1Type] = 16;      // kgf/cm2
    holdings[kP2Type] = 6;
    holdings[kTZad] = 10;
    holdings[kTPA] = 60;         // s
    holdings[kTQA] = 60;         // s
    holdings[kFaultWord] = 0;
    holdings[kSzrv] = 0x0304;    // H:3 L:4
    holdings[kLogPeriod] = 60;
    holdings[kLogTolerance] = 5;  // %
    const std::pair<uint16_t, float> floats[] = {
        {32, 3.0f},   {34, 2.0f},   {36, 3.2f},  {38, 2.2f},  {40, 3.4f},   {42, 2.4f},   {44, 2.0f},
        {46, 1500.f}, {48, 2000.f}, {50, 5.0f},  {52, 0.5f},  {54, 0.2f},   {56, 0.3f},   {58, 1.0f},
        {60, 78.5f},  {78, 10.0f},  {80, 4.0f},  {82, 10.5f}, {84, 4.5f},   {86, 11.0f},  {88, 5.0f},
        {90, 4.5f},   {92, 500.f},  {94, 800.f}, {104, 12.f}, {106, 1.0f},  {108, 1.0f},  {110, 12.5f},
    };
    for (const auto& [a, v] : floats) setHoldingFloat(a, v);
    for (int i = 0; i < kValves; ++i) setHoldingFloat(uint16_t(kQ1 + 2 * i), 1.0f + 0.05f * float(i));
    setValveWeights({1, 2, 4, 8, 16, 32, 32, 32});
    holdings[kDiffStepMax] = 5;
    holdings[kTAvg] = 10;  // s

    clearJournal();
    commandValves(0x0F, m_start);
    m_valvesSettleAt = m_start;
    advance(m_start);
}

void DeviceModel::setValveWeights(const std::array<uint16_t, zrv::reg::kValveCount>& weights)
{
    for (int i = 0; i < kValves; ++i) holdings[std::size_t(kZrvFactor1 + i)] = weights[std::size_t(i)];
}

void DeviceModel::setValveWord(uint8_t word)
{
    for (int i = 0; i < kValves; ++i) coils[std::size_t(kCoilValve1 + i)] = (word >> i) & 1;
    commandValves(word, m_now);
    m_valvesSettleAt = m_now;
    advance(m_now);
}

void DeviceModel::setInputFloat(uint16_t a, float v)
{
    const uint32_t b = bitsOf(v);
    inputs[a] = uint16_t(b & 0xFFFF);
    inputs[uint16_t(a + 1)] = uint16_t(b >> 16);
}

void DeviceModel::setHoldingFloat(uint16_t a, float v)
{
    const uint32_t b = bitsOf(v);
    holdings[a] = uint16_t(b & 0xFFFF);
    holdings[std::size_t(a + 1)] = uint16_t(b >> 16);
}

void DeviceModel::advance(Clock::time_point now)
{
    if (now < m_now) now = m_now;
    m_now = now;
    const double t = std::chrono::duration<double>(now - m_start).count();

    // Valves settle to the last command once the delay has passed.
    if (!valvesStuck && now >= m_valvesSettleAt) {
        for (int i = 0; i < kValves; ++i) {
            const uint8_t open = (m_commandedWord >> i) & 1;
            discretes[std::size_t(kInValveOpen1 + i)] = open;
            discretes[std::size_t(kInValveSecond1 + i)] = open ? 0 : 1;  // second bit: closed end switch
        }
    }
    discretes[kInMainsPower] = mainsPower ? 1 : 0;
    // Without external control the regulator drives its valves itself; the
    // coils then mirror what it commands.
    if (!coils[kExternal]) {
        for (int i = 0; i < kValves; ++i) coils[std::size_t(kCoilValve1 + i)] = (m_commandedWord >> i) & 1;
    }
    if (!holdMeasurements) updateMeasurements(t);
    if (!holdClock) updateClock();
    logDeviations(now);
}

void DeviceModel::logDeviations(Clock::time_point now)
{
    // Every Log_Period seconds, the measured values that moved by more than
    // Log_Tolerance per cent since they were last written go into the journal.
    const unsigned period = holdings[kLogPeriod], tolerance = holdings[kLogTolerance];
    if (period == 0 || now - m_lastLog < std::chrono::seconds(period)) return;
    m_lastLog = now;
    const JournalStamp s = stampNow();
    const float values[4] = {s.p1, s.p2, s.t, s.q};
    std::vector<JournalEntry> entries;
    for (int i = 0; i < 4; ++i) {
        const float base = std::fabs(m_logged[std::size_t(i)]);
        const float moved = std::fabs(values[i] - m_logged[std::size_t(i)]);
        if (base == 0 || moved * 100.0f > base * float(tolerance)) {
            const uint32_t b = bitsOf(values[i]);
            entries.push_back({0, uint16_t(0xC000 | (2 * i)), uint16_t(b & 0xFFFF), uint16_t(b >> 16)});
            m_logged[std::size_t(i)] = values[i];
        }
    }
    if (!entries.empty()) appendRecord(s, entries);
}

bool DeviceModel::prepareJournalCase(const std::string& name)
{
    clearJournal();
    JournalStamp s = stampNow();
    if (name == "wrap") {
        setWritePosition(32700, 32700);
        preloadJournal(0, 1);
        std::vector<JournalEntry> entries;
        for (int i = 0; i < 40; ++i) entries.push_back({uint16_t(i), uint16_t(0x4000 | 2), uint16_t(i), 0});
        appendRecord(s, entries);  // 12 + 120 words from 32700: past the end to 512
    } else if (name == "block125") {
        // 12 + 78 * 3 + 4 = 250 registers: two full requests and one for 0.
        std::vector<JournalEntry> entries(78, {1, 0, 2, 0});
        entries.push_back({3, 0x8000 | 34, 0, 0x4000});
        appendRecord(s, entries);
    } else if (name == "short") {
        appendRecord(s, {});
    } else if (name == "loop") {
        appendRecord(s, {{1, 0, 1, 0}});
        appendRecord(s, {{2, 0, 2, 0}});
        // The oldest record's link points at the newest: the chain never ends.
        const uint16_t newest = inputs[inputs[27]];
        inputs[kRingFirst] = newest;
    } else if (name == "outside") {
        appendRecord(s, {});
        inputs[27] = 100;
    } else {
        return false;
    }
    return true;
}

void DeviceModel::updateMeasurements(double t)
{
    unsigned openWeight = 0, totalWeight = 0;
    for (int i = 0; i < kValves; ++i) {
        const unsigned w = holdings[std::size_t(kZrvFactor1 + i)] & 0xFF;
        totalWeight += w;
        if (discretes[std::size_t(kInValveOpen1 + i)]) openWeight += w;
    }
    const double opening = totalWeight ? double(openWeight) / totalWeight : 0.0;
    const double p1 = 6.0 + 0.05 * std::sin(t / 7.0);
    const double p2 = 1.2 + 1.5 * opening + 0.02 * std::sin(t / 3.0);
    const double q = 4000.0 * opening + 25.0 * std::sin(t / 5.0) + 30.0;
    setInputFloat(kInP1, float(p1));
    setInputFloat(kInP2, float(p2));
    setInputFloat(kInTg, float(12.5 + 0.3 * std::sin(t / 60.0)));
    setInputFloat(kInQi, float(q));
    setInputFloat(kInMq, float(0.85 + 0.01 * std::sin(t / 11.0)));
    setInputFloat(kInVbat, float(3.6 - 0.01 * std::sin(t / 90.0)));
}

void DeviceModel::updateClock()
{
    const auto wall = m_wallStart + std::chrono::duration_cast<std::chrono::system_clock::duration>(m_now - m_start);
    const std::time_t pc = std::chrono::system_clock::to_time_t(wall);
    const std::time_t dev = pc + std::time_t(clockOffsetSeconds);
    std::tm tm{};
    localtime_r(&dev, &tm);
    inputs[20] = uint16_t(tm.tm_sec);
    inputs[21] = uint16_t(tm.tm_min);
    inputs[22] = uint16_t(tm.tm_hour);
    inputs[23] = uint16_t(tm.tm_mday);
    inputs[24] = uint16_t(tm.tm_mon + 1);
    inputs[25] = uint16_t(tm.tm_year + 1900 - 2000);
}

JournalStamp DeviceModel::stampNow() const
{
    JournalStamp s;
    s.sec = inputs[20];
    s.min = inputs[21];
    s.hours = inputs[22];
    s.day = inputs[23];
    s.month = inputs[24];
    s.year = 2000 + inputs[25];
    const auto f = [this](uint16_t a) {
        return std::bit_cast<float>((uint32_t(inputs[uint16_t(a + 1)]) << 16) | inputs[a]);
    };
    s.p1 = f(0);
    s.p2 = f(2);
    s.t = f(4);
    s.q = f(6);
    return s;
}

void DeviceModel::commandValves(uint8_t word, Clock::time_point now)
{
    m_commandedWord = word;
    m_valvesSettleAt = now + valveDelay;
}

bool DeviceModel::writeCoil(uint16_t address, bool on, Clock::time_point now)
{
    if (address >= kCoils) return false;
    const uint8_t old = coils[address];
    coils[address] = on ? 1 : 0;
    if (address < kCoilValve1 + kValves && coils[kExternal]) {
        uint8_t word = 0;
        for (int i = 0; i < kValves; ++i) word |= uint8_t(coils[std::size_t(kCoilValve1 + i)] << i);
        commandValves(word, now);
    } else if (address == kCoilStepStrobe && old != coils[kCoilStepStrobe] && coils[kExternal]) {
        // Each change of the strobe steps the valve word in the direction of coil 8.
        int word = m_commandedWord;
        word += coils[kCoilStepDirection] ? 1 : -1;
        if (word < 0) word = 0;
        if (word > 255) word = 255;
        for (int i = 0; i < kValves; ++i) coils[std::size_t(kCoilValve1 + i)] = (word >> i) & 1;
        commandValves(uint8_t(word), now);
    }
    return true;
}

bool DeviceModel::writeHoldings(uint16_t start, const std::vector<uint16_t>& values, Clock::time_point now)
{
    if (std::size_t(start) + values.size() > kHoldings) return false;
    std::vector<JournalEntry> events;
    const uint16_t offset = 0;
    for (std::size_t i = 0; i < values.size(); ++i) {
        const uint16_t a = uint16_t(start + i);
        if (a >= kSetSec && a < kSetSec + 6) continue;  // clock setting handled below
        if (holdings[a] == values[i]) continue;
        if (floatHolding(a)) {
            // Log a float once, at its even (low-half) address.
            const uint16_t base = uint16_t(a - (a % 2));
            if (!events.empty() && (events.back().tag & 0xFF) == base) {
                holdings[a] = values[i];
                events.back().valueHigh = holdings[std::size_t(base + 1)];
                continue;
            }
            holdings[a] = values[i];
            events.push_back({offset, uint16_t(0x8000 | base), holdings[base], holdings[std::size_t(base + 1)]});
        } else {
            holdings[a] = values[i];
            events.push_back({offset, a, values[i], 0});
        }
    }
    // A write that covers the whole clock block sets the clock.
    if (start <= kSetSec && std::size_t(start) + values.size() >= kSetSec + 6u) {
        const auto v = [&](int k) { return values[std::size_t(kSetSec + k - start)]; };
        for (int k = 0; k < 6; ++k) holdings[std::size_t(kSetSec + k)] = v(k);
        std::tm tm{};
        tm.tm_sec = v(0);
        tm.tm_min = v(1);
        tm.tm_hour = v(2);
        tm.tm_mday = v(3);
        tm.tm_mon = v(4) - 1;
        tm.tm_year = v(5) + 100;
        tm.tm_isdst = -1;
        const bool valid = v(0) < 60 && v(1) < 60 && v(2) < 24 && v(3) >= 1 && v(3) <= 31 && v(4) >= 1 &&
                           v(4) <= 12 && v(5) < 100;
        if (valid) {
            const std::time_t wanted = std::mktime(&tm);
            const std::time_t pc = std::chrono::system_clock::to_time_t(std::chrono::system_clock::now());
            clockOffsetSeconds = (long long)wanted - (long long)pc;
            updateClock();
            events.push_back({offset, uint16_t(0x4000 | 20), inputs[20], 0});
        }
    }
    (void)now;
    if (!events.empty()) logEvent(std::move(events));
    return true;
}

void DeviceModel::logEvent(std::vector<JournalEntry> entries) { appendRecord(stampNow(), entries); }

void DeviceModel::clearJournal()
{
    std::fill(inputs.begin() + kRingFirst, inputs.begin() + kRingEnd, 0);
    inputs[kInJournalWritePos] = kRingFirst;
    inputs[kRingFirst] = kRingFirst;  // an empty journal links to itself
}

void DeviceModel::setWritePosition(uint16_t position, uint16_t newestStart)
{
    inputs[kInJournalWritePos] = position;
    inputs[position] = newestStart;
}

void DeviceModel::appendRecord(const JournalStamp& s, const std::vector<JournalEntry>& entries)
{
    std::vector<uint16_t> words;
    words.push_back(0);  // link to the older record: already at the write position
    words.push_back(uint16_t((s.sec << 8) | (s.min & 0xFF)));
    words.push_back(uint16_t((s.hours << 8) | (s.day & 0xFF)));
    words.push_back(uint16_t((s.month << 8) | ((s.year - 2000) & 0xFF)));
    for (float f : {s.p1, s.p2, s.t, s.q}) {
        const uint32_t b = bitsOf(f);
        words.push_back(uint16_t(b & 0xFFFF));
        words.push_back(uint16_t(b >> 16));
    }
    const std::size_t ringSize = kRingEnd - kRingFirst;
    for (const auto& e : entries) {
        const std::size_t n = (e.tag & 0x8000) ? 4 : 3;
        if (words.size() + n + 1 > ringSize) break;  // one word stays free for the next link
        words.push_back(e.offsetSeconds);
        words.push_back(e.tag);
        words.push_back(e.value);
        if (n == 4) words.push_back(e.valueHigh);
    }
    const uint16_t start = inputs[kInJournalWritePos];
    const uint16_t olderStart = inputs[start];
    uint32_t a = start;
    for (std::size_t i = 0; i < words.size(); ++i) {
        inputs[a] = i == 0 ? olderStart : words[i];
        if (++a >= kRingEnd) a = kRingFirst;
    }
    inputs[kInJournalWritePos] = uint16_t(a);
    inputs[a] = start;
    if (recordWritten) recordWritten(start, {words[1], words[2], words[3]});
}

void DeviceModel::preloadJournal(int records, unsigned seed)
{
    std::mt19937 rng(seed);
    JournalStamp s = stampNow();
    s.year = 2026;
    s.month = 11;
    s.day = 1;
    s.hours = 8;
    s.min = 0;
    s.sec = 0;
    for (int r = 0; r < records; ++r) {
        s.min = (s.min + 7) % 60;
        if (s.min < 7) s.hours = (s.hours + 1) % 24;
        if (s.hours == 0 && s.min < 7) s.day = s.day % 28 + 1;
        s.sec = int(rng() % 60);
        s.p1 = 6.0f + float(rng() % 100) / 1000.0f;
        s.p2 = 1.5f + float(rng() % 100) / 1000.0f;
        s.t = 10.0f + float(rng() % 50) / 10.0f;
        s.q = 1000.0f + float(rng() % 3000);
        std::vector<JournalEntry> entries;
        const int n = int(rng() % 6);
        for (int k = 0; k < n; ++k) {
            JournalEntry e;
            e.offsetSeconds = uint16_t(k * 10 + rng() % 10);
            switch (rng() % 3) {
            case 0:  // an input measurement as a float
                e.tag = uint16_t(0xC000 | (2 * (rng() % 4)));
                {
                    const uint32_t b = bitsOf(1.0f + float(rng() % 1000) / 100.0f);
                    e.value = uint16_t(b & 0xFFFF);
                    e.valueHigh = uint16_t(b >> 16);
                }
                break;
            case 1:  // the mode
                e.tag = 0;
                e.value = uint16_t(rng() % 5);
                break;
            default:  // a setpoint float
                e.tag = uint16_t(0x8000 | (32 + 2 * (rng() % 10)));
                {
                    const uint32_t b = bitsOf(float(rng() % 500) / 100.0f);
                    e.value = uint16_t(b & 0xFFFF);
                    e.valueHigh = uint16_t(b >> 16);
                }
                break;
            }
            entries.push_back(e);
        }
        appendRecord(s, entries);
    }
}

}  // namespace zrvsim
