#include "Readlog.h"

#include "journal/JournalReading.h"
#include "link/ModbusFrame.h"

namespace zrv {

void TReadLog::findNewest()
{
    const RegisterImage& img = m_link.image();
    ModbusTransact(m_link, modbus::kReadInputRegisters, reg::kInJournalWritePos, 1);
    RecordEnd = img.input(reg::kInJournalWritePos);
    ModbusTransact(m_link, modbus::kReadInputRegisters, RecordEnd, 1);
    RecordStart = img.input(RecordEnd);
}

std::string TReadLog::Execute(const journal::RecordKeys* known)
{
    ReadAllTables(m_link, m_refresh);
    m_sink.status("Идет загрузка...");

    journal::ReportBuilder builder;
    m_sink.piece(builder.header(m_link.image(), m_link.slaveAddress()));

    journal::JournalHooks hooks;
    hooks.readInputs = [this](uint16_t start, uint16_t count) {
        ModbusTransact(m_link, modbus::kReadInputRegisters, start, count);
    };
    hooks.stopRequested = [this] { return m_stop.load(std::memory_order_relaxed); };
    hooks.showProgress = m_sink.progress;
    hooks.append = m_sink.piece;
    const int32_t recordsRead =
        journal::readRecords(RecordEnd, RecordStart, m_link.image(), builder, hooks, known, &m_result);
    std::string summary = builder.summary(recordsRead);
    if (known) summary += m_result.reachedKnown ? " (только новые записи)" : " (прежних записей в журнале нет)";
    return summary;
}

}  // namespace zrv
