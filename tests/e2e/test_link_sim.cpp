// ModbusTransact over a real pseudo-terminal against the simulated device.

#include "SimServer.h"
#include "link/ModbusTransact.h"
#include "link/PosixSerialLine.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <fstream>

using namespace zrv;
using namespace std::chrono_literals;

namespace {

class LinkSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        auto line = PosixSerialLine::open(sim.devicePath(), &error);
        ASSERT_TRUE(line) << error;
        ASSERT_TRUE(line->applyLineSettings());
        line->purge();
        line->raiseDtr();
        line->raiseRts();
        link.setPort(std::move(line));
    }
    RegisterImage img;
    ModbusLink link{img};
    zrvsim::SimServer sim;
};

}  // namespace

TEST_F(LinkSim, EveryFunctionTheTerminalUses)
{
    ASSERT_EQ(link.transact(3, 0, 1), kTransactOk);  // detection
    EXPECT_EQ(img.holding(0), 2);

    ASSERT_EQ(link.transact(1, 0, 16), kTransactOk);
    ASSERT_EQ(link.transact(2, 0, 24), kTransactOk);
    EXPECT_EQ(img.discrete(16), 1);  // mains
    ASSERT_EQ(link.transact(3, 0, 114), kTransactOk);
    EXPECT_EQ(img.holdingF32(62), 1.0f);  // Q1
    EXPECT_EQ(img.deviceNumber(), 127);
    ASSERT_EQ(link.transact(4, 0, 28), kTransactOk);
    EXPECT_NEAR(img.inputF32(10), 3.6f, 0.05f);  // battery voltage
    EXPECT_EQ(img.input(27), 512);                // empty journal

    ASSERT_EQ(link.transact(5, 15, 1), kTransactOk);
    ASSERT_EQ(link.transact(5, 2, 1), kTransactOk);
    ASSERT_EQ(link.transact(1, 0, 16), kTransactOk);
    EXPECT_EQ(img.coil(15), 1);
    EXPECT_EQ(img.coil(2), 1);

    img.setHolding(0, 1);
    img.setHoldingF32(32, 2.5f);
    ASSERT_EQ(link.transact(16, 0, 114), kTransactOk);
    EXPECT_EQ(sim.withDevice([](auto& d, auto&) { return d.holdings[0]; }), 1);
    img.setHolding(0, 0);
    img.setHoldingF32(32, 0.0f);
    ASSERT_EQ(link.transact(3, 0, 114), kTransactOk);
    EXPECT_EQ(img.holding(0), 1);
    EXPECT_EQ(img.holdingF32(32), 2.5f);

    ASSERT_EQ(link.transact(4, 512, 125), kTransactOk);
    EXPECT_EQ(link.transact(4, 512, 0), kTransactFailed);  // the device refuses a zero count

    const auto seen = sim.requests();
    ASSERT_EQ(seen.size(), 12u);
    EXPECT_EQ(seen[0].frame, (zrvsim::Frame{1, 3, 0, 0, 0, 1, 0x84, 0x0A}));
}

TEST_F(LinkSim, SilentDeviceCostsOneTimeoutAndOneFailure)
{
    sim.withDevice([](auto&, zrvsim::ModbusSlave& s) { return s.faults.silent = true; });
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_EQ(link.transact(3, 0, 1), kTransactFailed);
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 500ms);
    EXPECT_EQ(link.counters().failures.load(), 1);
}

TEST_F(LinkSim, StrayAndCorruptRepliesFailAndTheLineRecovers)
{
    sim.withDevice([](auto&, zrvsim::ModbusSlave& s) { return s.faults.strayByte = true; });
    EXPECT_EQ(link.transact(3, 0, 1), kTransactFailed);
    sim.withDevice([](auto&, zrvsim::ModbusSlave& s) {
        s.faults.strayByte = false;
        return s.faults.corruptCrc = true;
    });
    EXPECT_EQ(link.transact(3, 0, 1), kTransactFailed);
    sim.withDevice([](auto&, zrvsim::ModbusSlave& s) { return s.faults.corruptCrc = false; });
    EXPECT_EQ(link.transact(3, 0, 1), kTransactOk);
}

TEST_F(LinkSim, OtherSlaveAddressGetsNoAnswer)
{
    link.setSlaveAddress(5);
    EXPECT_EQ(link.transact(3, 0, 1), kTransactFailed);
    link.setSlaveAddress(1);
    EXPECT_EQ(link.transact(3, 0, 1), kTransactOk);
}

TEST(SimPortLink, TheUsersOwnLinkIsLeftAloneAndOnlyTheSimulatorsOwnIsRemoved)
{
    namespace fs = std::filesystem;
    const fs::path dir = fs::temp_directory_path() / ("zrvsimlink-" + std::to_string(::getpid()));
    fs::remove_all(dir);
    ::setenv("XDG_CONFIG_HOME", dir.c_str(), 1);
    const fs::path ports = dir / "zrvterm/ports", com3 = ports / "COM3";
    fs::create_directories(ports);
    zrvsim::SimOptions o;
    o.comNumber = 3;
    std::string error;

    // The user's adapter: refused, and the link stays as it was.
    fs::create_symlink("/dev/null", com3);
    {
        zrvsim::SimServer s(o);
        EXPECT_FALSE(s.start(&error));
        EXPECT_NE(error.find("already names /dev/null"), std::string::npos) << error;
    }
    EXPECT_EQ(fs::read_symlink(com3), "/dev/null");

    // A plain file of that name is no link to take either.
    fs::remove(com3);
    { std::ofstream(com3) << "tcp 127.0.0.1 4001\n"; }
    {
        zrvsim::SimServer s(o);
        EXPECT_FALSE(s.start(&error));
    }
    EXPECT_TRUE(fs::is_regular_file(com3));

    // A link a simulator that died left dangling is taken over, and removed
    // at the end as the simulator's own.
    fs::remove(com3);
    fs::create_symlink("/dev/pts/987654", com3);
    {
        zrvsim::SimServer s(o);
        ASSERT_TRUE(s.start(&error)) << error;
        EXPECT_EQ(fs::read_symlink(com3), s.devicePath());
    }
    std::error_code ec;
    EXPECT_FALSE(fs::exists(fs::symlink_status(com3, ec)));

    // Pointed elsewhere while it ran: no longer its own, so it stays.
    {
        zrvsim::SimServer s(o);
        ASSERT_TRUE(s.start(&error)) << error;
        fs::remove(com3);
        fs::create_symlink("/dev/null", com3);
    }
    EXPECT_EQ(fs::read_symlink(com3), "/dev/null");

    fs::remove_all(dir);
    ::unsetenv("XDG_CONFIG_HOME");
}
