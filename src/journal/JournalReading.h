#pragma once
// Reading the device's journal ring: input registers 512 up to, not
// including, 32767, read newest record first along the chain of start
// addresses, in requests of at most 125 registers.

#include "journal/ReportBuilder.h"
#include "link/RegisterImage.h"

#include <cstdint>
#include <functional>
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

struct JournalHooks {
    // One request of function 4; its result is not looked at.
    std::function<void(uint16_t start, uint16_t count)> readInputs;
    // The operator's stop.
    std::function<bool()> stopRequested;
    // Hands the progress on to be shown.
    std::function<void(uint16_t wordsRead, int32_t recordsRead)> showProgress;
    // One finished piece of report text.
    std::function<void(const std::string& piece)> append;
};

// The requests that read one record of `count` registers from `start`, the
// stop flag tested after each 125-register request.
void readRecord(uint16_t start, uint16_t end, const JournalHooks& hooks);

// Reads records newest first from the record [recordStart, recordEnd) until
// the chain ends at an empty record, leaves the ring, more than 32239
// registers have been read, or the stop flag is set. Returns RecordsRead.
int32_t readRecords(uint16_t recordEnd, uint16_t recordStart, const RegisterImage& image, ReportBuilder& builder,
                    const JournalHooks& hooks);

}  // namespace zrv::journal
