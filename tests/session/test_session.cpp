// The session on its own: one I/O thread, a queue that keeps transactions
// apart, one state, results handed back in order, typed outcomes, and a close
// that never overlaps a transaction. The device is the model behind the
// in-memory line, so silent-device retries cost no real time.

#include "journal/Readlog.h"
#include "journal/ReportBuilder.h"
#include "session/Session.h"
#include "support/MemoryDevice.h"
#include "support/SessionProbe.h"
#include "support/Settle.h"

#include <QCoreApplication>

#include <gtest/gtest.h>

#include <array>
#include <atomic>
#include <thread>
#include <memory>
#include <vector>

namespace {

using zrv::Session;
using zrv::TransactOutcome;
using zrvtest::Bytes;

// Function, start and count (or value) of a frame.
std::array<int, 3> fields(const Bytes& f) { return {f[1], (f[2] << 8) | f[3], (f[4] << 8) | f[5]}; }

class SessionTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        device.with([](zrvsim::DeviceModel& d, auto&, auto&) {
            d.holdMeasurements = true;
            d.valveDelay = std::chrono::milliseconds(0);
            return 0;
        });
        session = std::make_unique<Session>();
        session->setLineOpener(device.opener());
        // Polling is driven step by step.
        zrv::SessionProbe::setPollsItself(*session, false);
        QObject::connect(session.get(), &Session::stateChanged,
                         [this](const zrv::SessionState& s) { states.push_back(stateName(s)); });
        QObject::connect(session.get(), &Session::transaction,
                         [this](const zrv::TransactionRecord& r) { records.push_back(r); });
    }
    void TearDown() override { session.reset(); }

    void connect()
    {
        session->ask(zrv::Connect{"COM1", false});
        settle(*session);
        ASSERT_EQ(stateName(session->state()), "Monitoring");
        device.clearWritten();
        records.clear();
        states.clear();
    }
    void silence()
    {
        device.with([](auto&, zrvsim::ModbusSlave& s, auto&) { return s.faults.silent = true; });
    }

    zrvtest::MemoryDevice device;
    std::unique_ptr<Session> session;
    std::vector<QString> states;
    std::vector<zrv::TransactionRecord> records;
};

