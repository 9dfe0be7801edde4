#pragma once
// Fills the whole register image: coils, discrete inputs, holding and input
// registers, each from address 0, asking for one point less after each
// failure, so a device that accepts fewer points than asked is read as far as
// it allows.

#include "ModbusTransact.h"

#include <functional>

namespace zrv {

struct ReadAllTablesHooks {
    // Called once the holding registers have been read (the setpoint editor
    // takes its pending valve weights from them).
    std::function<void()> afterHolding;
    // Asked before each request; true ends the reading as failed.
    std::function<bool()> stopRequested;
};

// Tables in this order: coils 16, discrete inputs 24, holding registers 114,
// input registers 28. Returns false when all four were read, true at the
// first table that failed even with a count of 1 (the rest are not read);
// then `failure` (when given) tells what became of the last request.
bool ReadAllTables(ModbusLink& link, const ReadAllTablesHooks& hooks = {}, TransactResult* failure = nullptr);

}  // namespace zrv
