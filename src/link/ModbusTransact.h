#pragma once
// The one road to the device: build a request, send it, take one reply, check
// it, move its data into the register image, count the outcome and report the
// counts. No retries here; callers loop on the result.

#include "RegisterImage.h"
#include "SerialLine.h"
#include "TransactOutcome.h"

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

namespace zrv {

inline constexpr uint8_t kTransactOk = 0;
inline constexpr uint8_t kTransactFailed = 255;

// Outcomes since program start; never reset.
struct LinkCounters {
    std::atomic<int32_t> successes{0};
    std::atomic<int32_t> failures{0};
};

// "Успешных транзакций 12 /Сбоев 3"
std::string transactionStatusText(int32_t successes, int32_t failures);

class ModbusLink {
public:
    static constexpr std::chrono::milliseconds kReplyTimeout{500};
    static constexpr std::chrono::milliseconds kReplySilence{50};
    // 3.5 characters of 10 bits at 9600 baud (3.65 ms), rounded up to what a
    // timer reliably waits.
    static constexpr std::chrono::microseconds kFrameGap{4000};

    explicit ModbusLink(RegisterImage& image) : m_image(image) {}
    ModbusLink(const ModbusLink&) = delete;
    ModbusLink& operator=(const ModbusLink&) = delete;

    // The open port, owned here from connection to disconnection. Set and
    // cleared only while no transaction runs.
    void setPort(std::unique_ptr<SerialLine> port) { m_port = std::move(port); }
    SerialLine* port() const { return m_port.get(); }
    void closePort();

    // The slave every following transaction talks to (the selection window
    // keeps it current).
    void setSlaveAddress(uint8_t address) { m_slave.store(address, std::memory_order_relaxed); }
    uint8_t slaveAddress() const { return m_slave.load(std::memory_order_relaxed); }

    // Reply-length framing: a reply ends once its length, told by its own
    // header, is complete and 3.5 characters of silence followed, instead of
    // after 50 ms of silence. Off by default; may change between transactions
    // from any thread.
    void setFastFraming(bool on) { m_fast.store(on, std::memory_order_relaxed); }
    bool fastFraming() const { return m_fast.load(std::memory_order_relaxed); }

    // Receives the counters after every transaction, on whichever thread ran
    // it. Set once before the first transaction.
    void setCountSink(std::function<void(int32_t successes, int32_t failures)> sink) { m_countSink = std::move(sink); }
    // Receives every transaction as one record, on the transacting thread,
    // right after it is counted. It must not block: hand the record on.
    void setTraceSink(std::function<void(const TransactionRecord&)> sink) { m_traceSink = std::move(sink); }

    // Function 1, 2, 3, 4, 5 or 16; the count of points or registers, or for
    // function 5 the coil value. Never throws.
    TransactResult transact(uint8_t function, uint16_t start, uint16_t countOrValue);

    const LinkCounters& counters() const { return m_counters; }
    RegisterImage& image() { return m_image; }

private:
    RegisterImage& m_image;
    std::unique_ptr<SerialLine> m_port;
    std::atomic<uint8_t> m_slave{1};
    std::atomic<bool> m_fast{false};
    std::function<void(int32_t, int32_t)> m_countSink;
    std::function<void(const TransactionRecord&)> m_traceSink;
    LinkCounters m_counters;
    std::array<uint8_t, 256> m_tx{};
    std::array<uint8_t, 256> m_rx{};
};

// The routine every part of the terminal calls, on the session's I/O thread:
// kTransactOk or kTransactFailed, the flag callers loop on.
inline uint8_t ModbusTransact(ModbusLink& link, uint8_t function, uint16_t start, uint16_t countOrValue)
{
    return link.transact(function, start, countOrValue).ok() ? kTransactOk : kTransactFailed;
}

}  // namespace zrv
