#include "Schema.h"

namespace zrv::fleet {

const std::vector<std::vector<std::string>>& schemaSteps()
{
    // Each step brings the schema from version i to i + 1.
    static const std::vector<std::vector<std::string>> steps = {
        {
            "CREATE TABLE calls (call_id TEXT PRIMARY KEY, station TEXT NOT NULL, port TEXT, "
                "started_utc TEXT NOT NULL, seconds DOUBLE PRECISION, attempt INTEGER, outcome TEXT NOT NULL, "
                "why TEXT, device_number INTEGER, p1 DOUBLE PRECISION, p2 DOUBLE PRECISION, "
                "tg DOUBLE PRECISION, qi DOUBLE PRECISION, vbat DOUBLE PRECISION, clock_offset_s BIGINT, "
                "device_time TEXT, clock_set INTEGER, records_read INTEGER, setpoint_differences INTEGER, "
                "differing_registers TEXT, journal_cut_short INTEGER, tx_ok INTEGER, tx_failed INTEGER, "
                "tx_timeouts INTEGER, tx_crc_errors INTEGER, tx_exceptions INTEGER, tx_other INTEGER)",
            "CREATE INDEX calls_station ON calls (station, started_utc)",
            "CREATE TABLE journal (device_number INTEGER NOT NULL, start_address INTEGER NOT NULL, "
                "stamp TEXT NOT NULL, recorded_at TEXT, station TEXT, call_id TEXT, p1 DOUBLE PRECISION, "
                "p2 DOUBLE PRECISION, t DOUBLE PRECISION, q DOUBLE PRECISION, entries INTEGER, text TEXT, "
                "PRIMARY KEY (device_number, start_address, stamp))",
            "CREATE TABLE cursors (station TEXT NOT NULL, device_number INTEGER NOT NULL, "
                "keys TEXT NOT NULL, updated_utc TEXT, PRIMARY KEY (station, device_number))",
        },
        {
            // Where the newest record held ends, and the gaps that readings
            // cut short left (see JournalCursor.h); how many records of a
            // gap the ring wrote over first.
            "ALTER TABLE cursors ADD COLUMN journal_end INTEGER",
            "ALTER TABLE cursors ADD COLUMN gaps TEXT",
            "ALTER TABLE calls ADD COLUMN records_lost INTEGER",
        },
        {
            // What needs a visit (see Health.h): a row per finding from the
            // call that opened it to the one that cleared it, at most one
            // open of a kind per station; and what a station's history draws.
            "CREATE TABLE findings (finding_id TEXT PRIMARY KEY, station TEXT NOT NULL, kind TEXT NOT NULL, "
                "severity TEXT NOT NULL, since_utc TEXT NOT NULL, seen_utc TEXT NOT NULL, cleared_utc TEXT, "
                "opened_call TEXT, cleared_call TEXT, text TEXT, detail TEXT)",
            "CREATE UNIQUE INDEX findings_open ON findings (station, kind) WHERE cleared_utc IS NULL",
            "CREATE INDEX findings_station ON findings (station, seen_utc)",
            "CREATE INDEX journal_station ON journal (station, recorded_at)",
            "ALTER TABLE calls ADD COLUMN on_battery INTEGER",
            "ALTER TABLE calls ADD COLUMN p2_max DOUBLE PRECISION",
            "ALTER TABLE calls ADD COLUMN p2_min DOUBLE PRECISION",
            "ALTER TABLE calls ADD COLUMN p1_max DOUBLE PRECISION",
            "ALTER TABLE calls ADD COLUMN p1_min DOUBLE PRECISION",
        },
        {
            // The schedule each station keeps, moved by the transaction that
            // stores its call, and the claims of collectors that share a
            // roster (times in seconds since 1970, UTC); the collectors
            // themselves with their heartbeats; and who made each call.
            "CREATE TABLE fleet_stations (station TEXT PRIMARY KEY, pool TEXT, host TEXT, every_s INTEGER, "
                "next_due DOUBLE PRECISION, lease_holder TEXT, lease_until DOUBLE PRECISION, "
                "last_attempt DOUBLE PRECISION, last_success DOUBLE PRECISION, fails INTEGER NOT NULL DEFAULT 0, "
                "last_outcome TEXT, last_why TEXT, last_collector TEXT)",
            "CREATE INDEX fleet_stations_due ON fleet_stations (next_due)",
            "CREATE TABLE fleet_collectors (collector TEXT PRIMARY KEY, host TEXT, pid INTEGER, pools TEXT, "
                "version TEXT, started DOUBLE PRECISION, lease_s INTEGER, heartbeat DOUBLE PRECISION, stopped DOUBLE PRECISION)",
            "ALTER TABLE calls ADD COLUMN collector TEXT",
            // A record is its station's. Device numbers are sums of valve
            // weights, and identical regulators share one: keyed by the
            // device alone, a record another station's device wrote at the
            // same ring address and second was taken for one already stored,
            // and lost.
            "ALTER TABLE journal RENAME TO journal_v3",
            "DROP INDEX journal_station",
            "CREATE TABLE journal (device_number INTEGER NOT NULL, start_address INTEGER NOT NULL, "
                "stamp TEXT NOT NULL, recorded_at TEXT, station TEXT NOT NULL, call_id TEXT, p1 DOUBLE PRECISION, "
                "p2 DOUBLE PRECISION, t DOUBLE PRECISION, q DOUBLE PRECISION, entries INTEGER, text TEXT, "
                "CONSTRAINT journal_key PRIMARY KEY (station, device_number, start_address, stamp))",
            "INSERT INTO journal SELECT device_number, start_address, stamp, recorded_at, COALESCE(station, ''), call_id, "
                "p1, p2, t, q, entries, text FROM journal_v3",
            "DROP TABLE journal_v3",
            "CREATE INDEX journal_station ON journal (station, recorded_at)",
        },
        {
            // Each claim's own number, counted up by every claim of the
            // station: a call stored under a claim that has since been
            // taken over (its collector paused, or cut off from the table,
            // past its lease) keeps its rows but moves no schedule.
            "ALTER TABLE fleet_stations ADD COLUMN lease_token BIGINT",
            // What a claim picks by, so that it names no list of stations:
            // an own station's port, a station's hours (local minutes of the
            // day, [from, to)), and whether the roster still has it; with an
            // index for the pools' claims and one for the ports'.
            "ALTER TABLE fleet_stations ADD COLUMN port TEXT",
            "ALTER TABLE fleet_stations ADD COLUMN hours_from INTEGER",
            "ALTER TABLE fleet_stations ADD COLUMN hours_to INTEGER",
            "ALTER TABLE fleet_stations ADD COLUMN enrolled DOUBLE PRECISION",
            "ALTER TABLE fleet_stations ADD COLUMN retired INTEGER NOT NULL DEFAULT 0",
            "CREATE INDEX fleet_stations_pool ON fleet_stations (pool, next_due)",
            "CREATE INDEX fleet_stations_port ON fleet_stations (host, port, next_due)",
        },
    };
    return steps;
}

std::string newerSchemaText(long long version)
{
    return "схема базы версии " + std::to_string(version) + " новее этой программы (" + std::to_string(kSchemaVersion) +
           ")";
}

}  // namespace zrv::fleet
