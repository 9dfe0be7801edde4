#include "ModbusTransact.h"

#include "ModbusFrame.h"

#include <algorithm>

namespace zrv {

std::string transactionStatusText(int32_t successes, int32_t failures)
{
    return "Успешных транзакций " + std::to_string(successes) + " /Сбоев " + std::to_string(failures);
}

void ModbusLink::closePort()
{
    if (m_port) m_port->close();
    m_port.reset();
}

TransactResult ModbusLink::transact(uint8_t function, uint16_t start, uint16_t countOrValue)
{
    const auto started = std::chrono::steady_clock::now();
    m_tx.fill(0);
    m_rx.fill(0);
    SerialLine* line = (m_port && m_port->isOpen()) ? m_port.get() : nullptr;
    if (line) line->purge();

    const uint8_t slave = slaveAddress();
    const std::size_t length = modbus::buildRequest(m_tx.data(), slave, function, start, countOrValue, m_image);

    // Without a port, or with a request that cannot be framed, nothing goes
    // out and the zero-filled receive buffer fails the checks at once.
    std::size_t received = 0;
    TransactOutcome outcome = TransactOutcome::NotSent;
    uint8_t exceptionCode = 0;
    if (!line || length == 0) {
        outcome = (m_port && length > 0) ? TransactOutcome::PortLost : TransactOutcome::NotSent;
    } else if (!line->writeAll(m_tx.data(), length)) {
        outcome = TransactOutcome::PortLost;
    } else {
        if (fastFraming()) {
            FrameEnd end;
            end.gap = kFrameGap;
            end.length = [slave, function](const uint8_t* rx, std::size_t n) {
                return modbus::expectedReplyLength(rx, n, slave, function);
            };
            received = line->readFrame(m_rx.data(), m_rx.size(), kReplyTimeout, kReplySilence, end);
        } else {
            received = line->readFor(m_rx.data(), m_rx.size(), kReplyTimeout, kReplySilence);
        }
        const modbus::ReplyVerdict v =
            modbus::checkReply(m_tx.data(), m_rx.data(), received, slave, function, start, countOrValue, m_image);
        outcome = v.outcome;
        exceptionCode = v.exceptionCode;
    }
    const bool ok = outcome == TransactOutcome::Ok;

    if (ok)
        m_counters.successes.fetch_add(1, std::memory_order_relaxed);
    else
        m_counters.failures.fetch_add(1, std::memory_order_relaxed);
    if (m_countSink)
        m_countSink(m_counters.successes.load(std::memory_order_relaxed),
                    m_counters.failures.load(std::memory_order_relaxed));
    if (m_traceSink) {
        TransactionRecord r;
        r.started = started;
        r.duration = std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now() - started);
        r.slave = slave;
        r.function = function;
        r.start = start;
        r.countOrValue = countOrValue;
        r.request.assign(m_tx.begin(), m_tx.begin() + std::ptrdiff_t(length));
        r.reply.assign(m_rx.begin(), m_rx.begin() + std::ptrdiff_t(std::min(received, m_rx.size())));
        r.outcome = outcome;
        r.exceptionCode = exceptionCode;
        m_traceSink(r);
    }
    return {outcome, exceptionCode};
}

}  // namespace zrv
