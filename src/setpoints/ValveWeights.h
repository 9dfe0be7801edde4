#pragma once
// The setpoint editor's pending valve weights: low bytes of holding registers
// 96..103 as last read, or as last edited. Edited on the window thread, read
// by the checks before a write on the I/O thread, hence atomic.

#include "link/RegisterImage.h"

#include <array>
#include <atomic>
#include <cstdint>

namespace zrv {

using ValveWeightArray = std::array<std::atomic<uint8_t>, reg::kValveCount>;

// Takes the weights from the image's holding registers 96..103.
inline void takeValveWeights(const RegisterImage& image, ValveWeightArray& weights)
{
    for (uint16_t i = 0; i < reg::kValveCount; ++i)
        weights[i].store(uint8_t(image.holding(uint16_t(reg::kZrvFactor1 + i)) & 0xFF), std::memory_order_relaxed);
}

}  // namespace zrv
