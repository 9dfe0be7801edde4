#include "Readlog.h"

#include "journal/JournalReading.h"
#include "link/ModbusFrame.h"

namespace zrv {

bool TReadLog::readInputs(uint16_t start, uint16_t count)
{
    const TransactResult r = m_link.transact(modbus::kReadInputRegisters, start, count);
    if (!r.ok()) m_failure = r.outcome;
    return r.ok();
}

void TReadLog::findNewest()
{
    const RegisterImage& img = m_link.image();
    // Both requests always go out, as they did; a failed one only means that
    // no record may be trusted to start where the image says.
    const bool position = readInputs(reg::kInJournalWritePos, 1);
    RecordEnd = img.input(reg::kInJournalWritePos);
    const bool start = readInputs(RecordEnd, 1);
    RecordStart = img.input(RecordEnd);
    m_newestKnown = position && start;
}

std::string TReadLog::run(const std::function<int32_t(journal::ReportBuilder&, const journal::JournalHooks&)>& records,
                          const std::function<std::string()>& note)
{
    m_result = {};
    m_cursorReading = {};
    TransactResult failed;
    const bool refreshed = !ReadAllTables(m_link, m_refresh, &failed);
    if (!refreshed) m_failure = failed.outcome;
    if (m_sink.status) m_sink.status("Идет загрузка...");

    journal::ReportBuilder builder;
    // A header or a record made of what the image held before a failed
    // request would be a report of things the device never said.
    if (!refreshed || !m_newestKnown) {
        m_result.cutShort = !m_stop.load(std::memory_order_relaxed);
        m_cursorReading.cutShort = m_result.cutShort;
        return builder.summary(0) + (m_result.cutShort ? journal::cutShortNote(failureText()) : std::string());
    }
    // The header sets the first record's entry base from the device clock, so
    // it is built even when nobody shows it (the collector's call).
    const std::string header = builder.header(m_link.image(), m_link.slaveAddress());
    if (m_sink.piece) m_sink.piece(header);

    journal::JournalHooks hooks;
    hooks.readInputs = [this](uint16_t start, uint16_t count) { return readInputs(start, count); };
    hooks.stopRequested = [this] { return m_stop.load(std::memory_order_relaxed); };
    hooks.showProgress = m_sink.progress;
    hooks.append = m_sink.piece;
    hooks.record = m_sink.record;
    const int32_t recordsRead = records(builder, hooks);
    return builder.summary(recordsRead) + note();
}

std::string TReadLog::Execute(const journal::RecordKeys* known)
{
    return run(
        [&](journal::ReportBuilder& builder, const journal::JournalHooks& hooks) {
            return journal::readRecords(RecordEnd, RecordStart, m_link.image(), builder, hooks, known, &m_result);
        },
        [&]() -> std::string {
            if (m_result.cutShort) return journal::cutShortNote(failureText());
            if (known) return m_result.reachedKnown ? " (только новые записи)" : " (прежних записей в журнале нет)";
            return {};
        });
}

std::string TReadLog::ExecuteFromCursor(const journal::JournalCursor& cursor)
{
    bool reached = false;
    std::string summary = run(
        [&](journal::ReportBuilder& builder, const journal::JournalHooks& hooks) {
            reached = true;
            int32_t records = 0;
            journal::JournalHooks counting = hooks;
            counting.record = [&](const journal::RecordKey& key, const journal::DecodedRecord& r, const std::string& piece) {
                ++records;
                if (hooks.record) hooks.record(key, r, piece);
            };
            m_cursorReading =
                journal::readFromCursor(RecordEnd, RecordStart, m_link.image(), builder, counting, cursor);
            m_result = m_cursorReading.head;
            return records;
        },
        [&]() -> std::string {
            return m_cursorReading.cutShort ? journal::cutShortNote(failureText()) : std::string();
        });
    // The tables never came: no record was reached, and the cursor stays
    // where it was, gaps and all.
    if (!reached) m_cursorReading.after = cursor;
    return summary;
}

}  // namespace zrv
