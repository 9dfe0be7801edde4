// The way from a station's port to a COM name, and a store that is not what
// it should be.

#include "fleet/FleetStatus.h"
#include "fleet/Schema.h"
#include "fleet/StoreReader.h"
#include "link/PortMap.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;
using namespace zrv::fleet;

namespace {

class FleetStatus : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/zrv-fleet-XXXXXX";
        m_dir = ::mkdtemp(pattern);
        ::setenv("XDG_CONFIG_HOME", m_dir.c_str(), 1);
        ports = fs::path(m_dir) / "zrvterm" / "ports";
    }
    void TearDown() override { fs::remove_all(m_dir); }
    std::string read(const fs::path& p)
    {
        std::ifstream in(p);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    std::string m_dir;
    fs::path ports;
};

TEST_F(FleetStatus, PortsFindTheirEntryOrGetANewOneUnderAFreeName)
{
    std::string why;
    // COMn stays itself, whatever the folder holds.
    EXPECT_EQ(preparePort("COM5", {}, std::nullopt, &why)->com, 5);
    EXPECT_FALSE(fs::exists(ports / "COM5"));

    // A device server gets a file under the highest name without an entry or
    // a device of its own; asked again, the same entry, none made.
    fs::create_directories(ports);
    std::ofstream(ports / "COM32") << "tcp 10.0.0.1 4001\n";
    const std::optional<PortChoice> first = preparePort("tcp 10.0.0.7 4002", {}, std::nullopt, &why);
    ASSERT_TRUE(first) << why;
    ASSERT_LT(first->com, 32);
    EXPECT_EQ(first->madeEntry, "tcp 10.0.0.7 4002");
    const fs::path made = ports / ("COM" + std::to_string(first->com));
    EXPECT_EQ(read(made), "tcp 10.0.0.7 4002\n");
    EXPECT_FALSE(zrv::defaultPortDevice(first->com).empty() && fs::exists(zrv::defaultPortDevice(first->com)));
    const std::optional<PortChoice> again = preparePort("tcp  10.0.0.7   4002", {}, std::nullopt, &why);
    ASSERT_TRUE(again);
    EXPECT_EQ(again->com, first->com);
    EXPECT_TRUE(again->madeEntry.empty());
    EXPECT_TRUE(stationOnCom("tcp 10.0.0.7 4002", first->com));
    EXPECT_FALSE(stationOnCom("tcp 10.0.0.7 4002", 32));
    EXPECT_TRUE(stationOnCom("tcp 10.0.0.1 4001", 32));

    // A device path: a link, found again by its target.
    const std::optional<PortChoice> link = preparePort("/dev/serial/by-id/usb-station-7", {}, std::nullopt, &why);
    ASSERT_TRUE(link) << why;
    EXPECT_EQ(fs::read_symlink(ports / ("COM" + std::to_string(link->com))), "/dev/serial/by-id/usb-station-7");
    EXPECT_EQ(preparePort("/dev/serial/by-id/usb-station-7", {}, std::nullopt, &why)->com, link->com);
    // A path COMn leads to by default needs no entry.
    EXPECT_TRUE(stationOnCom("/dev/ttyUSB0", 17));

    // Text that is no port is refused with the reason, and nothing is made.
    const auto before = std::distance(fs::directory_iterator(ports), fs::directory_iterator());
    EXPECT_FALSE(preparePort("tcp 10.0.0.7 99999", {}, std::nullopt, &why));
    EXPECT_NE(why.find("99999"), std::string::npos) << why;
    EXPECT_FALSE(preparePort("ttyS0", {}, std::nullopt, &why));
    EXPECT_EQ(std::distance(fs::directory_iterator(ports), fs::directory_iterator()), before);
}

