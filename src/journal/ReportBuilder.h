#pragma once
// The journal report's text: the header from the device's settings, one piece
// per journal record, and the summary line. Text is UTF-8 with CR LF line
// ends here; files carry it in code page 1251.

#include "link/RegisterImage.h"
#include "text/DateTimeValue.h"

#include <cstdint>
#include <string>
#include <vector>

namespace zrv::journal {

// One stamp: a time of day and a date, either of which may be impossible.
struct Stamp {
    int hours = 0, minutes = 0, seconds = 0;
    int day = 0, month = 0, year = 0;
    bool timeValid() const { return text::isValidTime(hours, minutes, seconds); }
    bool dateValid() const { return text::isValidDate(year, month, day); }
};

// The value of a date-and-time as whole days and seconds of the day, so that
// adding seconds stays exact.
struct DateTimeValue {
    int64_t days = 0;
    int secondOfDay = 0;
};

struct Entry {
    uint16_t offsetSeconds = 0;
    uint16_t tag = 0;     // bits 0-7 address, bit 14 input register, bit 15 float
    uint16_t value = 0;   // the 16-bit value, or the float's low-order half
    uint16_t valueHigh = 0;
    bool isFloat() const { return tag & 0x8000; }
    bool isInput() const { return tag & 0x4000; }
};

struct DecodedRecord {
    uint16_t words[4] = {};  // link, then the three stamp words
    float p1 = 0, p2 = 0, t = 0, q = 0;
    std::vector<Entry> entries;  // in decoding order
};

// The record's stamp, from its words 1..3.
Stamp stampOf(const DecodedRecord& r);

// Regional formats (Russian): H:mm:ss and dd.MM.yyyy.
std::string timeText(const text::TimeOfDay& t);
std::string dateText(const text::CivilDate& d);
// DATE, and " " TIME unless the time is exactly midnight.
std::string dateTimeText(const DateTimeValue& v);
// TIME "  " DATE, with " No Time  " / " No Date  " markers.
std::string stampText(const Stamp& s);

// Report number formats.
std::string formatF(float v);   // fixed, 2 decimals, at most 4 significant digits
std::string formatG(float v);   // general, 7 significant digits
std::string formatG2(float v);  // as G, exponent with at least 2 digits

class ReportBuilder {
public:
    // The header from holding registers 0..112 and the device clock in input
    // registers 20..25. Sets the entry base and the closing date.
    std::string header(const RegisterImage& image, int slaveAddress);
    // One record: its entries newest first, then its stamp line. Sets the
    // entry base and the opening date.
    std::string recordPiece(const DecodedRecord& record);
    // "Загружено 5 записей в период c <opening> по <closing>"
    std::string summary(int32_t recordsRead) const;

    // Goes on below a record read earlier (the one above a gap in the
    // collector's reading): the next record's entries are placed on that
    // record's stamp, as when the two are read one after the other.
    void continueBelow(const Stamp& newer) { setBase(newer); }

    std::string entryLine(const Entry& e) const;


private:
    void setBase(const Stamp& s);

    DateTimeValue m_base;
    bool m_baseTimeValid = false;
    std::string m_opening;
    std::string m_closing;
};

// The device number a report's header shows ("ZRV-<n>"): the sum of the
// valve weights, holding registers 96..103, each taken whole.
unsigned reportDeviceNumber(const RegisterImage& image);

// The name a journal entry gives its register ("P1", "Mode", "прямой Qy"),
// empty for addresses without one. Szrv (holding 7) is built from the value.
std::string entryRegisterName(bool input, uint8_t address);

}  // namespace zrv::journal
