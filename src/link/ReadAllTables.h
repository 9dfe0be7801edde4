#pragma once
// Fills the whole register image: coils, discrete inputs, holding and input
// registers, each from address 0, asking for one point less after each
// failure, so a device that accepts fewer points than asked is read as far as
// it allows.

#include "ModbusTransact.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace zrv {

// The setpoint editor's pending valve weights: low bytes of holding registers
// 96..103 as last read, or as last edited. Shared with the journal reader's
// thread, hence atomic.
using ValveWeightArray = std::array<std::atomic<uint8_t>, 8>;
ValveWeightArray& ValveWeights();

// Tables in this order: coils 16, discrete inputs 24, holding registers 114,
// input registers 28. Returns false when all four were read, true at the
// first table that failed even with a count of 1 (the rest are not read).
bool ReadAllTables(ModbusLink& link = modbusLink(), ValveWeightArray& weights = ValveWeights());

}  // namespace zrv
