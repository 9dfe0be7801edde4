#pragma once
// The terminal's copy of the device's four MODBUS tables.
//
// The session owns one; its I/O thread writes it while the windows read it,
// without a lock. Every entry is a relaxed atomic so that those overlaps are
// well defined; a reader sees either the old or the new value of each entry.

#include "RegisterMap.h"

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>

namespace zrv {

class RegisterImage {
public:
    RegisterImage() = default;
    RegisterImage(const RegisterImage&) = delete;
    RegisterImage& operator=(const RegisterImage&) = delete;

    // Out-of-range addresses read as 0 and are not written: every address the
    // terminal uses is in range, and a wrong one must not reach foreign memory.
    uint8_t coil(uint16_t a) const { return a < reg::kCoilCount ? load(m_coils[a]) : 0; }
    void setCoil(uint16_t a, uint8_t v)
    {
        if (a < reg::kCoilCount) store(m_coils[a], uint8_t(v ? 1 : 0));
    }
    uint8_t discrete(uint16_t a) const { return a < reg::kDiscreteCount ? load(m_discrete[a]) : 0; }
    void setDiscrete(uint16_t a, uint8_t v)
    {
        if (a < reg::kDiscreteCount) store(m_discrete[a], uint8_t(v ? 1 : 0));
    }
    uint16_t holding(uint16_t a) const { return a < reg::kHoldingCount ? load(m_holding[a]) : 0; }
    void setHolding(uint16_t a, uint16_t v)
    {
        if (a < reg::kHoldingCount) store(m_holding[a], v);
    }
    // The input table spans the whole 16-bit address space.
    uint16_t input(uint16_t a) const { return load((*m_input)[a]); }
    void setInput(uint16_t a, uint16_t v) { store((*m_input)[a], v); }

    // A float across two entries: n holds the low-order half, n+1 the high.
    float holdingF32(uint16_t n) const;
    void setHoldingF32(uint16_t n, float v);
    float inputF32(uint16_t n) const;
    void setInputF32(uint16_t n, float v);

    // Sum of the low bytes of the valve weights (96..103) modulo 256: the
    // number the device is known by on the status bar.
    uint8_t deviceNumber() const;

    // Back to the start-up state (all zero). The terminal never does this;
    // tests and the device model do.
    void clear();

private:
    template <typename T>
    static T load(const std::atomic<T>& e) { return e.load(std::memory_order_relaxed); }
    template <typename T>
    static void store(std::atomic<T>& e, T v) { e.store(v, std::memory_order_relaxed); }

    std::array<std::atomic<uint8_t>, reg::kCoilCount> m_coils{};
    std::array<std::atomic<uint8_t>, reg::kDiscreteCount> m_discrete{};
    std::array<std::atomic<uint16_t>, reg::kHoldingCount> m_holding{};
    std::unique_ptr<std::array<std::atomic<uint16_t>, reg::kInputCount>> m_input =
        std::make_unique<std::array<std::atomic<uint16_t>, reg::kInputCount>>();
};

// Bit-exact float <-> two register halves.
uint32_t floatBits(float v);
float floatFromBits(uint32_t bits);
float floatFromHalves(uint16_t low, uint16_t high);

}  // namespace zrv
