#include "link/PortMap.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

using namespace zrv;
namespace fs = std::filesystem;

TEST(PortMap, DefaultTable)
{
    EXPECT_EQ(defaultPortDevice(1), "/dev/ttyS0");
    EXPECT_EQ(defaultPortDevice(16), "/dev/ttyS15");
    EXPECT_EQ(defaultPortDevice(17), "/dev/ttyUSB0");
    EXPECT_EQ(defaultPortDevice(24), "/dev/ttyUSB7");
    EXPECT_EQ(defaultPortDevice(25), "/dev/ttyACM0");
    EXPECT_EQ(defaultPortDevice(32), "/dev/ttyACM7");
    EXPECT_EQ(defaultPortDevice(0), "");
    EXPECT_EQ(defaultPortDevice(33), "");
}

TEST(PortMap, OnlyComOneToThirtyTwoAreNames)
{
    EXPECT_EQ(comNumberFromName("COM10"), 10);
    for (const char* bad : {"COM0", "COM33", "COM01", "com1", "COM", "COM1x", "/dev/ttyS0", "COM100", ""})
        EXPECT_FALSE(comNumberFromName(bad).has_value()) << bad;
    EXPECT_EQ(resolvePortName("LPT1"), "");
}

TEST(PortMap, PortsDirectoryEntryWins)
{
    const fs::path dir = fs::temp_directory_path() / ("zrvports-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    EXPECT_EQ(portsDirectory(), (dir / "zrvterm/ports").string());
    EXPECT_EQ(resolvePortName("COM10"), "/dev/ttyS9");

    fs::create_directories(dir / "zrvterm/ports");
    fs::create_symlink("/dev/null", dir / "zrvterm/ports/COM10");
    EXPECT_EQ(resolvePortName("COM10"), (dir / "zrvterm/ports/COM10").string());
    // A dangling link still names the port, so its open fails by that name.
    fs::create_symlink(dir / "nowhere", dir / "zrvterm/ports/COM3");
    EXPECT_EQ(resolvePortName("COM3"), (dir / "zrvterm/ports/COM3").string());
    EXPECT_EQ(resolvePortName("COM4"), "/dev/ttyS3");

    ::unsetenv("XDG_CONFIG_HOME");
    fs::remove_all(dir);
}

TEST(PortMap, TcpEntries)
{
    auto e = parseTcpEntry("tcp 192.168.1.50 4001\n");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->host, "192.168.1.50");
    EXPECT_EQ(e->port, "4001");
    e = parseTcpEntry("  tcp\tmoxa.local  502");
    ASSERT_TRUE(e);
    EXPECT_EQ(e->host, "moxa.local");
    std::string why;
    for (const char* bad : {"", "tcp", "tcp host", "udp host 502", "tcp host 0", "tcp host 65536", "tcp host 50x2",
                            "tcp host 502 extra", "tcp host -1", "tcp host 999999999999999999999"}) {
        why.clear();
        EXPECT_FALSE(parseTcpEntry(bad, &why)) << bad;
        EXPECT_FALSE(why.empty()) << bad;
    }
    EXPECT_FALSE(parseTcpEntry(std::string("tcp h\x01st 502")));
}
