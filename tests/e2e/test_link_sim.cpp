// ModbusTransact over a real pseudo-terminal against the simulated device.

#include "SimServer.h"
#include "link/ModbusTransact.h"
#include "link/PortMap.h"
#include "link/PosixSerialLine.h"
#include "link/TcpLine.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <filesystem>
#include <thread>
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
    ASSERT_TRUE(link.transact(3, 0, 1).ok());  // detection
    EXPECT_EQ(img.holding(0), 2);

    ASSERT_TRUE(link.transact(1, 0, 16).ok());
    ASSERT_TRUE(link.transact(2, 0, 24).ok());
    EXPECT_EQ(img.discrete(16), 1);  // mains
    ASSERT_TRUE(link.transact(3, 0, 114).ok());
    EXPECT_EQ(img.holdingF32(62), 1.0f);  // Q1
    EXPECT_EQ(img.deviceNumber(), 127);
    ASSERT_TRUE(link.transact(4, 0, 28).ok());
    EXPECT_NEAR(img.inputF32(10), 3.6f, 0.05f);  // battery voltage
    EXPECT_EQ(img.input(27), 512);                // empty journal

    ASSERT_TRUE(link.transact(5, 15, 1).ok());
    ASSERT_TRUE(link.transact(5, 2, 1).ok());
    ASSERT_TRUE(link.transact(1, 0, 16).ok());
    EXPECT_EQ(img.coil(15), 1);
    EXPECT_EQ(img.coil(2), 1);

    img.setHolding(0, 1);
    img.setHoldingF32(32, 2.5f);
    ASSERT_TRUE(link.transact(16, 0, 114).ok());
    EXPECT_EQ(sim.withDevice([](auto& d, auto&) { return d.holdings[0]; }), 1);
    img.setHolding(0, 0);
    img.setHoldingF32(32, 0.0f);
    ASSERT_TRUE(link.transact(3, 0, 114).ok());
    EXPECT_EQ(img.holding(0), 1);
    EXPECT_EQ(img.holdingF32(32), 2.5f);

    ASSERT_TRUE(link.transact(4, 512, 125).ok());
    EXPECT_FALSE(link.transact(4, 512, 0).ok());  // the device refuses a zero count

    const auto seen = sim.requests();
    ASSERT_EQ(seen.size(), 12u);
    EXPECT_EQ(seen[0].frame, (zrvsim::Frame{1, 3, 0, 0, 0, 1, 0x84, 0x0A}));
}

TEST_F(LinkSim, SilentDeviceCostsOneTimeoutAndOneFailure)
{
    sim.withDevice([](auto&, zrvsim::ModbusSlave& s) { return s.faults.silent = true; });
    const auto t0 = std::chrono::steady_clock::now();
    EXPECT_FALSE(link.transact(3, 0, 1).ok());
    EXPECT_GE(std::chrono::steady_clock::now() - t0, 500ms);
    EXPECT_EQ(link.counters().failures.load(), 1);
}

TEST_F(LinkSim, StrayAndCorruptRepliesFailAndTheLineRecovers)
{
    sim.withDevice([](auto&, zrvsim::ModbusSlave& s) { return s.faults.strayByte = true; });
    EXPECT_FALSE(link.transact(3, 0, 1).ok());
    sim.withDevice([](auto&, zrvsim::ModbusSlave& s) {
        s.faults.strayByte = false;
        return s.faults.corruptCrc = true;
    });
    EXPECT_FALSE(link.transact(3, 0, 1).ok());
    sim.withDevice([](auto&, zrvsim::ModbusSlave& s) { return s.faults.corruptCrc = false; });
    EXPECT_TRUE(link.transact(3, 0, 1).ok());
}

