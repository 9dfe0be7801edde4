#pragma once
// A call's result as one JSON object: the jsonl output, the MQTT payloads
// and the spool, which must read back what it wrote.

#include "collect/FleetTypes.h"

#include <QJsonObject>

#include <optional>

namespace zrv::collect {

QJsonObject callToJson(const CallResult& call);
// Nothing when the object is not a call as callToJson writes it, or holds
// what no call can hold (a record's year outside 2000..2255, a start time
// outside the collector's life, counts out of range): a damaged line.
std::optional<CallResult> callFromJson(const QJsonObject& o);

QJsonObject recordToJson(const journal::RecordData& r);

// A finding as MQTT, the spool and `--findings --format json` carry it.
QJsonObject findingToJson(const Finding& f);
std::optional<Finding> findingFromJson(const QJsonObject& o);

// InfluxDB line protocol: one "zrv_call" line for the call and one
// "zrv_journal" line per record, at the record's own time (the device's
// local time, placed in the host's time zone, which is the one its clock
// is set to). A record with an impossible stamp has no line.
// Fields that are not a finite number are left out (line protocol has no
// NaN), and so is a line whose time would not fit its nanoseconds.
QString callToInflux(const CallResult& call);

// The text with every control character (C0, DEL, C1) made U+FFFD, for
// outputs where a line break or an escape would split or garble a line:
// line protocol, topics, the summary table.
QString printable(QString text);

}  // namespace zrv::collect
