#pragma once
// The journal as a table for spreadsheet programs: one row per entry, taken
// from the report's own lines, so that a report read from the device, opened
// from a .log file or corrected by hand converts alike.

#include <string>
#include <vector>

namespace zrv::journal {

struct CsvRow {
    std::string recordTime;  // the record's stamp, "dd.MM.yyyy H:mm:ss" when whole
    std::string entryTime;   // as the entry line shows it
    std::string name;        // "P1", "Mode", "Szrv H:3 L:4" ...
    std::string reg;         // "Input 0", "Holding 7"
    std::string value;       // as shown, with a decimal comma
};

// The entry rows of a report, newest first as in the report. An entry line
// belongs to the record whose stamp line follows it; entries after the last
// stamp line (a report cut short) get an empty record time.
std::vector<CsvRow> csvRows(const std::vector<std::string>& reportLines);

// The whole file: a UTF-8 byte-order mark, a header row, then the rows,
// fields separated by ";" and quoted when they need it, CR LF line ends; the
// form Russian-locale spreadsheet programs open directly.
std::string journalCsv(const std::vector<std::string>& reportLines);

}  // namespace zrv::journal
