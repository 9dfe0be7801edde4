#include "RegisterImage.h"

#include <bit>

namespace zrv {

uint32_t floatBits(float v) { return std::bit_cast<uint32_t>(v); }
float floatFromBits(uint32_t bits) { return std::bit_cast<float>(bits); }
float floatFromHalves(uint16_t low, uint16_t high)
{
    return floatFromBits((uint32_t(high) << 16) | low);
}

float RegisterImage::holdingF32(uint16_t n) const
{
    return floatFromHalves(holding(n), holding(uint16_t(n + 1)));
}

void RegisterImage::setHoldingF32(uint16_t n, float v)
{
    const uint32_t bits = floatBits(v);
    setHolding(n, uint16_t(bits & 0xFFFF));
    setHolding(uint16_t(n + 1), uint16_t(bits >> 16));
}

float RegisterImage::inputF32(uint16_t n) const
{
    return floatFromHalves(input(n), input(uint16_t(n + 1)));
}

void RegisterImage::setInputF32(uint16_t n, float v)
{
    const uint32_t bits = floatBits(v);
    setInput(n, uint16_t(bits & 0xFFFF));
    setInput(uint16_t(n + 1), uint16_t(bits >> 16));
}

uint8_t RegisterImage::deviceNumber() const
{
    unsigned sum = 0;
    for (uint16_t i = 0; i < reg::kValveCount; ++i)
        sum += holding(uint16_t(reg::kZrvFactor1 + i)) & 0xFF;
    return uint8_t(sum % 256);
}

void RegisterImage::clear()
{
    for (auto& e : m_coils) store(e, uint8_t(0));
    for (auto& e : m_discrete) store(e, uint8_t(0));
    for (auto& e : m_holding) store(e, uint16_t(0));
    for (auto& e : *m_input) store(e, uint16_t(0));
}

}  // namespace zrv
