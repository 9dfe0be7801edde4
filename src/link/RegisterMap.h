#pragma once
// Every device address the terminal touches, by the device's own names.
// All addresses are 0-based, as they go into a request frame.

#include <cstdint>

namespace zrv::reg {

// Table sizes of the terminal's copy of the device.
inline constexpr int kCoilCount = 16;
inline constexpr int kDiscreteCount = 24;
inline constexpr int kHoldingCount = 114;
inline constexpr int kInputCount = 65536;

// Coils ----------------------------------------------------------------
inline constexpr uint16_t kCoilValve1 = 0;   // valves 1..8 at coils 0..7
inline constexpr uint16_t kCoilStepDirection = 8;  // 1 = up, 0 = down
inline constexpr uint16_t kCoilStepStrobe = 9;     // each change is one step
inline constexpr uint16_t kCoilExternalControl = 15;

// Discrete inputs --------------------------------------------------------
inline constexpr uint16_t kInValveOpen1 = 0;     // valves 1..8 open at 0..7
inline constexpr uint16_t kInValveSecond1 = 8;   // second state bit at 8..15
inline constexpr uint16_t kInMainsPower = 16;    // 1 = mains, 0 = battery

// Holding registers --------------------------------------------------------
inline constexpr uint16_t kMode = 0;
inline constexpr uint16_t kP1Type = 1;
inline constexpr uint16_t kP2Type = 2;
inline constexpr uint16_t kTZad = 3;
inline constexpr uint16_t kTPA = 4;
inline constexpr uint16_t kTQA = 5;
inline constexpr uint16_t kFaultWord = 6;
inline constexpr uint16_t kSzrv = 7;  // two bytes: high and low
inline constexpr uint16_t kLogPeriod = 8;
inline constexpr uint16_t kLogTolerance = 9;
// Clock setting, written as one block of six.
inline constexpr uint16_t kSetSec = 10;
inline constexpr uint16_t kSetMin = 11;
inline constexpr uint16_t kSetHours = 12;
inline constexpr uint16_t kSetDate = 13;
inline constexpr uint16_t kSetMonth = 14;
inline constexpr uint16_t kSetYear = 15;  // year - 2000
inline constexpr uint16_t kClockSetCount = 6;

// Single-precision floats, each across n (low half) and n+1 (high half).
inline constexpr uint16_t kP2B_PA = 32;
inline constexpr uint16_t kP2H_PA = 34;
inline constexpr uint16_t kP2B_QA = 36;
inline constexpr uint16_t kP2H_QA = 38;
inline constexpr uint16_t kP2B_QM = 40;
inline constexpr uint16_t kP2H_QM = 42;
inline constexpr uint16_t kP2M_QM = 44;
inline constexpr uint16_t kQy = 46;
inline constexpr uint16_t kQm = 48;
inline constexpr uint16_t kP2Max = 50;
inline constexpr uint16_t kP2Min = 52;
inline constexpr uint16_t kDeltaP = 54;
inline constexpr uint16_t kDPkr = 56;
inline constexpr uint16_t kG = 58;
inline constexpr uint16_t kSf1 = 60;
inline constexpr uint16_t kQ1 = 62;  // Q1..Q8 at 62, 64, ... 76
inline constexpr uint16_t kP1B_PA = 78;
inline constexpr uint16_t kP1H_PA = 80;
inline constexpr uint16_t kP1B_QA = 82;
inline constexpr uint16_t kP1H_QA = 84;
inline constexpr uint16_t kP1B_QM = 86;
inline constexpr uint16_t kP1H_QM = 88;
inline constexpr uint16_t kP1M_QM = 90;
inline constexpr uint16_t kQy_r = 92;
inline constexpr uint16_t kQm_r = 94;
inline constexpr uint16_t kZrvFactor1 = 96;  // valve weights 1..8 at 96..103
inline constexpr uint16_t kValveCount = 8;
inline constexpr uint16_t kP1Max = 104;
inline constexpr uint16_t kP1Min = 106;
inline constexpr uint16_t kMu = 108;
inline constexpr uint16_t kPipeVolume = 110;
inline constexpr uint16_t kDiffStepMax = 112;
inline constexpr uint16_t kTAvg = 113;

// True for the holding registers that carry a float's half.
constexpr bool isFloatHolding(uint16_t address)
{
    return (address >= 32 && address <= 95) || (address >= 104 && address <= 111);
}

// Input registers -----------------------------------------------------------
inline constexpr uint16_t kInP1 = 0;
inline constexpr uint16_t kInP2 = 2;
inline constexpr uint16_t kInTg = 4;
inline constexpr uint16_t kInQi = 6;
inline constexpr uint16_t kInMq = 8;
inline constexpr uint16_t kInVbat = 10;
// Device clock: seconds, minutes, hours, day, month, year - 2000.
inline constexpr uint16_t kInClockSec = 20;
inline constexpr uint16_t kInClockCount = 6;
inline constexpr uint16_t kInJournalWritePos = 27;
inline constexpr uint16_t kLiveInputCount = 28;  // the polled block 0..27

// Journal ring: 512 up to, not including, 32767.
inline constexpr uint16_t kRingFirst = 512;
inline constexpr uint16_t kRingEnd = 32767;
inline constexpr uint16_t kRingSize = kRingEnd - kRingFirst;  // 32255

}  // namespace zrv::reg
