#pragma once
// Reading the device's journal ring: input registers 512 up to, not
// including, 32767, read newest record first along the chain of start
// addresses, in requests of at most 125 registers.

#include "journal/ReportBuilder.h"
#include "link/RegisterImage.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace zrv::journal {

using reg::kRingEnd;    // first address past the ring
using reg::kRingFirst;
using reg::kRingSize;  // 32255
inline constexpr uint16_t kRecordHead = 12;            // link, stamp, four floats
inline constexpr uint16_t kMaxRequest = 125;
inline constexpr uint16_t kWordsReadLimit = kRingSize - 16;  // 32239

constexpr bool inRing(uint16_t address) { return address >= kRingFirst && address < kRingEnd; }

// Registers from start up to end, continuing at 512 past the ring's end.
constexpr uint16_t recordLength(uint16_t start, uint16_t end)
{
    return end >= start ? uint16_t(end - start) : uint16_t((kRingEnd - start) + (end - kRingFirst));
}

// Word i of a record, in ring order.
constexpr uint16_t ringAddress(uint16_t start, uint32_t i)
{
    const uint32_t a = uint32_t(start) + i;
    return a < kRingEnd ? uint16_t(a) : uint16_t(kRingFirst + (a - kRingEnd));
}

// The record's words in ring order: link, stamp, floats, then the entries.
// Entries are 3 words, or 4 with a float; an entry whose words would run past
// the record's end is not decoded.
DecodedRecord decodeRecord(const std::vector<uint16_t>& words);

// A record as the device holds it: its start address and its stamp (words
// 1..3). A record that the ring has since overwritten may come back at the
// same address, but not with the same stamp.
struct RecordKey {
    uint16_t start = 0;
    std::array<uint16_t, 3> stamp{};
    bool operator==(const RecordKey&) const = default;
};
using RecordKeys = std::vector<RecordKey>;  // newest first

// One record on its own, as a collector stores it.
struct RecordData {
    RecordKey key;
    Stamp stamp;
    float p1 = 0, p2 = 0, t = 0, q = 0;
    int entries = 0;
    std::string text;  // the record's lines of the report, CRLF-ended
};

struct JournalHooks {
    // One request of function 4; true when the device answered it.
    std::function<bool(uint16_t start, uint16_t count)> readInputs;
    // The operator's stop.
    std::function<bool()> stopRequested;
    // Each optional: a reader without a viewer (the collector's call) keeps
    // no report and shows no progress bar.
    // Hands the progress on to be shown.
    std::function<void(uint16_t wordsRead, int32_t recordsRead)> showProgress;
    // One finished piece of report text.
    std::function<void(const std::string& piece)> append;
    // Each record appended, with its piece of text (the collector keeps
    // records one by one).
    std::function<void(const RecordKey& key, const DecodedRecord& record, const std::string& piece)> record;
    // The collector's rule: the chain ends where a link points no further
    // back from the write position than the record it came from (the ring
    // has written over the record it named), rather than read what stands
    // there now as a record. The terminal reads on to its word limit.
    bool endWhereOverwritten = false;
};

// The requests that read one record of `count` registers from `start`, the
// stop flag tested after each 125-register request. False when a request
// that asked for registers went unanswered (the request for none, which the
// device refuses, does not count).
bool readRecord(uint16_t start, uint16_t end, const JournalHooks& hooks);
// The link word and the stamp alone, in ring order.
bool readHead(uint16_t start, const JournalHooks& hooks);
// The key of the record at `start` as the image holds it.
RecordKey keyAt(uint16_t start, const RegisterImage& image);


// Kept as text in the preferences: "start:w1:w2:w3" in hex, comma-separated.
// Parsing skips what is not a key.
std::string formatRecordKeys(const RecordKeys& keys);
RecordKeys parseRecordKeys(const std::string& text);
// The newest keys of both, `newer` first, at most `limit`.
RecordKeys mergeRecordKeys(const RecordKeys& newer, const RecordKeys& older, std::size_t limit);
inline constexpr std::size_t kKeysKept = 64;

// What the summary line gets when a reading was cut short: " (чтение
// прервано: нет ответа)".
std::string cutShortNote(const std::string& why);

struct ReadingResult {
    int32_t recordsRead = 0;
    RecordKeys keys;           // of every record appended, newest first
    bool reachedKnown = false;  // stopped at a record already held
    // A request went unanswered: the record it belonged to was neither
    // decoded nor appended, and the reading ended there.
    bool cutShort = false;
    // The chain ended on its own (an empty record, an address outside the
    // ring, a record shorter than its head): nothing older is there to read.
    bool chainEnded = false;
};

// Reads records newest first from the record [recordStart, recordEnd) until
// the chain ends at an empty record, leaves the ring, more than 32239
// registers have been read, the stop flag is set, or a request fails. Returns
// RecordsRead. Only a record whose every request was answered is decoded:
// after a failure the image holds older contents, which would read as a
// record the device never wrote.
//
// With `known`, it also stops before the first record already held: a record
// whose start address is known has its first four words read alone, and when
// its stamp matches too, nothing of it is appended or counted.
int32_t readRecords(uint16_t recordEnd, uint16_t recordStart, const RegisterImage& image, ReportBuilder& builder,
                    const JournalHooks& hooks, const RecordKeys* known = nullptr, ReadingResult* result = nullptr);

}  // namespace zrv::journal
