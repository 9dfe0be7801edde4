#include "Updatethread.h"

#include "link/ModbusFrame.h"
#include "monitor/ValveLogic.h"

namespace zrv {

PollResult TUpdate1::Execute()
{
    using namespace modbus;
    ModbusTransact(m_link, kReadCoils, 0, reg::kCoilCount);
    ModbusTransact(m_link, kReadInputRegisters, 0, reg::kLiveInputCount);
    ModbusTransact(m_link, kReadDiscreteInputs, 0, reg::kDiscreteCount);
    ModbusTransact(m_link, kReadHoldingRegisters, reg::kZrvFactor1, reg::kValveCount);

    PollResult r;
    r.deviceNumber = m_link.image().deviceNumber();
    const ValveHoldOffStep hold = runValveHoldOff(m_valveHoldOff, m_link.image());
    r.disableButtons = hold.disableButtons;
    r.enableButtonsForMode = hold.enableButtonsForMode;
    if (runModeHoldOff(m_modeHoldOff)) {
        ModbusTransact(m_link, kReadHoldingRegisters, reg::kMode, 1);
        r.modeReadBack = true;
    }
    return r;
}

}  // namespace zrv
