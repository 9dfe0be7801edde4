#pragma once
// zrvterm.ini: the operator's arrangement from one run to the next.
//
// Twelve CR LF lines, each "Key: " then one or three values, each value
// followed by ';':
//   Select: left;top;state;        -> slots 0, 1, 2
//   Measure: ...                   -> slots 3, 4, 5
//   Sets: ...                      -> slots 6, 7, 8
//   Front_Panel: ...               -> slots 9, 10, 11
//   Special: 0;0;0;                -> slots 12, 13, 14 (never used)
//   ModemEnable: flag;             -> slot 15
//   COM: index;                    -> slot 16
//   Address: index;                -> slot 17
//   MainHeight: height;            -> slot 18
//   MainWidth: width;              -> slot 19
//   PhoneNumber: text;
//   FileName: text;
// Only the first 255 bytes are read and the text is parsed by position: key
// names are never compared. States: 0 normal, 1 minimised, 2 maximised.

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

namespace zrv {

struct Settings {
    std::array<int32_t, 20> values{};  // the twenty numbered slots
    bool loaded = false;
    std::string phoneNumber;      // bytes as typed, in the system's code page
    std::string journalFileName;  // the last report file opened or saved
};

enum SettingsSlot : int {
    kSlotSelect = 0,
    kSlotMeasure = 3,
    kSlotSets = 6,
    kSlotFrontPanel = 9,
    kSlotSpecial = 12,
    kSlotModemEnable = 15,
    kSlotCom = 16,
    kSlotAddress = 17,
    kSlotMainHeight = 18,
    kSlotMainWidth = 19,
};

struct WindowPlace {
    int32_t left = 0;
    int32_t top = 0;
    int32_t state = 0;  // 0 normal, 1 minimised, 2 maximised
};

// What the close handler writes, taken from the live windows.
struct SettingsSnapshot {
    WindowPlace select, measure, sets, frontPanel;
    bool modemEnable = false;
    int32_t comIndex = 0;      // -1 when nothing is selected
    int32_t addressIndex = 0;  // -1 when nothing is selected
    int32_t mainHeight = 650;
    int32_t mainWidth = 570;
    std::string phoneNumber;
    std::string journalFileName;
};

struct SettingsParse {
    Settings settings;         // loaded set only when every value converted
    std::string badValue;      // the text that failed to convert, when it did
    bool malformed = false;
};

class SettingsFile {
public:
    static constexpr const char* kFileName = "zrvterm.ini";
    static constexpr std::size_t kReadLimit = 255;
    static constexpr int32_t kDefaultMainWidth = 570;
    static constexpr int32_t kDefaultMainHeight = 650;

    // Parses the text as read (the caller has cut it at 255 bytes and at a
    // zero byte). A value that is not a decimal integer, or is missing, makes
    // the result malformed and leaves the defaults of a missing file.
    static SettingsParse parse(std::string_view text);

    // Reads at most 255 bytes from the file. A file that cannot be opened or
    // read gives the defaults, not loaded, and not malformed.
    static SettingsParse read(const std::string& path = kFileName);

    static std::string compose(const SettingsSnapshot& live);

    // Writes through a temporary file beside the target and a rename, so a
    // failure never leaves a truncated file. False when it could not write;
    // the old file then stays as it was, and `error` says why.
    static bool write(const std::string& text, const std::string& path = kFileName, std::string* error = nullptr);
};

// Where a child window starts, by the settings.
enum class ChildWindow { Select, Measure, Sets, FrontPanel };

struct ChildPlacement {
    int32_t left = 0;
    int32_t top = 0;
    bool minimized = false;
    // TSelect only: whether the stored port, address and modem flag apply.
    bool applyStoredChoices = false;
};

ChildPlacement placementFor(ChildWindow window, const Settings& settings);

}  // namespace zrv
