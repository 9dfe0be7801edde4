#include "windowbase/SettingsFile.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <random>

using namespace zrv;
namespace fs = std::filesystem;

namespace {

SettingsSnapshot sample()
{
    SettingsSnapshot s;
    s.select = {8, 16, 0};
    s.measure = {216, 0, 0};
    s.sets = {0, 203, 1};
    s.frontPanel = {-12, 201, 2};
    s.modemEnable = true;
    s.comIndex = 9;
    s.addressIndex = 110;
    s.mainHeight = 700;
    s.mainWidth = 800;
    s.phoneNumber = "8(812)555-01-02";
    s.journalFileName = "/home/op/журнал 1.log";
    return s;
}

const std::string kSampleText =
    "Select: 8;16;0;\r\n"
    "Measure: 216;0;0;\r\n"
    "Sets: 0;203;1;\r\n"
    "Front_Panel: -12;201;2;\r\n"
    "Special: 0;0;0;\r\n"
    "ModemEnable: 1;\r\n"
    "COM: 9;\r\n"
    "Address: 110;\r\n"
    "MainHeight: 700;\r\n"
    "MainWidth: 800;\r\n"
    "PhoneNumber: 8(812)555-01-02;\r\n"
    "FileName: /home/op/журнал 1.log;\r\n";

class TempDir : public ::testing::Test {
protected:
    void SetUp() override
    {
        dir = fs::temp_directory_path() / ("zrvini-" + std::to_string(::getpid()) + "-" +
                                           ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        path = (dir / SettingsFile::kFileName).string();
    }
    void TearDown() override { fs::remove_all(dir); }
    void put(const std::string& bytes)
    {
        std::ofstream(path, std::ios::binary) << bytes;
    }
    fs::path dir;
    std::string path;
};

}  // namespace

TEST(SettingsCompose, ByteExactTwelveLines)
{
    EXPECT_EQ(SettingsFile::compose(sample()), kSampleText);
    SettingsSnapshot s;
    s.select = {8, 16, 0};
    const std::string text = SettingsFile::compose(s);
    EXPECT_EQ(text.substr(0, 17), "Select: 8;16;0;\r\n");
    const std::size_t special = text.find("Special: ");
    EXPECT_EQ(text.substr(special, 17), "Special: 0;0;0;\r\n");
    EXPECT_NE(text.find("PhoneNumber: ;\r\n"), std::string::npos);
}

TEST(SettingsParse, ReadsBackWhatWasWritten)
{
    const SettingsParse p = SettingsFile::parse(kSampleText.substr(0, 255));
    ASSERT_FALSE(p.malformed);
    ASSERT_TRUE(p.settings.loaded);
    const std::array<int32_t, 20> want{8, 16, 0, 216, 0, 0, 0, 203, 1, -12, 201, 2, 0, 0, 0, 1, 9, 110, 700, 800};
    EXPECT_EQ(p.settings.values, want);
    EXPECT_EQ(p.settings.phoneNumber, "8(812)555-01-02");
    EXPECT_EQ(p.settings.journalFileName, "/home/op/журнал 1.log");
}

TEST(SettingsParse, KeysAreNeverComparedButSeparatorsCount)
{
    std::string other = kSampleText;
    for (const char* key : {"Select", "Measure", "Front_Panel", "MainWidth", "PhoneNumber"}) {
        const std::size_t at = other.find(key);
        other.replace(at, std::string(key).size(), "Xyz");
    }
    const SettingsParse p = SettingsFile::parse(other);
    EXPECT_TRUE(p.settings.loaded);
    EXPECT_EQ(p.settings.values, SettingsFile::parse(kSampleText).settings.values);
    // Blanks before the digits are allowed.
    const SettingsParse blanks = SettingsFile::parse(
        "A:  1;   2; 3;\r\nB: 4;5;6;\r\nC: 7;8;9;\r\nD: 1;1;1;\r\nE: 0;0;0;\r\nF: 0;\r\nG: 0;\r\nH: 0;\r\n"
        "I: 600;\r\nJ: 500;\r\nK: ;\r\nL: x;\r\n");
    ASSERT_TRUE(blanks.settings.loaded);
    EXPECT_EQ(blanks.settings.values[0], 1);
    EXPECT_EQ(blanks.settings.values[1], 2);
}

TEST(SettingsParse, EmptyPhoneAndMissingSemicolonGiveEmptyTexts)
{
    SettingsSnapshot s = sample();
    s.phoneNumber.clear();
    EXPECT_EQ(SettingsFile::parse(SettingsFile::compose(s)).settings.phoneNumber, "");
    std::string noSemicolon = SettingsFile::compose(sample());
    noSemicolon.erase(noSemicolon.rfind(';'), 1);
    const SettingsParse p = SettingsFile::parse(noSemicolon);
    EXPECT_TRUE(p.settings.loaded);
    EXPECT_EQ(p.settings.journalFileName, "");
    EXPECT_EQ(p.settings.phoneNumber, "8(812)555-01-02");
}

TEST(SettingsParse, LinesWithoutCrLfStillParseByPosition)
{
    std::string flat = kSampleText;
    for (std::size_t at; (at = flat.find("\r\n")) != std::string::npos;) flat.replace(at, 2, " ");
    const SettingsParse p = SettingsFile::parse(flat);
    EXPECT_TRUE(p.settings.loaded);
    EXPECT_EQ(p.settings.values[19], 800);
}

struct BadValue {
    const char* name;
    std::string text;
    std::string bad;
};

class Malformed : public ::testing::TestWithParam<BadValue> {};

TEST_P(Malformed, GivesTheDefaultsAndNamesTheValue)
{
    const SettingsParse p = SettingsFile::parse(GetParam().text);
    EXPECT_TRUE(p.malformed);
    EXPECT_FALSE(p.settings.loaded);
    EXPECT_EQ(p.badValue, GetParam().bad);
    EXPECT_EQ(p.settings.values, (std::array<int32_t, 20>{}));
    EXPECT_TRUE(p.settings.phoneNumber.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Files, Malformed,
    ::testing::Values(BadValue{"Empty", "", ""},
                      BadValue{"Letters", "Select: 8;abc;0;\r\n", "abc"},
                      BadValue{"Huge", "Select: 8;99999999999;0;\r\n", "99999999999"},
                      BadValue{"Overflow", "Select: 2147483648;0;0;\r\n", "2147483648"},
                      BadValue{"TrailingBlank", "Select: 8 ;0;0;\r\n", "8 "},
                      BadValue{"EmptyValue", "Select: ;0;0;\r\n", ""},
                      BadValue{"NoSemicolons", "Select: 8 16 0\r\n", ""},
                      BadValue{"Binary", std::string("\x01\xff\x00\x7f: \x80;", 8), "\x80"}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(SettingsParse, NegativeAndExtremeNumbersThatFitAreKept)
{
    std::string t = kSampleText;
    t.replace(t.find("8;16"), 4, "-2147483648;2147483647");
    const SettingsParse p = SettingsFile::parse(t);
    ASSERT_TRUE(p.settings.loaded);
    EXPECT_EQ(p.settings.values[0], INT32_MIN);
    EXPECT_EQ(p.settings.values[1], INT32_MAX);
}

TEST(SettingsParse, EveryTruncationIsHandled)
{
    for (std::size_t n = 0; n <= kSampleText.size(); ++n) {
        const SettingsParse p = SettingsFile::parse(std::string_view(kSampleText).substr(0, n));
        EXPECT_NE(p.malformed, p.settings.loaded) << n;
    }
    std::mt19937 rng(11);
    for (int i = 0; i < 2000; ++i) {
        std::string junk(rng() % 300, '\0');
        for (auto& c : junk) c = char(rng() % 4 ? "0123456789;: -\r\n"[rng() % 16] : rng());
        const SettingsParse p = SettingsFile::parse(junk);
        EXPECT_NE(p.malformed, p.settings.loaded);
    }
}

TEST_F(TempDir, WriteAndReadRoundTrip)
{
    ASSERT_TRUE(SettingsFile::write(SettingsFile::compose(sample()), path));
    std::ifstream in(path, std::ios::binary);
    const std::string bytes((std::istreambuf_iterator<char>(in)), {});
    EXPECT_EQ(bytes, kSampleText);
    const SettingsParse p = SettingsFile::read(path);
    EXPECT_TRUE(p.settings.loaded);
    EXPECT_EQ(p.settings.journalFileName, "/home/op/журнал 1.log");
    EXPECT_FALSE(fs::exists(path + ".tmp"));
}

TEST_F(TempDir, OnlyTheFirst255BytesAreRead)
{
    SettingsSnapshot s = sample();
    s.journalFileName = "/" + std::string(300, 'a') + ".log";
    put(SettingsFile::compose(s));
    const SettingsParse cut = SettingsFile::read(path);
    EXPECT_TRUE(cut.settings.loaded);
    EXPECT_EQ(cut.settings.journalFileName, "");  // its semicolon lies beyond the cut

    s.journalFileName = "/data/" + std::string(20, 'b') + ".log";
    std::string text = SettingsFile::compose(s);
    ASSERT_LT(text.size(), 255u);
    put(text + std::string(300, 'x'));
    EXPECT_EQ(SettingsFile::read(path).settings.journalFileName, s.journalFileName);
}

TEST_F(TempDir, ZeroByteEndsTheText)
{
    std::string text = kSampleText;
    text[text.find("PhoneNumber")] = '\0';
    put(text);
    const SettingsParse p = SettingsFile::read(path);
    EXPECT_TRUE(p.settings.loaded);
    EXPECT_EQ(p.settings.phoneNumber, "");
}

TEST_F(TempDir, MissingFileIsSilentDefaults)
{
    const SettingsParse p = SettingsFile::read(path);
    EXPECT_FALSE(p.settings.loaded);
    EXPECT_FALSE(p.malformed);
}

TEST_F(TempDir, FailedWriteKeepsTheOldFile)
{
    put(kSampleText);
    fs::create_directory(path + ".tmp");  // the temporary file cannot be made
    EXPECT_FALSE(SettingsFile::write("Select: 1;1;1;\r\n", path));
    std::ifstream in(path, std::ios::binary);
    EXPECT_EQ(std::string((std::istreambuf_iterator<char>(in)), {}), kSampleText);
    EXPECT_FALSE(SettingsFile::write("x", (dir / "no/such/dir/zrvterm.ini").string()));
}

TEST(Placement, DefaultsStoredAndMinimisedStates)
{
    Settings none;
    const ChildPlacement sel = placementFor(ChildWindow::Select, none);
    EXPECT_EQ(sel.left, 0);
    EXPECT_FALSE(sel.minimized);
    EXPECT_FALSE(sel.applyStoredChoices);
    EXPECT_EQ(placementFor(ChildWindow::Measure, none).left, 216);
    EXPECT_TRUE(placementFor(ChildWindow::Sets, none).minimized);
    EXPECT_EQ(placementFor(ChildWindow::Sets, none).top, 203);
    EXPECT_EQ(placementFor(ChildWindow::FrontPanel, none).top, 201);

    Settings s = SettingsFile::parse(kSampleText).settings;
    const ChildPlacement stored = placementFor(ChildWindow::Select, s);
    EXPECT_EQ(stored.left, 8);
    EXPECT_EQ(stored.top, 16);
    EXPECT_FALSE(stored.minimized);
    EXPECT_TRUE(stored.applyStoredChoices);
    // Sets was minimised (1), the control panel maximised (2): both restart
    // minimised at their defaults, and a minimised selection window forgets
    // its port and address.
    const ChildPlacement sets = placementFor(ChildWindow::Sets, s);
    EXPECT_TRUE(sets.minimized);
    EXPECT_EQ(sets.top, 203);
    const ChildPlacement panel = placementFor(ChildWindow::FrontPanel, s);
    EXPECT_TRUE(panel.minimized);
    EXPECT_EQ(panel.left, 215);
    s.values[2] = 1;
    const ChildPlacement minimisedSelect = placementFor(ChildWindow::Select, s);
    EXPECT_TRUE(minimisedSelect.minimized);
    EXPECT_EQ(minimisedSelect.left, 0);
    EXPECT_FALSE(minimisedSelect.applyStoredChoices);
}