TEST_F(SessionTest, ConnectionGoesThroughDetectionToMonitoringAndEndsDisconnected)
{
    session->ask(zrv::Connect{"COM1", false});
    EXPECT_EQ(stateName(session->state()), "Detecting");  // at once, on the caller's thread
    settle(*session);
    EXPECT_EQ(states, (std::vector<QString>{"Detecting", "Monitoring"}));
    EXPECT_TRUE(zrv::SessionProbe::polling(*session));
    EXPECT_TRUE(zrv::SessionProbe::portOpen(*session));
    zrv::DisconnectReply* hangUp = session->ask(zrv::Disconnect{});
    EXPECT_EQ(stateName(session->state()), "HangingUp");
    EXPECT_FALSE(zrv::SessionProbe::polling(*session));
    // One end of a connection at a time: the second is refused on the spot.
    zrv::DisconnectReply* again = session->ask(zrv::Disconnect{});
    EXPECT_TRUE(again->refused());
    EXPECT_FALSE(hangUp->refused());
    bool closedWhenAnswered = false;
    QObject::connect(hangUp, &zrv::Reply::ended, [&] {
        closedWhenAnswered = hangUp->answered() && !zrv::SessionProbe::portOpen(*session) &&
                             session->state().connection == zrv::Connection::Disconnected;
    });
    settle(*session);
    EXPECT_TRUE(closedWhenAnswered);
    EXPECT_EQ(stateName(session->state()), "Disconnected");
    EXPECT_FALSE(zrv::SessionProbe::portOpen(*session));

    // Each connection's reply ends once, however the connection ends; the
    // state's step into Connected, told with the state before it, is the
    // device found, once for each connection that found it.
    std::vector<std::string> ends;
    int foundSteps = 0;
    QObject::connect(session.get(), &Session::stateChanged, [&](const zrv::SessionState& s, const zrv::SessionState& before) {
        if (zrv::deviceFound(s, before)) ++foundSteps;
    });
    const auto follow = [&](zrv::ConnectReply* r) {
        QObject::connect(r, &zrv::ConnectReply::modemReady, [&ends] { ends.push_back("modem ready"); });
        QObject::connect(r, &zrv::ConnectReply::found, [&ends](const zrv::PollSnapshot& d) {
            ends.push_back("found " + std::to_string(d.deviceNumber));
        });
        QObject::connect(r, &zrv::ConnectReply::failed, [&ends](zrv::Detection why, const QString& port) {
            ends.push_back("failed " + std::to_string(int(why)) + (port.isEmpty() ? "" : ": " + port.toStdString()));
        });
        QObject::connect(r, &zrv::Reply::ended, [&ends, r] { ends.push_back(r->answered() ? "ended" : "not made"); });
    };
    follow(session->ask(zrv::Connect{"COM1", false}));
    follow(session->ask(zrv::Connect{"COM1", false}));  // one is under way
    settle(*session);
    const unsigned number = zrv::snapshotOf(session->image()).deviceNumber;
    EXPECT_EQ(ends, (std::vector<std::string>{"not made", "found " + std::to_string(number), "ended"}));
    EXPECT_EQ(foundSteps, 1);
    session->ask(zrv::Disconnect{});
    settle(*session);
    ends.clear();
    silence();
    follow(session->ask(zrv::Connect{"COM1", false}));
    settle(*session);
    session->setLineOpener([](const std::string&, std::string* why) -> std::unique_ptr<zrv::SerialLine> {
        *why = "нет такого порта";
        return nullptr;
    });
    follow(session->ask(zrv::Connect{"COM9", false}));
    settle(*session);
    EXPECT_EQ(ends, (std::vector<std::string>{"failed " + std::to_string(int(zrv::Detection::NoDevice)), "ended",
                                              "failed " + std::to_string(int(zrv::Detection::PortUnavailable)) +
                                                  ": нет такого порта",
                                              "ended"}));
    EXPECT_EQ(foundSteps, 1);
    // Through a modem: the modem is ready for its number once the port is
    // open; the dial and the connection given up by the operator end
    // unanswered.
    ends.clear();
    session->setLineOpener(device.opener());
    follow(session->ask(zrv::Connect{"COM1", true}));
    settle(*session);
    ASSERT_EQ(stateName(session->state()), "Dialling");
    zrv::DialReply* dial = session->ask(zrv::modem::Dial{"5551234"});
    bool dialAnswered = true;
    QObject::connect(dial, &zrv::Reply::ended, [&] { dialAnswered = dial->answered(); });
    session->ask(zrv::Disconnect{});
    settle(*session);
    EXPECT_FALSE(dialAnswered);
    EXPECT_EQ(ends, (std::vector<std::string>{"modem ready", "not made"}));
    EXPECT_EQ(stateName(session->state()), "Disconnected");
}

TEST_F(SessionTest, PollingStepsNeverInterleaveWithCommandsAndTicksDoNotPileUp)
{
    connect();
    // The coil 15 write holds the line until everything below is queued, as
    // a slow line would.
    std::atomic<bool> queued{false};
    zrvtest::MemoryDevice* d = &device;
    device.setScript([&queued, d](const Bytes& f) {
        while (!queued) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return d->answer(f);
    });
    session->ask(zrv::ExternalControl{true});
    for (int i = 0; i < 10; ++i) session->ask(zrv::Poll{});  // ticks while a step is queued take its place
    session->ask(zrv::ToggleValve{3});
    session->ask(zrv::Poll{});
    session->ask(zrv::Step{true});
    queued = true;
    settle(*session);
    std::vector<std::array<int, 3>> seen;
    for (const Bytes& f : device.written()) seen.push_back(fields(f));
    const std::vector<std::array<int, 3>> step{{1, 0, 16}, {4, 0, 28}, {2, 0, 24}, {3, 96, 8}};
    // The coil 15 write, one whole step (with the mode read-back) for all
    // eleven ticks, since each came while that step still waited; then the
    // valve, then direction and strobe.
    ASSERT_EQ(seen.size(), 1u + 5u + 1u + 2u);
    EXPECT_EQ(seen[0], (std::array<int, 3>{5, 15, 0xFF00}));
    EXPECT_TRUE(std::equal(step.begin(), step.end(), seen.begin() + 1));
    EXPECT_EQ(seen[5], (std::array<int, 3>{3, 0, 1}));
    EXPECT_EQ(seen[6], (std::array<int, 3>{5, 2, 0}));  // valve 3 was open: it closes
    EXPECT_EQ(seen[7], (std::array<int, 3>{5, 8, 0xFF00}));
    EXPECT_EQ(seen[8][1], 9);
}

