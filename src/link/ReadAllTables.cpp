#include "ReadAllTables.h"

#include "ModbusFrame.h"

namespace zrv {

bool ReadAllTables(ModbusLink& link, const ReadAllTablesHooks& hooks, TransactResult* failure)
{
    struct Table {
        uint8_t function;
        uint16_t count;
    };
    constexpr Table tables[] = {{modbus::kReadCoils, reg::kCoilCount},
                                {modbus::kReadDiscreteInputs, reg::kDiscreteCount},
                                {modbus::kReadHoldingRegisters, reg::kHoldingCount},
                                {modbus::kReadInputRegisters, reg::kLiveInputCount}};
    for (const Table& t : tables) {
        uint16_t count = t.count;
        for (;;) {
            if (hooks.stopRequested && hooks.stopRequested()) return true;
            const TransactResult r = link.transact(t.function, 0, count);
            if (r.ok()) break;
            if (count == 1) {
                if (failure) *failure = r;
                return true;
            }
            --count;
        }
        if (t.function == modbus::kReadHoldingRegisters && hooks.afterHolding) hooks.afterHolding();
    }
    return false;
}

}  // namespace zrv
