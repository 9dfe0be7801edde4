// A collector's roster as someone may have written it: any bytes either give
// a roster of stations with unique names, addresses 1..247 and ports, or a
// refusal that names the file, line and column. Nothing else escapes.

#include "FuzzCheck.h"
#include "fleet/Roster.h"

#include <set>
#include <string>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string error;
    const auto roster = zrv::fleet::parseRoster(text, "/etc/zrvcollect/stations.toml", &error);
    if (!roster) {
        FUZZ_CHECK(error.rfind("/etc/zrvcollect/stations.toml:", 0) == 0);
        const std::size_t colon = error.find(':', error.find(':') + 1);
        FUZZ_CHECK(colon != std::string::npos && error.size() > colon + 1);
        return 0;
    }
    FUZZ_CHECK(!roster->stations.empty());
    std::set<std::string> names;
    for (const auto& s : roster->stations) {
        FUZZ_CHECK(!s.name.empty() && names.insert(s.name).second);
        // A name goes into line protocol, topics and tables unescaped.
        for (const char c : s.name) FUZZ_CHECK(static_cast<unsigned char>(c) >= 0x20 && c != 0x7F);
        FUZZ_CHECK(!s.port.empty());
        FUZZ_CHECK(s.address >= 1 && s.address <= 247);
        FUZZ_CHECK(s.retries >= 0 && s.retries <= 20);
        FUZZ_CHECK(s.clockToleranceS >= 0 && s.retryDelayS >= 0);
    }
    return 0;
}