TEST_F(SessionTest, CommandsNeedExternalControlAndNothingElseRunning)
{
    connect();
    session->ask(zrv::ToggleValve{1});
    session->ask(zrv::Step{false});
    // A request the session cannot take still ends, unanswered, once the
    // asker has connected to it.
    std::vector<std::string> ends;
    const auto follow = [&](zrv::Reply* r, std::string name) {
        QObject::connect(r, &zrv::Reply::ended, [&ends, r, name] { ends.push_back(name + (r->answered() ? " answered" : " not made")); });
    };
    follow(session->ask(zrv::SetMode{1}), "mode");
    EXPECT_TRUE(ends.empty());
    settle(*session);
    EXPECT_TRUE(device.written().empty());
    session->ask(zrv::ExternalControl{true});
    // The read holds the line until everything below is asked.
    std::atomic<bool> release{false};
    zrvtest::MemoryDevice* d = &device;
    device.setScript([&release, d](const Bytes& f) {
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return d->answer(f);
    });
    follow(session->ask(zrv::setpoints::Read{}), "read");
    EXPECT_EQ(stateName(session->state()), "Busy");
    session->ask(zrv::ToggleValve{1});  // refused while the transfer runs
    follow(session->ask(zrv::journal::Read{}), "journal");
    // A clock read dropped for the one waiting ends unanswered; the one
    // waiting answers.
    zrv::ClockReply* waiting = session->ask(zrv::clock::Read{true, false});
    int readings = 0;
    QObject::connect(waiting, &zrv::ClockReply::read, [&] { ++readings; });
    follow(waiting, "clock");
    follow(session->ask(zrv::clock::Read{true, true}), "clock again");
    release = true;
    settle(*session);
    EXPECT_EQ(ends, (std::vector<std::string>{"mode not made", "journal not made", "clock again not made", "read answered",
                                              "clock answered"}));
    EXPECT_EQ(readings, 1);
    for (const Bytes& f : device.written()) EXPECT_NE(fields(f), (std::array<int, 3>{5, 0, 0xFF00}));
    EXPECT_EQ(stateName(session->state()), "ExternalControl");
}

TEST_F(SessionTest, StopDuringALongTransferEndsItAndNothingFollowsTheClose)
{
    connect();
    // A silent device; the first attempt waits on the line until Stop.
    std::atomic<bool> stopped{false}, onTheLine{false};
    device.setScript([&](const Bytes&) {
        onTheLine = true;
        while (!stopped) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return std::vector<zrvtest::Chunk>{};
    });
    bool readAnswered = false, ended = false;
    zrv::SetpointsReply* read = session->ask(zrv::setpoints::Read{});
    QObject::connect(read, &zrv::SetpointsReply::read, [&](const auto&) { readAnswered = true; });
    QObject::connect(read, &zrv::Reply::ended, [&] { ended = !read->answered(); });
    while (!onTheLine) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    session->ask(zrv::Disconnect{});
    stopped = true;
    settle(*session);
    EXPECT_EQ(stateName(session->state()), "Disconnected");
    EXPECT_FALSE(readAnswered);  // the operator ended it: no failure box
    EXPECT_TRUE(ended);          // but the request is over
    // One attempt of the 104, then the disconnection's coil write.
    const auto frames = device.written();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(fields(frames.front()), (std::array<int, 3>{3, 0, 114}));
    EXPECT_EQ(fields(frames.back()), (std::array<int, 3>{5, 15, 0}));
    EXPECT_FALSE(device.with([](auto&, auto&, zrvtest::MemoryLine& l) { return l.open; }));
}

