#include "TrafficText.h"

#include "link/ModbusFrame.h"

#include <cstdio>
#include <ctime>

namespace zrv::diagnostics {

std::string outcomeText(const TransactionRecord& r)
{
    if (r.outcome == TransactOutcome::Exception) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "исключение %02X", r.exceptionCode);
        return buf;
    }
    if (r.outcome == TransactOutcome::Malformed) {
        const std::size_t want = modbus::expectedReplyLength(r.reply.data(), r.reply.size(), r.slave, r.function);
        if (want == 0 || (want != modbus::kLengthUnknown && r.reply.size() < want)) return "неполный ответ";
        if (want != modbus::kLengthUnknown && r.reply.size() > want) return "лишние байты";
    }
    return outcomeGroup(r.outcome);
}

std::string requestSummary(uint8_t function, uint16_t start, uint16_t countOrValue)
{
    char buf[64];
    if (function == modbus::kWriteSingleCoil) {
        if (countOrValue == 0xFF00)
            std::snprintf(buf, sizeof buf, "катушка %u = ВКЛ", unsigned(start));
        else if (countOrValue == 0)
            std::snprintf(buf, sizeof buf, "катушка %u = ВЫКЛ", unsigned(start));
        else
            std::snprintf(buf, sizeof buf, "катушка %u = %04X", unsigned(start), unsigned(countOrValue));
    } else {
        std::snprintf(buf, sizeof buf, "нач. %u, кол. %u", unsigned(start), unsigned(countOrValue));
    }
    return buf;
}

std::string hexBytes(const std::vector<uint8_t>& bytes, std::size_t maxBytes)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    const std::size_t n = std::min(bytes.size(), maxBytes);
    out.reserve(n * 3 + 4);
    for (std::size_t i = 0; i < n; ++i) {
        if (i) out += ' ';
        out += digits[bytes[i] >> 4];
        out += digits[bytes[i] & 15];
    }
    if (bytes.size() > n) out += " …";
    return out;
}

std::string clockText(std::chrono::system_clock::time_point t)
{
    const std::time_t secs = std::chrono::system_clock::to_time_t(t);
    std::tm local{};
    localtime_r(&secs, &local);
    const auto ms =
        std::chrono::duration_cast<std::chrono::milliseconds>(t.time_since_epoch()).count() % 1000;
    char buf[32];
    std::snprintf(buf, sizeof buf, "%02d:%02d:%02d.%03d", local.tm_hour, local.tm_min, local.tm_sec,
                  int(ms < 0 ? ms + 1000 : ms));
    return buf;
}

std::string durationText(std::chrono::microseconds d)
{
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f", double(d.count()) / 1000.0);
    return buf;
}

const std::vector<std::string>& columnCaptions()
{
    static const std::vector<std::string> captions = {"Время", "Адрес", "Функция", "Запрос", "Передано",
                                                      "Принято", "Итог", "мс"};
    return captions;
}

std::string rowLine(const TrafficRow& row)
{
    const TransactionRecord& r = row.record;
    return clockText(row.at) + "\t" + std::to_string(r.slave) + "\t" + std::to_string(r.function) + "\t" +
           requestSummary(r.function, r.start, r.countOrValue) + "\t" + hexBytes(r.request) + "\t" +
           hexBytes(r.reply) + "\t" + outcomeText(r) + "\t" + durationText(r.duration);
}

}  // namespace zrv::diagnostics
