#pragma once
// The control panel's commands as the device takes them, on the session's
// I/O thread: each writes the image first and then the coil or register.

#include "link/ModbusTransact.h"

#include <atomic>
#include <cstdint>

namespace zrv {

// Coil 15: external control on or off.
void sendExternalControl(ModbusLink& link, bool on);
// Inverts valve `valve` (1..8) and starts the valve hold-off.
void sendValveToggle(ModbusLink& link, int valve, uint8_t& valveHoldOff);
// The direction (coil 8, not kept in the image), then one change of the
// strobe (coil 9); starts the valve hold-off.
void sendStep(ModbusLink& link, bool up, uint8_t& valveHoldOff);
// Holding register 0; starts the mode hold-off. True when the device took it.
bool sendMode(ModbusLink& link, uint16_t mode, uint8_t& modeHoldOff);

}  // namespace zrv
