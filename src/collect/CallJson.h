#pragma once
// A call's result as one JSON object: the jsonl output, the MQTT payloads
// and the spool, which must read back what it wrote.

#include "collect/CallResult.h"

#include <QJsonObject>

#include <optional>

namespace zrv::collect {

QJsonObject callToJson(const CallResult& call);
// Nothing when the object is not a call as callToJson writes it.
std::optional<CallResult> callFromJson(const QJsonObject& o);

QJsonObject recordToJson(const journal::RecordData& r);

// The record's stamp as "yyyy-MM-ddTHH:mm:ss" (device local time); empty
// when the device wrote an impossible time or date.
QString stampIso(const journal::Stamp& s);
// The key's stamp words as "hhhh:hhhh:hhhh".
QString stampKey(const journal::RecordKey& k);

// InfluxDB line protocol: one "zrv_call" line for the call and one
// "zrv_journal" line per record, at the record's own time (the device's
// local time, placed in the host's time zone, which is the one its clock
// is set to). A record with an impossible stamp has no line.
QString callToInflux(const CallResult& call);

}  // namespace zrv::collect
