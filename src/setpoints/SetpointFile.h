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
#include "setpoints/SetpointCatalogue.h"
#include "setpoints/ValveWeights.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

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
    std::string error;  // what is wrong, in Russian, with the line number
    SetpointSet set;
    // The device the file was saved from, when its header names one (a
    // hand-written file need not).
    std::optional<unsigned> deviceNumber;
    const char* encoding = "";  // "UTF-8" or "CP1251", as the text was read
};

// Reads a file's bytes: UTF-8 with or without a byte-order mark, or CP1251
// as a Russian Windows editor saves it. A value may use a decimal comma. A
// foreign, damaged or incomplete file gives ok false and says why; nothing is
// half taken.
SetpointFileResult parseSetpointFile(std::string_view text);

// Reads and parses a setpoint file on disk; a file that cannot be read
// gives ok false and the system's reason, in Russian.
SetpointFileResult readSetpointFile(const std::string& path);

// The question to ask before a file saved from one device goes into another:
// the number in its header is not the connected device's, or the valve
// weights it was saved with (registers 96..103, whose sum is that number) are
// not the device's. Nothing for a file whose header names no device.
std::optional<std::string> otherDeviceQuestion(const SetpointFileResult& file, const RegisterImage& device,
                                               unsigned deviceNumber);

// Which holding registers and weights of `set` differ from `device`.
struct SetpointDifferences {
    std::array<bool, kSetpointRegisters> holding{};
    std::array<bool, reg::kValveCount> weights{};
    int count() const;
};
SetpointDifferences compareSetpoints(const SetpointSet& set, const SetpointSet& device);
// The holding registers, ascending, where the device departs from an approved
// profile: those the table shows (both halves of a float) and the valve
// weights, which make the device number. The mode and the clock-setting
// registers change in service and are left out.
std::vector<int> profileDifferences(const SetpointSet& profile, const SetpointSet& device);

// A row of the setpoints table whose value on the device is not the file's,
// both as the table words them. Each register once, in the table's order
// (a register shown on several tabs is listed under its first).
struct RowDifference {
    const Row* row;
    std::string device;
    std::string file;
};
std::vector<RowDifference> differingRows(const SetpointSet& file, const SetpointSet& device);

// The set as the image and the weights hold it now.
SetpointSet currentSetpoints(const RegisterImage& image, const ValveWeightArray& weights);

}  // namespace zrv::setpoints
