#include "ModbusTransact.h"

#include "ModbusFrame.h"

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

uint8_t ModbusLink::transact(uint8_t function, uint16_t start, uint16_t countOrValue)
{
    m_tx.fill(0);
    m_rx.fill(0);
    SerialLine* line = (m_port && m_port->isOpen()) ? m_port.get() : nullptr;
    if (line) line->purge();

    const uint8_t slave = slaveAddress();
    const std::size_t length = modbus::buildRequest(m_tx.data(), slave, function, start, countOrValue, m_image);

    // Without a port, or with a request that cannot be framed, nothing goes
    // out and the zero-filled receive buffer fails the checks at once.
    std::size_t received = 0;
    if (line && length > 0 && line->writeAll(m_tx.data(), length))
        received = line->readFor(m_rx.data(), m_rx.size(), kReplyTimeout, kReplySilence);

    const bool ok = length > 0 && modbus::acceptReply(m_tx.data(), m_rx.data(), received, slave, function, start,
                                                      countOrValue, m_image);
    const uint8_t result = ok ? kTransactOk : kTransactFailed;

    if (ok)
        m_counters.successes.fetch_add(1, std::memory_order_relaxed);
    else
        m_counters.failures.fetch_add(1, std::memory_order_relaxed);
    if (m_statusSink)
        m_statusSink(transactionStatusText(m_counters.successes.load(std::memory_order_relaxed),
                                           m_counters.failures.load(std::memory_order_relaxed)));
    return result;
}

ModbusLink& modbusLink()
{
    static ModbusLink link(registerImage());
    return link;
}

}  // namespace zrv
