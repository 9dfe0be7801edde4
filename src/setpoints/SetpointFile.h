#pragma once
// A setpoint set kept in a file: the 114 holding registers and the 8 pending
// valve weights, readable and hand-editable UTF-8 text.
//
//   # Уставки ZRV
//   # Устройство: ZRV-127
//   # Сохранено: 07.12.2026 12:55:10
//   # Программа: zrvterm 1.6
//   # Регистр<TAB>Параметр<TAB>Значение<TAB>Код
//   HR 0<TAB>Текущий режим<TAB>2<TAB>0002
//   ...
//   W 1<TAB>Весовой коэффициент клапана 1<TAB>8
//
// Loading takes the code of each register, unless its value was changed by
// hand: then the value goes in as if typed into the table (the same
// conversions and limits), so that an untouched file comes back bit for bit
// and an edited one behaves like the table.

#include "link/RegisterImage.h"
#include "setpoints/ValveWeights.h"

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zrv::setpoints {

inline constexpr int kSetpointRegisters = reg::kHoldingCount;  // 0..113

struct SetpointSet {
    std::array<uint16_t, kSetpointRegisters> holding{};
    std::array<uint8_t, reg::kValveCount> weights{};
};

// The file's text for the image's holding registers and the weights.
std::string formatSetpointFile(const RegisterImage& image, const ValveWeightArray& weights, unsigned deviceNumber,
                               const std::string& savedAt, const std::string& programVersion);

struct SetpointFileResult {
    bool ok = false;
    std::string error;  // what is wrong, with the line number
    SetpointSet set;
};

// Reads a file's text. A foreign, damaged or incomplete file gives ok false
// and says why; nothing is half taken.
SetpointFileResult parseSetpointFile(std::string_view text);

// Which holding registers and weights of `set` differ from `device`.
struct SetpointDifferences {
    std::array<bool, kSetpointRegisters> holding{};
    std::array<bool, reg::kValveCount> weights{};
    int count() const;
};
SetpointDifferences compareSetpoints(const SetpointSet& set, const SetpointSet& device);

// The set as the image and the weights hold it now.
SetpointSet currentSetpoints(const RegisterImage& image, const ValveWeightArray& weights);

}  // namespace zrv::setpoints
