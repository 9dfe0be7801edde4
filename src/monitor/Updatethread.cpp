#include "Updatethread.h"

#include "link/ModbusFrame.h"
#include "monitor/ValveLogic.h"

namespace zrv {

PollSnapshot TUpdate1::Execute()
{
    using namespace modbus;
    ModbusTransact(m_link, kReadCoils, 0, reg::kCoilCount);
    ModbusTransact(m_link, kReadInputRegisters, 0, reg::kLiveInputCount);
    ModbusTransact(m_link, kReadDiscreteInputs, 0, reg::kDiscreteCount);
    ModbusTransact(m_link, kReadHoldingRegisters, reg::kZrvFactor1, reg::kValveCount);

    const ValveHoldOffStep hold = runValveHoldOff(m_valveHoldOff, m_link.image());
    const bool modeReadBack = runModeHoldOff(m_modeHoldOff);
    if (modeReadBack) ModbusTransact(m_link, kReadHoldingRegisters, reg::kMode, 1);
    // Decoded after the last read of the step, so the mode is the one read.
    PollSnapshot s = snapshotOf(m_link.image());
    // Off, then back for the mode, is the same as back for the mode.
    s.hold = hold.enableButtonsForMode ? CommandHold::Released
             : hold.disableButtons     ? CommandHold::Held
                                       : CommandHold::Unchanged;
    s.modeReadBack = modeReadBack;
    return s;
}

}  // namespace zrv
