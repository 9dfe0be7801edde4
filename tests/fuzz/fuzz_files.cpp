// Files and entries an operator or another program may have written: a
// setpoint file, a ports-folder entry, journal report text turned into a
// table. A setpoint file that is taken is a whole set that reads back the
// same; a refused one says why. A port entry that is taken names a host and a
// port in 1..65535. Every table row has its five fields.

#include "FuzzCheck.h"
#include "journal/JournalCsv.h"
#include "link/PortMap.h"
#include "setpoints/SetpointFile.h"

#include <string>
#include <vector>

using namespace zrv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1) return 0;
    const std::string text(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 3) {
    case 0: {
        const setpoints::SetpointFileResult r = setpoints::parseSetpointFile(text);
        if (!r.ok) {
            FUZZ_CHECK(!r.error.empty());
            break;
        }
        RegisterImage img;
        ValveWeightArray w{};
        for (uint16_t i = 0; i < setpoints::kSetpointRegisters; ++i) img.setHolding(i, r.set.holding[i]);
        for (std::size_t v = 0; v < w.size(); ++v) w[v] = r.set.weights[v];
        const setpoints::SetpointFileResult back = setpoints::parseSetpointFile(setpoints::formatSetpointFile(img, w, 1, "-", "-"));
        FUZZ_CHECK(back.ok);
        FUZZ_CHECK(back.set.holding == r.set.holding);
        FUZZ_CHECK(back.set.weights == r.set.weights);
        break;
    }
    case 1: {
        std::string why;
        const auto e = parseTcpEntry(text, &why);
        if (!e) {
            FUZZ_CHECK(!why.empty());
            break;
        }
        FUZZ_CHECK(!e->host.empty() && e->host.find_first_of(" \t\r\n") == std::string::npos);
        const long port = std::stol(e->port);
        FUZZ_CHECK(port >= 1 && port <= 65535);
        break;
    }
    default: {
        std::vector<std::string> lines;
        std::size_t pos = 0;
        while (pos <= text.size()) {
            const std::size_t end = std::min(text.find('\n', pos), text.size());
            lines.push_back(text.substr(pos, end - pos));
            pos = end + 1;
        }
        const std::vector<journal::CsvRow> rows = journal::csvRows(lines);
        FUZZ_CHECK(rows.size() <= lines.size());
        for (const journal::CsvRow& r : rows) FUZZ_CHECK(!r.reg.empty());
        const std::string csv = journal::journalCsv(lines);
        FUZZ_CHECK(csv.rfind("\xEF\xBB\xBF", 0) == 0);
        break;
    }
    }
    return 0;
}
