#pragma once
// How one transaction reads in the traffic monitor: what was asked, the bytes
// both ways in hex, and what became of it, in the operator's words.

#include "link/TransactOutcome.h"

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zrv::diagnostics {

// "OK", "нет ответа", "ошибка CRC", "исключение 02", "неполный ответ",
// "лишние байты", "неверный ответ", "эхо не совпадает", "порт потерян",
// "не отправлено". A refused reply is told apart by its length against what
// its own header promised.
std::string outcomeText(const TransactionRecord& r);

// "нач. 512, кол. 125" for reads and block writes, "катушка 15 = ВКЛ" for a
// coil (0xFF00 on, 0 off, any other value in hex).
std::string requestSummary(uint8_t function, uint16_t start, uint16_t countOrValue);

// "01 03 00 00 00 01 84 0A"; at most `maxBytes` bytes, then "…".
std::string hexBytes(const std::vector<uint8_t>& bytes, std::size_t maxBytes = 256);

// hh:mm:ss.zzz of a wall-clock time, local time.
std::string clockText(std::chrono::system_clock::time_point t);

// One row as a line of a saved file, the fields separated by tabs:
// time, slave, function, request, request hex, reply hex, outcome, ms.
struct TrafficRow {
    std::chrono::system_clock::time_point at;
    TransactionRecord record;
};
std::string rowLine(const TrafficRow& row);
// The columns' captions, in the same order.
const std::vector<std::string>& columnCaptions();
// Duration in milliseconds with one decimal.
std::string durationText(std::chrono::microseconds d);

}  // namespace zrv::diagnostics
