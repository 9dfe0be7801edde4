#include "ModbusSlave.h"

#include "link/ModbusCrc16.h"

namespace zrvsim {

void appendCrc(Frame& f)
{
    const uint16_t crc = zrv::ModbusCrc16(f.data(), f.size());
    f.push_back(uint8_t(crc >> 8));
    f.push_back(uint8_t(crc & 0xFF));
}

bool crcOk(const Frame& f) { return f.size() >= 4 && zrv::ModbusCrc16(f.data(), f.size()) == 0; }

std::size_t ModbusSlave::expectedRequestLength(const uint8_t* d, std::size_t have)
{
    if (have < 2) return 0;
    switch (d[1]) {
    case 1: case 2: case 3: case 4: case 5: case 6:
        return 8;
    case 15: case 16:
        return have >= 7 ? std::size_t(9) + d[6] : 0;
    default:
        return 0;
    }
}

Frame ModbusSlave::exception(uint8_t function, uint8_t code) const
{
    Frame f{m_address, uint8_t(function | 0x80), code};
    appendCrc(f);
    return f;
}

std::optional<Frame> ModbusSlave::handle(const Frame& req, Clock::time_point now)
{
    if (!crcOk(req)) return std::nullopt;
    if (req[0] != m_address) return std::nullopt;  // another slave, or a broadcast
    ++requestsSeen;
    if (faults.silent) return std::nullopt;
    if (faults.answerFromRequest > 0 && requestsSeen < faults.answerFromRequest) return std::nullopt;
    if (faults.silentFromRequest > 0 && requestsSeen >= faults.silentFromRequest) return std::nullopt;
    if (faults.dropEveryNth > 0 && requestsSeen % faults.dropEveryNth == 0) return std::nullopt;

    const uint8_t fn = req[1];
    const auto word = [&](std::size_t i) { return uint16_t((req[i] << 8) | req[i + 1]); };
    if (fn == 4 && req.size() == 8 && faults.silentInputAt >= 0 && word(2) == faults.silentInputAt) return std::nullopt;
    Frame reply{m_address, fn};
    m_device.advance(now);

    switch (fn) {
    case 1:
    case 2: {
        if (req.size() != 8) return exception(fn, 3);
        const uint16_t start = word(2), count = word(4);
        const int limit = fn == 1 ? DeviceModel::kCoils : DeviceModel::kDiscretes;
        if (count == 0 || count > 2000) return exception(fn, 3);
        if (fn == 1 && count > faults.maxCoilRead) return exception(fn, 3);
        if (int(start) + count > limit) return exception(fn, 2);
        const std::size_t bytes = (count + 7u) / 8u;
        reply.push_back(uint8_t(bytes));
        reply.resize(reply.size() + bytes, 0);
        for (unsigned i = 0; i < count; ++i) {
            const uint8_t bit = fn == 1 ? m_device.coils[start + i] : m_device.discretes[start + i];
            if (bit) reply[3 + i / 8] |= uint8_t(1u << (i % 8));
        }
        break;
    }
    case 3:
    case 4: {
        if (req.size() != 8) return exception(fn, 3);
        const uint16_t start = word(2), count = word(4);
        if (count == 0 || count > 125) return exception(fn, 3);
        const unsigned limit = fn == 3 ? DeviceModel::kHoldings : 65536u;
        if (unsigned(start) + count > limit) return exception(fn, 2);
        reply.push_back(uint8_t(2 * count));
        for (unsigned i = 0; i < count; ++i) {
            const uint16_t v = fn == 3 ? m_device.holdings[start + i] : m_device.inputs[start + i];
            reply.push_back(uint8_t(v >> 8));
            reply.push_back(uint8_t(v & 0xFF));
        }
        break;
    }
    case 5: {
        if (req.size() != 8) return exception(fn, 3);
        const uint16_t address = word(2), value = word(4);
        if (value != 0xFF00 && value != 0x0000) return exception(fn, 3);
        if (address >= DeviceModel::kCoils) return exception(fn, 2);
        m_device.writeCoil(address, value == 0xFF00, now);
        reply.assign(req.begin(), req.begin() + 6);
        break;
    }
    case 16: {
        const uint16_t start = word(2), count = word(4);
        if (count == 0 || count > 123 || req[6] != 2 * count || req.size() != 9u + 2u * count)
            return exception(fn, 3);
        if (unsigned(start) + count > DeviceModel::kHoldings) return exception(fn, 2);
        std::vector<uint16_t> values;
        for (unsigned i = 0; i < count; ++i) values.push_back(word(7 + 2 * i));
        if (!m_device.writeHoldings(start, values, now)) return exception(fn, 3);
        reply.assign(req.begin(), req.begin() + 6);
        break;
    }
    default:
        return exception(fn, 1);
    }
    appendCrc(reply);
    if (faults.corruptCrc) reply.back() ^= 0x5A;
    if (faults.strayByte) reply.push_back(0x55);
    return reply;
}

}  // namespace zrvsim