TEST_F(FleetStatus, AStationsEntryNeverTakesARosterNameAndTheWindowKeepsOneOfItsOwn)
{
    std::string why;
    // The roster's own modem station is on COM32: a device server's entry
    // goes elsewhere, and an entry that leads to it under COM32 (left by an
    // older terminal) is not the way to it.
    fs::create_directories(ports);
    std::ofstream(ports / "COM32") << "tcp 127.0.0.1 4001\n";
    const std::set<int> reserved{32, 31};
    std::optional<PortChoice> a = preparePort("tcp 127.0.0.1 4001", reserved, std::nullopt, &why);
    ASSERT_TRUE(a) << why;
    EXPECT_LT(a->com, 31);
    EXPECT_EQ(a->madeEntry, "tcp 127.0.0.1 4001");
    EXPECT_EQ(read(ports / "COM32"), "tcp 127.0.0.1 4001\n") << "the operator's entry stays as it was";

    // Thirty stations chosen in turn: one entry of the window's own, made
    // over each time; the operator's entries untouched.
    OwnEntry own{a->com, a->madeEntry};
    for (int i = 0; i < 30; ++i) {
        const std::string port = "tcp 10.1.0." + std::to_string(i) + " 4001";
        const auto c = preparePort(port, reserved, own, &why);
        ASSERT_TRUE(c) << why;
        EXPECT_EQ(c->com, own.com);
        EXPECT_TRUE(stationOnCom(port, c->com));
        own = {c->com, c->madeEntry};
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(ports), fs::directory_iterator()), 2);
    // An entry the operator changed since is no longer the window's.
    std::ofstream(ports / ("COM" + std::to_string(own.com)), std::ios::trunc) << "tcp 10.9.9.9 1\n";
    removeOwnEntry(own);
    EXPECT_TRUE(fs::exists(ports / ("COM" + std::to_string(own.com))));
    const auto d = preparePort("/dev/serial/by-id/usb-x", reserved, own, &why);
    ASSERT_TRUE(d) << why;
    EXPECT_NE(d->com, own.com);
    removeOwnEntry({d->com, d->madeEntry});
    EXPECT_FALSE(fs::exists(ports / ("COM" + std::to_string(d->com))));
}

TEST_F(FleetStatus, AStoreThatIsNotTheCollectorsIsSaidSoAndAnOddRowIsBounded)
{
    std::string why;
    EXPECT_FALSE(readLastCalls(m_dir + "/none.db", &why));
    EXPECT_NE(why.find("none.db"), std::string::npos);
    std::ofstream(m_dir + "/text.db") << "this is not a database at all, just some text in a file\n";
    EXPECT_FALSE(readLastCalls(m_dir + "/text.db", &why));
    EXPECT_NE(why.find("text.db"), std::string::npos);

    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open((m_dir + "/other.db").c_str(), &db), SQLITE_OK);
    sqlite3_exec(db, "CREATE TABLE t (x)", nullptr, nullptr, nullptr);
    EXPECT_FALSE(readLastCalls(m_dir + "/other.db", &why));
    EXPECT_NE(why.find("не хранилище zrvcollect"), std::string::npos) << why;
    // Rows as someone's hand may leave them: a retry sharing its start with
    // the first try, numbers out of any range, text where numbers belong.
    sqlite3_exec(db,
                 "CREATE TABLE calls (station TEXT, started_utc TEXT, attempt INTEGER, outcome TEXT, why TEXT, "
                 "device_number INTEGER, clock_offset_s BIGINT, setpoint_differences INTEGER, records_read INTEGER);"
                 "INSERT INTO calls VALUES ('A', '2026-12-01T10:00:00Z', 1, 'no-device', 'тишина', 5, NULL, NULL, 0);"
                 "INSERT INTO calls VALUES ('A', '2026-12-01T10:00:00Z', 2, 'ok', NULL, 99999, -30, 'много', -4);"
                 "INSERT INTO calls VALUES ('A', '2026-11-30T10:00:00Z', 1, 'ok', NULL, 7, 0, 0, 1);"
                 "INSERT INTO calls VALUES ('B', '2026-12-01T09:00:00Z', 1, 'ok', NULL, 9, 2, 3, 12);",
                 nullptr, nullptr, nullptr);
    sqlite3_close(db);
    const auto calls = readLastCalls(m_dir + "/other.db", &why);
    ASSERT_TRUE(calls) << why;
    ASSERT_EQ(calls->size(), 2u);
    const LastCall& a = calls->at("A");
    EXPECT_EQ(a.attempt, 2);
    EXPECT_FALSE(a.failed());
    EXPECT_EQ(a.deviceNumber, 0u);
    EXPECT_EQ(a.clockOffsetS, -30);
    EXPECT_FALSE(a.setpointDifferences);
    EXPECT_EQ(a.recordsRead, 0);
    const LastCall& b = calls->at("B");
    EXPECT_TRUE(b.differs());
    EXPECT_EQ(b.recordsRead, 12);
    // The file was only read.
    EXPECT_FALSE(fs::exists(m_dir + "/other.db-journal"));

    // A newer collector's store is said so; a clock 2^63 off is unknown; a
    // store held by a writer is busy, not gone; the reasons are Russian.
    ASSERT_EQ(sqlite3_open((m_dir + "/other.db").c_str(), &db), SQLITE_OK);
    const std::string newerVersion = std::to_string(zrv::fleet::kSchemaVersion + 1);
    sqlite3_exec(db,
                 ("CREATE TABLE zrv_schema (version INTEGER); INSERT INTO zrv_schema VALUES (1), (" + newerVersion +
                  "); UPDATE calls SET clock_offset_s = 9223372036854775807 WHERE station = 'B';")
                     .c_str(),
                 nullptr, nullptr, nullptr);
    std::string remark;
    bool busy = true;
    const auto newer = readLastCalls(m_dir + "/other.db", &why, &busy, &remark);
    ASSERT_TRUE(newer) << why;
    EXPECT_FALSE(busy);
    EXPECT_NE(remark.find("версии " + newerVersion + " новее"), std::string::npos) << remark;
    EXPECT_FALSE(newer->at("B").clockOffsetS);
    ASSERT_EQ(sqlite3_exec(db, "BEGIN EXCLUSIVE; UPDATE calls SET why = 'x';", nullptr, nullptr, nullptr), SQLITE_OK);
    EXPECT_FALSE(readLastCalls(m_dir + "/other.db", &why, &busy));
    EXPECT_TRUE(busy);
    EXPECT_NE(why.find("занято"), std::string::npos) << why;
    sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(db);
    EXPECT_FALSE(readLastCalls(m_dir + "/text.db", &why, &busy));
    EXPECT_FALSE(busy);
    EXPECT_NE(why.find("не база данных SQLite"), std::string::npos) << why;
}

