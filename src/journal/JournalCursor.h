#pragma once
// Where a collector's reading of one device's journal stands between calls.
// A reading newest first that stops short of the records already held (a
// silent device, a spoilt reply) leaves a gap: the records between the
// oldest one it read and the newest one held before. The next call reads the
// new records and then goes on down each gap, until the gap is closed or the
// ring has written over what is left of it.
//
// The terminal's "Считать новые записи" keeps its own simpler rule (stop at
// the first record held); this is the unattended reader's.

#include "journal/JournalReading.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace zrv::journal {

struct JournalGap {
    RecordKey above;  // the oldest record read whole above the gap
    // The newest record held below it; none on a first reading, where the
    // gap runs down to the ring's oldest record.
    std::optional<RecordKey> below;
    // Where the gap's oldest record starts: the end of `below`, when known.
    std::optional<uint16_t> bottom;
    // The mean length of the records read next to it, for a count of what
    // the ring may write over before it is read (0: none read).
    uint16_t recordWords = 0;
    bool operator==(const JournalGap&) const = default;
};

struct JournalCursor {
    RecordKeys keys;              // the newest records held, newest first
    std::optional<uint16_t> end;  // where the newest of them ends
    std::vector<JournalGap> gaps;  // newest first
    bool operator==(const JournalCursor&) const = default;
};

// A device whose line keeps failing may pile up gaps; past this many the two
// oldest are joined (the records between them are read again, and stored
// once, as every record is).
inline constexpr std::size_t kGapsKept = 16;

// "above>below>bottom>words" per gap, comma-separated; keys as formatRecordKeys
// writes them, an absent part empty. Parsing skips what is not a gap.
std::string formatGaps(const std::vector<JournalGap>& gaps);
std::vector<JournalGap> parseGaps(const std::string& text);

struct CursorReading {
    ReadingResult head;  // the new records, as readRecords tells it
    JournalCursor after;
    int gapsClosed = 0;
    int gapsLost = 0;  // gaps the ring wrote over, wholly or in part
    // The ring wrote over records of a gap before they could be read: how
    // many words, and about how many records (the words over the mean
    // length of the records read next to the gap).
    uint32_t wordsLost = 0;
    int recordsLost = 0;
    bool cutShort = false;  // some request went unanswered: a gap stays
};

// Reads the new records from the newest one [recordStart, recordEnd) (the
// write position and the start it holds) down to the cursor's records, then
// each gap of the cursor, newest first, and works out the cursor after.
// `record` hands over every record read, the new ones first.
CursorReading readFromCursor(uint16_t recordEnd, uint16_t recordStart, const RegisterImage& image,
                             ReportBuilder& builder, const JournalHooks& hooks, const JournalCursor& before);

}  // namespace zrv::journal
