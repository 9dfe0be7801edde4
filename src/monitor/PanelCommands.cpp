#include "PanelCommands.h"

#include "link/ModbusFrame.h"
#include "monitor/ValveLogic.h"

namespace zrv {

void sendExternalControl(ModbusLink& link, bool on)
{
    link.image().setCoil(reg::kCoilExternalControl, on ? 1 : 0);
    ModbusTransact(link, modbus::kWriteSingleCoil, reg::kCoilExternalControl, on ? 1 : 0);
}

void sendValveToggle(ModbusLink& link, int valve, uint8_t& valveHoldOff)
{
    if (valve < 1 || valve > reg::kValveCount) return;
    RegisterImage& img = link.image();
    const uint16_t coil = uint16_t(reg::kCoilValve1 + valve - 1);
    img.setCoil(coil, img.coil(coil) ? 0 : 1);
    ModbusTransact(link, modbus::kWriteSingleCoil, coil, img.coil(coil));
    valveHoldOff = kValveHoldOffSteps;
}

void sendStep(ModbusLink& link, bool up, uint8_t& valveHoldOff)
{
    RegisterImage& img = link.image();
    ModbusTransact(link, modbus::kWriteSingleCoil, reg::kCoilStepDirection, up ? 1 : 0);
    img.setCoil(reg::kCoilStepStrobe, img.coil(reg::kCoilStepStrobe) ? 0 : 1);
    ModbusTransact(link, modbus::kWriteSingleCoil, reg::kCoilStepStrobe, img.coil(reg::kCoilStepStrobe));
    valveHoldOff = kValveHoldOffSteps;
}

bool sendMode(ModbusLink& link, uint16_t mode, uint8_t& modeHoldOff)
{
    link.image().setHolding(reg::kMode, mode);
    modeHoldOff = kModeHoldOffSteps;
    return ModbusTransact(link, modbus::kWriteMultipleRegisters, reg::kMode, 1) == kTransactOk;
}

}  // namespace zrv
