#include "ReadAllTables.h"

namespace zrv {

ValveWeightArray& ValveWeights()
{
    static ValveWeightArray weights{};
    return weights;
}

bool ReadAllTables(ModbusLink& link, ValveWeightArray& weights)
{
    struct Table {
        uint8_t function;
        uint16_t count;
    };
    constexpr Table tables[] = {{1, reg::kCoilCount}, {2, reg::kDiscreteCount}, {3, reg::kHoldingCount},
                                {4, reg::kLiveInputCount}};
    for (const Table& t : tables) {
        uint16_t count = t.count;
        while (link.transact(t.function, 0, count) != kTransactOk) {
            if (count == 1) return true;
            --count;
        }
        if (t.function == 3) {
            for (int i = 0; i < 8; ++i)
                weights[std::size_t(i)].store(uint8_t(link.image().holding(uint16_t(reg::kZrvFactor1 + i)) & 0xFF),
                                              std::memory_order_relaxed);
        }
    }
    return false;
}

}  // namespace zrv