TEST_F(LinkSim, OtherSlaveAddressGetsNoAnswer)
{
    link.setSlaveAddress(5);
    EXPECT_FALSE(link.transact(3, 0, 1).ok());
    link.setSlaveAddress(1);
    EXPECT_TRUE(link.transact(3, 0, 1).ok());
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

namespace {

// The outcome of one transaction under each framing rule, the device
// misbehaving as `fault` says.
class FramingSim : public LinkSim, public ::testing::WithParamInterface<bool> {};

}  // namespace

TEST_P(FramingSim, FaultsEndTheSameWayUnderEitherRule)
{
    link.setFastFraming(GetParam());
    using O = TransactOutcome;
    const auto outcome = [&](auto fault, uint8_t function, uint16_t start, uint16_t count) {
        sim.withDevice([&](auto&, zrvsim::ModbusSlave& s) {
            s.faults = zrvsim::FaultPlan{};
            fault(s.faults);
            return 0;
        });
        return link.transact(function, start, count).outcome;
    };
    const auto none = [](zrvsim::FaultPlan&) {};
    EXPECT_EQ(outcome(none, 3, 0, 114), O::Ok);
    EXPECT_EQ(outcome([](zrvsim::FaultPlan& f) { f.strayByte = true; }, 3, 0, 1), O::Malformed);
    EXPECT_EQ(outcome([](zrvsim::FaultPlan& f) { f.corruptCrc = true; }, 4, 0, 28), O::CrcError);
    EXPECT_EQ(outcome([](zrvsim::FaultPlan& f) { f.extraDelay = 150ms; }, 3, 0, 1), O::Ok);
    EXPECT_EQ(outcome([](zrvsim::FaultPlan& f) { f.extraDelay = 650ms; }, 3, 0, 1), O::Timeout);
    std::this_thread::sleep_for(200ms);  // the late reply lands; the next request purges it
    EXPECT_EQ(outcome(none, 4, 512, 0), O::Exception);
    EXPECT_EQ(outcome(none, 5, 15, 0xFF00), O::Ok);
    EXPECT_EQ(outcome(none, 16, 0, 114), O::Ok);
    // After the late reply and the faults the line is clean again.
    EXPECT_EQ(outcome(none, 4, 0, 28), O::Ok);
    EXPECT_EQ(link.counters().failures.load(), 4);
}

INSTANTIATE_TEST_SUITE_P(SilenceAndLength, FramingSim, ::testing::Bool());

TEST(TcpLink, RtuFramesOverTcpAndTheServerGoingAway)
{
    zrvsim::SimOptions o;
    o.tcp = true;  // any free port
    zrvsim::SimServer sim(o);
    std::string error;
    ASSERT_TRUE(sim.start(&error)) << error;
    const std::string port = std::to_string(sim.tcpPort());

    RegisterImage img;
    ModbusLink link{img};
    auto line = TcpLine::connect("127.0.0.1", port, 2s, &error);
    ASSERT_TRUE(line) << error;
    line->purge();
    link.setPort(std::move(line));
    for (bool fast : {false, true}) {
        link.setFastFraming(fast);
        ASSERT_TRUE(link.transact(3, 0, 1).ok());
        ASSERT_TRUE(link.transact(4, 0, 28).ok());
        EXPECT_EQ(img.input(27), 512);
        ASSERT_TRUE(link.transact(5, 15, 0xFF00).ok());
    }
    ASSERT_EQ(sim.requests().size(), 6u);
    EXPECT_EQ(sim.requests()[0].frame, (zrvsim::Frame{1, 3, 0, 0, 0, 1, 0x84, 0x0A}));

    // The server goes away mid-session: the transactions fail as with a
    // silent device or a lost port, never hang, and never raise SIGPIPE.
    sim.stop();
    for (int i = 0; i < 3; ++i) {
        const TransactOutcome why = link.transact(3, 0, 1).outcome;
        EXPECT_NE(why, TransactOutcome::Ok);
        EXPECT_TRUE(why == TransactOutcome::Timeout || why == TransactOutcome::PortLost) << int(why);
    }
    EXPECT_EQ(link.counters().failures.load(), 3);

    // Nobody listens any more: the open is refused with a reason.
    EXPECT_FALSE(TcpLine::connect("127.0.0.1", port, 2s, &error));
    EXPECT_NE(error.find("127.0.0.1:" + port), std::string::npos) << error;
    EXPECT_FALSE(TcpLine::connect("no-such-host.invalid", "502", 2s, &error));
}

TEST(TcpLink, SimulatorWritesAndRemovesItsOwnEntryFile)
{
    namespace fs = std::filesystem;
    const fs::path dir = zrv::portsDirectory();
    fs::create_directories(dir);
    const fs::path com = dir / "COM29";
    fs::remove(com);
    {
        zrvsim::SimOptions o;
        o.tcp = true;
        o.comNumber = 29;
        zrvsim::SimServer sim(o);
        std::string error;
        ASSERT_TRUE(sim.start(&error)) << error;
        std::string text;
        ASSERT_TRUE(zrv::readPortEntryFile(com.string(), &text));
        const auto endpoint = zrv::parseTcpEntry(text);
        ASSERT_TRUE(endpoint);
        EXPECT_EQ(endpoint->host, "127.0.0.1");
        EXPECT_EQ(endpoint->port, std::to_string(sim.tcpPort()));
    }
    EXPECT_FALSE(fs::exists(com));
}
