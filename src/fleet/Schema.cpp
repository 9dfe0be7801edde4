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
    };
    return steps;
}

std::string newerSchemaText(long long version)
{
    return "схема базы версии " + std::to_string(version) + " новее этой программы (" + std::to_string(kSchemaVersion) +
           ")";
}

}  // namespace zrv::fleet
