#pragma once
// What the web console shows, read from the collector's store through the
// reader (read only, any engine) and handed over as JSON or CSV, ready to
// send. Each function runs on one of the server's workers, over that
// worker's own connection.

#include "fleet/Roster.h"
#include "fleet/StoreReader.h"

#include <QByteArray>
#include <QDateTime>

#include <optional>
#include <set>
#include <string>

namespace zrv::web {

// The fleet at one moment: the fleet page, the visit list, the collectors.
struct FleetSnapshot {
    QByteArray fleetJson;
    QByteArray visitsJson;
    QByteArray visitsCsv;
    QByteArray fleetGzip, visitsGzip;  // filled by whoever serves them
    std::set<std::string> stations;  // every station shown: the others are 404
    std::string remark;              // a newer schema, say
};

// Everything a station page asks for, bounded.
struct RangeLimits {
    int maxDays = 92;           // a chart's or a table's span
    int maxJournalRows = 5000;  // a table page; the CSV takes up to 100 000
    int maxCsvRows = 100'000;
    int maxCalls = 2000;
};

// What changes whenever a collector stores a call, asked every few seconds
// of a store that may hold years of calls, so it reads no table through:
// SQLite's newest row of calls; PostgreSQL's rows of calls inserted as the
// server counts them, and the stations' schedules.
std::optional<std::string> readGeneration(fleet::StoreConnection& db, bool postgres, std::string* why, bool* busy);

// The roster, when given, decides which stations are the fleet (with their
// lines); else every station the store has calls of.
std::optional<FleetSnapshot> readFleet(fleet::StoreConnection& db, const fleet::Roster* roster, const QDateTime& now,
                                       std::string* why, bool* busy);

// A station: its calls and findings over the last `days`, its setpoint
// differences, as JSON.
std::optional<QByteArray> readStation(fleet::StoreConnection& db, const std::string& station, int days,
                                      const RangeLimits& limits, std::string* why);

// The journal records of [from, to) (the device's local time, as stored),
// newest last, at most `rows`; JSON with "more" when there were more, or CSV.
enum class TableFormat { Json, Csv };
std::optional<QByteArray> readJournal(fleet::StoreConnection& db, const std::string& station, const QDateTime& from,
                                      const QDateTime& to, int rows, TableFormat format, std::string* why);

// A station's chart over the last `days` as an SVG picture (see ChartSvg.h):
// "pressure" (the journal's P1 and P2, thinned in the query to each bucket's
// least and greatest so that no extreme is lost, and the cut-off limits the
// calls read), "battery" or "clock" (from the calls).
std::optional<QByteArray> readChart(fleet::StoreConnection& db, const std::string& station, const std::string& series,
                                    int days, const QDateTime& now, std::string* why);

// gzip's own format (RFC 1952), as browsers take it; nothing when it fails.
QByteArray gzip(const QByteArray& data);

// A field of CSV, quoted when it must be; a text that a spreadsheet would
// take for a formula is led by an apostrophe.
QByteArray csvField(const QString& text);

}  // namespace zrv::web
