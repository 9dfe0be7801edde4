#pragma once
// Reading the device's journal into report text, run on the session's I/O
// thread: find the newest record, refresh all tables, then the header
// and the records newest first until the chain ends or the operator stops.
// A request the device leaves unanswered ends the reading: what was read
// whole stays, and the summary says why the rest is missing.

#include "journal/JournalCursor.h"
#include "journal/JournalReading.h"
#include "journal/ReportBuilder.h"
#include "link/ReadAllTables.h"

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>

namespace zrv {

// Where a reading's results go; any of them may be left unset.
struct JournalSink {
    std::function<void(const std::string&)> status;   // the viewer's status line
    std::function<void(const std::string&)> piece;    // one finished piece of report
    std::function<void(uint16_t wordsRead, int32_t recordsRead)> progress;
    // Each record appended, with its piece (optional).
    std::function<void(const journal::RecordKey& key, const journal::DecodedRecord& record, const std::string& piece)> record;
};

class TReadLog {
public:
    TReadLog(ModbusLink& link, const std::atomic<bool>& stop, JournalSink sink, ReadAllTablesHooks refresh)
        : m_link(link), m_stop(stop), m_sink(std::move(sink)), m_refresh(std::move(refresh))
    {
    }

    uint16_t RecordEnd = 0;
    uint16_t RecordStart = 0;

    // The write position, and the start of the newest record it points at.
    void findNewest();
    // Returns the summary line. With `known`, only the records newer than the
    // first one already held are read, and the summary says so.
    std::string Execute(const journal::RecordKeys* known = nullptr);
    // The collector's reading: the new records, then the gaps that earlier
    // readings left (see JournalCursor.h).
    std::string ExecuteFromCursor(const journal::JournalCursor& cursor);
    const journal::CursorReading& cursorReading() const { return m_cursorReading; }

    // What the last Execute read.
    const journal::ReadingResult& result() const { return m_result; }
    // Why the reading was cut short, in the operator's words.
    std::string failureText() const { return outcomeGroup(m_failure); }

private:
    // One request of function 4; a failure is remembered with its outcome.
    bool readInputs(uint16_t start, uint16_t count);
    // The refresh and the header, then `records`; the summary line.
    std::string run(const std::function<int32_t(journal::ReportBuilder&, const journal::JournalHooks&)>& records,
                    const std::function<std::string()>& note);

    ModbusLink& m_link;
    const std::atomic<bool>& m_stop;
    JournalSink m_sink;
    ReadAllTablesHooks m_refresh;
    journal::ReadingResult m_result;
    journal::CursorReading m_cursorReading;
    bool m_newestKnown = false;
    TransactOutcome m_failure = TransactOutcome::Ok;
};

}  // namespace zrv