TEST_F(FleetStatus, AReaderOnlyReadsAndTakesEachValueAsTheEngineWroteIt)
{
    const std::string path = m_dir + "/values.db";
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(db,
                           "CREATE TABLE t (x REAL, n INTEGER, s TEXT);"
                           "INSERT INTO t VALUES (0.1, 9223372036854775807, 'Северная, \"1\"'), (5.0, -3, NULL)",
                           nullptr, nullptr, nullptr),
              SQLITE_OK);
    sqlite3_close(db);
    std::string why;
    const auto store = zrv::fleet::openStoreForReading(path, &why);
    ASSERT_TRUE(store) << why;
    std::vector<zrv::fleet::StoreRow> rows;
    const auto keep = [&](const zrv::fleet::StoreRow& r) { rows.push_back(r); };
    ASSERT_TRUE(store->select("SELECT x, n, s FROM t ORDER BY n DESC", {}, keep, &why)) << why;
    ASSERT_EQ(rows.size(), 2u);
    // A number reads back as the very double stored, the largest whole
    // number whole (never through a double), NULL as nothing.
    EXPECT_EQ(zrv::fleet::storeReal(rows[0][0]), 0.1);
    EXPECT_EQ(rows[0][1], "9223372036854775807");
    EXPECT_EQ(zrv::fleet::storeInteger(rows[0][1]), 9223372036854775807LL);
    EXPECT_EQ(rows[0][2], "Северная, \"1\"");
    EXPECT_EQ(zrv::fleet::storeReal(rows[1][0]), 5.0);
    EXPECT_FALSE(rows[1][2]);
    // A parameter is text, compared as the column's kind.
    rows.clear();
    ASSERT_TRUE(store->select("SELECT x FROM t WHERE n = ?", {"-3"}, keep, &why)) << why;
    ASSERT_EQ(rows.size(), 1u);
    // Whatever it is asked, a reader writes nothing.
    for (const char* sql : {"INSERT INTO t VALUES (1, 1, 'x')", "DELETE FROM t", "CREATE TABLE u (y)"}) {
        why.clear();
        EXPECT_FALSE(store->select(sql, {}, keep, &why)) << sql;
        EXPECT_FALSE(why.empty()) << sql;
    }
    rows.clear();
    ASSERT_TRUE(store->select("SELECT COUNT(*) FROM t", {}, keep, &why)) << why;
    EXPECT_EQ(rows.at(0)[0], "2");
    EXPECT_EQ(store->hasTable("u", &why), std::optional<bool>(false));
}

TEST_F(FleetStatus, TheRostersStoreIsItsFirstSqliteOneThenPostgresOrTheCollectorsDefault)
{
    Roster r;
    std::string why;
    ::setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(rosterStorePath(r, "/etc/zrvcollect/stations.toml", &why), "/srv/data/zrvcollect/zrv.db");
    r.stores = {"postgresql://zrv@db:5432/zrv", "sqlite:calls/zrv.db", "sqlite:/var/lib/zrv.db"};
    EXPECT_EQ(rosterStorePath(r, "/etc/zrvcollect/stations.toml", &why), "/etc/zrvcollect/calls/zrv.db");
    r.stores = {"mqtt://broker/zrv", "postgresql://zrv@db:5432/zrv"};
    EXPECT_EQ(rosterStorePath(r, "/etc/zrvcollect/stations.toml", &why), "postgresql://zrv@db:5432/zrv");
    r.stores = {"mqtt://broker/zrv"};
    EXPECT_EQ(rosterStorePath(r, "/etc/zrvcollect/stations.toml", &why), "");
    EXPECT_FALSE(why.empty());
}

}  // namespace
