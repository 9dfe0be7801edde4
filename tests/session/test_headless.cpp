// A whole connection on a session with no window library in the program: the
// ground the collector stands on. Detection, a minute of polling, the
// setpoints read, edited, refreshed by a journal reading and written, the
// clock read and set, the new journal records, and the end of the
// connection, on the in-memory line in simulated time.

#include "link/ModbusFrame.h"
#include "session/Session.h"
#include "support/MemoryDevice.h"
#include "support/SessionProbe.h"
#include "support/Settle.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

namespace {

using zrv::Session;

TEST(Headless, AWholeConnectionWithoutWindows)
{
    zrvtest::MemoryDevice device;
    device.with([](zrvsim::DeviceModel& d, auto&, auto&) {
        d.holdMeasurements = true;
        d.setInputFloat(zrv::reg::kInP1, 3.25f);
        d.preloadJournal(40, 3);
        return 0;
    });
    Session session;
    session.setLineOpener(device.opener());
    zrv::SessionProbe::setPollsItself(session, false);

    int found = 0, polls = 0;
    float p1 = 0;
    std::vector<bool> transfers;
    zrv::journal::RecordKeys keys;
    QString summary;
    zrv::ClockReading clock;
    bool clockSet = false;
    QObject::connect(&session, &Session::polled, [&](const zrv::PollSnapshot& s) {
        ++polls;
        p1 = s.measurements.p1;
    });
    const auto readJournal = [&](const zrv::journal::Read& request) {
        QObject::connect(session.ask(request), &zrv::JournalReply::finished, [&](const zrv::JournalEnd& end) {
            keys = end.keys;
            summary = end.summary;
        });
    };

    QObject::connect(session.ask(zrv::Connect{"COM1", false}), &zrv::ConnectReply::found,
                     [&](const zrv::PollSnapshot& s) { found = s.deviceNumber; });
    settle(session);
    ASSERT_EQ(stateName(session.state()), "Monitoring");
    EXPECT_EQ(found, device.with([](zrvsim::DeviceModel& d, auto&, auto&) {
        int n = 0;
        for (int i = 0; i < 8; ++i) n += d.holdings[std::size_t(zrv::reg::kZrvFactor1 + i)] & 0xFF;
        return n & 0xFF;
    }));

    for (int i = 0; i < 60; ++i) {
        session.ask(zrv::Poll{});
        settle(session);
    }
    EXPECT_EQ(polls, 60);
    EXPECT_FLOAT_EQ(p1, 3.25f);

    // Setpoints: read, a typed TPA, then a journal reading refreshes every
    // table; the write still carries the typed value.
    QObject::connect(session.ask(zrv::setpoints::Read{}), &zrv::SetpointsReply::read,
                     [&](const std::optional<zrv::setpoints::SetpointSet>& set) { transfers.push_back(set.has_value()); });
    settle(session);
    ASSERT_EQ(session.setpointEdits().apply(3, -1, 3, "321").kind, zrv::setpoints::EditResult::Stored);
    readJournal(zrv::journal::Read{});
    settle(session);
    EXPECT_TRUE(summary.startsWith(QStringLiteral("Загружено 40 записей"))) << summary.toStdString();
    EXPECT_EQ(keys.size(), 40u);
    EXPECT_EQ(session.setpointEdits().view().holding(zrv::reg::kTPA), 321);
    QObject::connect(session.ask(zrv::setpoints::Write{}), &zrv::SetpointsReply::written,
                     [&](bool ok, const QString&) { transfers.push_back(ok); });
    settle(session);
    EXPECT_EQ(transfers, (std::vector<bool>{true, true}));
    EXPECT_EQ(device.with([](zrvsim::DeviceModel& d, auto&, auto&) { return d.holdings[zrv::reg::kTPA]; }), 321);
    EXPECT_FALSE(session.setpointEdits().pending());

    // The clock.
    QObject::connect(session.ask(zrv::clock::Read{true, true}), &zrv::ClockReply::read, [&](const zrv::ClockReading& r) { clock = r; });
    settle(session);
    EXPECT_TRUE(clock.hasTime && clock.hasDate);
    QObject::connect(session.ask(zrv::clock::Set{{10, 11, 12}, {2031, 5, 6}}), &zrv::CommandReply::done, [&](bool ok) { clockSet = ok; });
    settle(session);
    EXPECT_TRUE(clockSet);
    EXPECT_EQ(device.with([](zrvsim::DeviceModel& d, auto&, auto&) { return d.holdings[zrv::reg::kSetSec + 5]; }), 31);

    // Two records appended, after the two the device logged itself (the
    // setpoint write, the clock set): only these four are read.
    device.with([](zrvsim::DeviceModel& d, auto&, auto&) {
        for (int i = 0; i < 2; ++i) d.appendRecord(d.stampNow(), {{1, 0x0000, 7, 0}});
        return 0;
    });
    readJournal(zrv::journal::Read{keys});
    settle(session);
    EXPECT_TRUE(summary.startsWith(QStringLiteral("Загружено 4 записи"))) << summary.toStdString();
    EXPECT_TRUE(summary.endsWith(QStringLiteral(" (только новые записи)")));

    session.ask(zrv::Disconnect{});
    settle(session);
    EXPECT_EQ(stateName(session.state()), "Disconnected");
    EXPECT_FALSE(zrv::SessionProbe::portOpen(session));
    const auto frames = device.written();
    ASSERT_FALSE(frames.empty());
    EXPECT_EQ(zrvtest::Bytes(frames.back().begin(), frames.back().begin() + 6), (zrvtest::Bytes{1, 5, 0, 15, 0, 0}));
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
