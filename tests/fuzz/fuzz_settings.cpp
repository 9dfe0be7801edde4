// Any bytes as zrvterm.ini. Parsing never fails hard; a file that parsed is
// written back by compose and parses to the same values.

#include "FuzzCheck.h"
#include "windowbase/SettingsFile.h"

using namespace zrv;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string text(reinterpret_cast<const char*>(data), size);
    if (text.size() > SettingsFile::kReadLimit) text.resize(SettingsFile::kReadLimit);
    if (const auto zero = text.find('\0'); zero != std::string::npos) text.resize(zero);
    const SettingsParse p = SettingsFile::parse(text);
    FUZZ_CHECK(!(p.malformed && p.settings.loaded));
    if (!p.settings.loaded) return 0;

    const Settings& s = p.settings;
    SettingsSnapshot live;
    const auto place = [&s](int slot) { return WindowPlace{s.values[std::size_t(slot)], s.values[std::size_t(slot + 1)], s.values[std::size_t(slot + 2)]}; };
    live.select = place(kSlotSelect);
    live.measure = place(kSlotMeasure);
    live.sets = place(kSlotSets);
    live.frontPanel = place(kSlotFrontPanel);
    live.modemEnable = s.values[kSlotModemEnable] != 0;
    live.comIndex = s.values[kSlotCom];
    live.addressIndex = s.values[kSlotAddress];
    live.mainHeight = s.values[kSlotMainHeight];
    live.mainWidth = s.values[kSlotMainWidth];
    live.phoneNumber = s.phoneNumber;
    live.journalFileName = s.journalFileName;
    const std::string again = SettingsFile::compose(live);
    // Texts with the separators in them, or a file past the read limit,
    // cannot come back whole; everything else must.
    const auto plain = [](const std::string& t) { return t.find_first_of(";\r\n", 0) == std::string::npos && t.find('\0') == std::string::npos; };
    if (again.size() > SettingsFile::kReadLimit || !plain(live.phoneNumber) || !plain(live.journalFileName)) return 0;
    const SettingsParse q = SettingsFile::parse(again);
    FUZZ_CHECK(q.settings.loaded && !q.malformed);
    for (int slot : {int(kSlotSelect), kSlotSelect + 1, kSlotSelect + 2, int(kSlotMeasure), kSlotSets + 1, kSlotFrontPanel + 2,
                     int(kSlotCom), int(kSlotAddress), int(kSlotMainHeight), int(kSlotMainWidth)})
        FUZZ_CHECK(q.settings.values[std::size_t(slot)] == s.values[std::size_t(slot)]);
    FUZZ_CHECK(q.settings.phoneNumber == s.phoneNumber);
    FUZZ_CHECK(q.settings.journalFileName == s.journalFileName);
    return 0;
}
