#pragma once
// What became of one transaction, finer than the success/failure flag that
// callers loop on: the traffic view and the tests tell a silent device from
// a garbled line by it.

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace zrv {

enum class TransactOutcome : uint8_t {
    Ok,
    Timeout,       // nothing came within the reply time-out
    CrcError,      // a whole frame whose CRC does not check
    Malformed,     // short, too long, wrong slave, wrong function or byte count
    Exception,     // the device refused with an exception code
    EchoMismatch,  // a write's reply does not echo the request
    PortLost,      // the line refused the request or is gone
    NotSent,       // no line, or a request that cannot be framed
};

// What one transaction came to: its outcome and, for an exception reply, the
// device's code. ok() is what the result flag calls 0.
struct TransactResult {
    TransactOutcome outcome = TransactOutcome::NotSent;
    uint8_t exceptionCode = 0;  // with Exception only
    bool ok() const { return outcome == TransactOutcome::Ok; }
};

// The outcome in the operator's words, without the exception code or the
// kind of refused reply: "OK", "нет ответа", "ошибка CRC", "исключение",
// "неверный ответ", "эхо не совпадает", "порт потерян", "не отправлено". The
// traffic monitor counts by it; a reading that fails says why with it.
std::string outcomeGroup(TransactOutcome outcome);
// A write, a call that went through: the word the change record and the
// collector's stores write for it.
inline constexpr char kOkWord[] = "ok";

// One transaction as it went over the line.
struct TransactionRecord {
    std::chrono::steady_clock::time_point started;
    std::chrono::microseconds duration{0};
    uint8_t slave = 0;
    uint8_t function = 0;
    uint16_t start = 0;
    uint16_t countOrValue = 0;
    std::vector<uint8_t> request;
    std::vector<uint8_t> reply;
    TransactOutcome outcome = TransactOutcome::NotSent;
    uint8_t exceptionCode = 0;  // with Exception only
};

}  // namespace zrv