TEST_F(SessionTest, ShutdownDropsQueuedWorkButStillEndsTheConnection)
{
    connect();
    // The first clock read hangs on the line until the close has sorted the
    // queue, so the close finds work queued behind a request in flight.
    std::atomic<bool> release{false}, onTheLine{false};
    zrvtest::MemoryDevice* d = &device;
    device.setScript([&release, &onTheLine, d](const Bytes& f) {
        onTheLine = true;
        while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        return d->answer(f);
    });
    session->ask(zrv::clock::Read{true, false});
    while (!onTheLine) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    session->ask(zrv::setpoints::Read{});
    session->ask(zrv::clock::Read{true, true});
    session->ask(zrv::Disconnect{});
    std::thread releaser([&] {
        while (zrv::SessionProbe::queued(*session) != 1) std::this_thread::sleep_for(std::chrono::milliseconds(1));
        release = true;  // only the disconnection is left
    });
    session->shutdown();  // the clock read in flight ends, the disconnection runs, nothing else
    releaser.join();
    const auto frames = device.written();
    ASSERT_EQ(frames.size(), 2u);
    EXPECT_EQ(fields(frames.front()), (std::array<int, 3>{4, 20, 6}));
    EXPECT_EQ(fields(frames.back()), (std::array<int, 3>{5, 15, 0}));
    EXPECT_FALSE(zrv::SessionProbe::portOpen(*session));
}

TEST_F(SessionTest, EveryTransactionIsTracedWithItsOutcome)
{
    connect();
    device.with([](auto&, zrvsim::ModbusSlave& s, auto&) { return s.faults.maxCoilRead = 8; });
    session->ask(zrv::Poll{});
    settle(*session);
    ASSERT_GE(records.size(), 4u);
    EXPECT_EQ(records[0].outcome, TransactOutcome::Exception);
    EXPECT_EQ(records[0].exceptionCode, 3);
    EXPECT_EQ(records[0].request.size(), 8u);
    EXPECT_EQ(records[0].reply.size(), 5u);
    EXPECT_EQ(records[1].outcome, TransactOutcome::Ok);
    EXPECT_EQ(records[1].reply.size(), 3u + 56u + 2u);
    EXPECT_EQ(records[1].function, 4);

    records.clear();
    device.with([](auto&, zrvsim::ModbusSlave& s, auto&) {
        s.faults.maxCoilRead = 16;
        return s.faults.corruptCrc = true;
    });
    session->ask(zrv::Poll{});
    settle(*session);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].outcome, TransactOutcome::CrcError);

    records.clear();
    device.with([](auto&, zrvsim::ModbusSlave& s, auto&) {
        s.faults.corruptCrc = false;
        return s.faults.silent = true;
    });
    session->ask(zrv::Poll{});
    settle(*session);
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(records[0].outcome, TransactOutcome::Timeout);
    EXPECT_TRUE(records[0].reply.empty());
    // The counters saw all of it.
    EXPECT_EQ(session->counters().failures.load(), 1 + 5 + int(records.size()));
}

TEST_F(SessionTest, JournalStopGivesCommandsBackAtOncePollingAtTheEnd)
{
    device.with([](zrvsim::DeviceModel& d, auto&, auto&) { return d.prepareJournalCase("block125"); });
    connect();
    QString summary;
    QObject::connect(session->ask(zrv::journal::Read{}), &zrv::JournalReply::finished,
                     [&](const zrv::JournalEnd& end) { summary = end.summary; });
    EXPECT_EQ(stateName(session->state()), "ReadingJournal");
    EXPECT_FALSE(zrv::SessionProbe::polling(*session));
    session->stop();
    EXPECT_EQ(stateName(session->state()), "Monitoring");
    EXPECT_FALSE(zrv::SessionProbe::polling(*session));  // not before the reader has let go of the line
    settle(*session);
    EXPECT_TRUE(zrv::SessionProbe::polling(*session));
    EXPECT_TRUE(summary.startsWith(QStringLiteral("Загружен")));
}

