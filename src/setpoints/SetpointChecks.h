#pragma once
// The checks before the setpoints are written to the device, and the block
// transfers that read and write all holding registers.

#include "link/ModbusTransact.h"
#include "setpoints/ValveWeights.h"

#include <functional>

#include <string>

namespace zrv::setpoints {

// Runs the checks in their fixed order: the 20 cross-checks, the flow
// coefficients Q1..Q8 (a failure there skips every later step), the valve
// weights (each weight that passes is copied into holding registers 96..103
// at once), the 14 parameter checks and the 2 journal checks. Returns the
// message of the last failing check, or "" when the set may be written.
std::string checkBeforeWrite(RegisterImage& image, const ValveWeightArray& weights);

// Told before each attempt: its number from 1 and the number of attempts.
using AttemptHook = std::function<void(int attempt, int attempts)>;

// Holding registers 0..n-1, n from 114 down to 11 until one attempt succeeds.
// Returns false when all 104 attempts failed, or when `stop` said so before
// an attempt (the operator ended the connection meanwhile).
bool readHoldingBlock(ModbusLink& link, const std::function<bool()>& stop = {}, const AttemptHook& attempt = {});
bool writeHoldingBlock(ModbusLink& link, const std::function<bool()>& stop = {}, const AttemptHook& attempt = {});

}  // namespace zrv::setpoints
