#pragma once
// A journal record's stamp as the store keeps it, written by the collector
// and read back by everything that reads the store.

#include "journal/JournalReading.h"
#include "journal/ReportBuilder.h"

#include <QString>

namespace zrv::fleet {

// The record's stamp as "yyyy-MM-ddTHH:mm:ss" (device local time); empty
// when the device wrote an impossible time or date.
QString stampIso(const journal::Stamp& s);
// The key's stamp words as "hhhh:hhhh:hhhh".
QString stampKey(const journal::RecordKey& k);

}  // namespace zrv::fleet
