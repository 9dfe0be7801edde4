#pragma once
// The device's MODBUS RTU slave: one request frame in, one reply frame (or
// none) out, over a DeviceModel. Functions 1, 2, 3, 4, 5 and 16 with the
// standard exception replies:
//   01 illegal function, 02 illegal data address, 03 illegal data value
//   (a count of 0, above 2000 points or 125 registers, 123 for a write, or a
//   byte count that disagrees with the count).

#include "DeviceModel.h"

#include <cstdint>
#include <optional>
#include <vector>

namespace zrvsim {

using Frame = std::vector<uint8_t>;

// Ways to make the device misbehave on purpose.
struct FaultPlan {
    bool silent = false;                  // answer nothing
    int answerFromRequest = 0;            // stay silent for the first N-1 requests
    int silentFromRequest = 0;            // answer nothing from the Nth request on
    int dropEveryNth = 0;                 // leave every Nth reply out
    bool corruptCrc = false;              // spoil the CRC of every reply
    bool strayByte = false;               // one 0x55 after every reply
    int maxCoilRead = 16;                 // larger coil reads get exception 03
    // No answer to a read of input registers starting at this address (a
    // line that fails at one place in the journal); -1: none.
    int silentInputAt = -1;
    std::chrono::milliseconds extraDelay{0};  // reply this much later
};

class ModbusSlave {
public:
    explicit ModbusSlave(DeviceModel& device, uint8_t address = 1) : m_device(device), m_address(address) {}

    void setAddress(uint8_t a) { m_address = a; }
    uint8_t address() const { return m_address; }

    // The reply to one complete frame, or nothing (bad CRC, another slave's
    // address, a broadcast).
    std::optional<Frame> handle(const Frame& request, Clock::time_point now);

    // The frame length a request starting with these bytes will have, once
    // enough of it is known; 0 while unknown or for unknown functions.
    static std::size_t expectedRequestLength(const uint8_t* data, std::size_t have);

    FaultPlan faults;
    int requestsSeen = 0;

private:
    Frame exception(uint8_t function, uint8_t code) const;
    DeviceModel& m_device;
    uint8_t m_address;
};

// Appends the CRC (low-order register byte first) to a frame.
void appendCrc(Frame& f);
bool crcOk(const Frame& f);

}  // namespace zrvsim