TEST_F(SessionTest, NewRecordsUpToTheFirstHeldKeysBeforeTheSummary)
{
    device.with([](zrvsim::DeviceModel& d, auto&, auto&) {
        d.preloadJournal(30, 4);
        return 0;
    });
    connect();
    std::vector<QString> order;
    zrv::journal::RecordKeys keys;
    unsigned deviceNumber = 0;
    const auto read = [&](const zrv::journal::Read& request) {
        QObject::connect(session->ask(request), &zrv::JournalReply::finished, [&](const zrv::JournalEnd& end) {
            order.push_back(end.newOnly ? "keys, new" : "keys");
            keys = end.keys;
            deviceNumber = end.deviceNumber;
            order.push_back(end.summary);
        });
    };
    read(zrv::journal::Read{});
    settle(*session);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], "keys");
    EXPECT_TRUE(order[1].startsWith(QStringLiteral("Загружено 30 записей")));
    EXPECT_EQ(keys.size(), 30u);
    EXPECT_EQ(deviceNumber, zrv::journal::reportDeviceNumber(session->image()));

    device.with([](zrvsim::DeviceModel& d, auto&, auto&) {
        for (int i = 0; i < 3; ++i) {
            zrvsim::JournalStamp s = d.stampNow();
            s.min = 50 + i;
            d.appendRecord(s, {{1, 0x0000, 7, 0}});
        }
        return 0;
    });
    order.clear();
    read(zrv::journal::Read{keys});
    EXPECT_EQ(stateName(session->state()), "ReadingJournal");
    // The fast rule may be chosen at any moment; it takes the next transaction.
    session->setOptions({1, true, {}});
    settle(*session);
    session->setOptions({1, false, {}});
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], "keys, new");
    EXPECT_TRUE(order[1].startsWith(QStringLiteral("Загружено 3 записи")));
    EXPECT_TRUE(order[1].endsWith(QStringLiteral(" (только новые записи)")));
    EXPECT_EQ(keys.size(), 3u);
    EXPECT_TRUE(zrv::SessionProbe::polling(*session));

    // No earlier report: the whole ring, as the full reading.
    order.clear();
    read(zrv::journal::Read{zrv::journal::RecordKeys{}});
    settle(*session);
    ASSERT_EQ(order.size(), 2u);
    EXPECT_EQ(order[0], "keys");
    EXPECT_TRUE(order[1].startsWith(QStringLiteral("Загружено 33 записи")));

    // The collector's reading (a call's script on the I/O thread) on a
    // device that falls silent before the tables come back: the cursor it
    // was given stays as it was.
    zrv::journal::JournalCursor given;
    given.keys = keys;
    given.end = 700;
    given.gaps.push_back({keys.back(), std::nullopt, std::nullopt, 21});
    std::optional<zrv::journal::CursorReading> reading;
    device.with([](auto&, zrvsim::ModbusSlave& s, auto&) { return s.faults.silent = true; });
    session->ask(zrv::RunCall{[&](zrv::CallLine& line) {
        zrv::TReadLog reader(line.link(), line.stopFlag(), {}, line.refreshHooks());
        reader.findNewest();
        reader.ExecuteFromCursor(given);
        reading = reader.cursorReading();
    }});
    settle(*session);
    ASSERT_TRUE(reading);
    EXPECT_TRUE(reading->cutShort);
    EXPECT_EQ(reading->after, given);
}

TEST_F(SessionTest, ADialledConnectionIsHungUpWithItsGuardTimes)
{
    zrvtest::MemoryDevice* d = &device;
    device.setScript([d](const Bytes& f) {
        const std::string text(f.begin(), f.end());
        if (text.rfind("ATDP", 0) == 0)
            return std::vector<zrvtest::Chunk>{{std::chrono::milliseconds(0), Bytes{'C', 'O', 'N', 'N', 'E', 'C', 'T', '\r'}}};
        if (text == "+++" || text.rfind("ath0", 0) == 0) return std::vector<zrvtest::Chunk>{};
        return d->answer(f);
    });
    QStringList statuses;
    session->ask(zrv::Connect{"COM1", true});
    settle(*session);
    EXPECT_EQ(stateName(session->state()), "Dialling");
    session->ask(zrv::modem::Dial{"123"});
    for (int i = 0; i < 5 && stateName(session->state()) == QLatin1String("Dialling"); ++i) {
        session->ask(zrv::modem::Tick{});
        settle(*session);
    }
    ASSERT_EQ(stateName(session->state()), "Monitoring");
    QObject::connect(session->ask(zrv::Disconnect{}), &zrv::DisconnectReply::status, [&](const QString& s) { statuses << s; });
    settle(*session);
    const auto pauses = device.with([](auto&, auto&, zrvtest::MemoryLine& l) { return l.pauses; });
    EXPECT_EQ(pauses, (std::vector<std::chrono::milliseconds>(3, std::chrono::milliseconds(3500))));
    EXPECT_EQ(statuses, (QStringList{"Разрываю соединение...", "Усторйство не обнаружено"}));
    EXPECT_FALSE(session->modemTimer()->isActive());
    const auto frames = device.written();
    EXPECT_EQ(std::string(frames.back().begin(), frames.back().end()), "ath0\r\n");
}

}  // namespace

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
