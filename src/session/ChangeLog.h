#pragma once
// changes.jsonl read back for people: the rows a table shows. The file is
// anyone's to edit or damage, so a line that is not a change is counted and
// passed over, never the reason the rest goes unseen.

#include <QString>

#include <vector>

namespace zrv {

struct ChangeRow {
    QString local, utc, user, host, port;
    unsigned device = 0;
    QString what;           // as written: "valve 3", "setpoints", ...
    QString before, after;  // compact JSON text
    QString outcome;
};

struct ChangeLog {
    std::vector<ChangeRow> rows;  // in file order, oldest first
    int unreadable = 0;           // lines that were not a change
    bool cutShort = false;        // only the newest part of a large file was read
    QString problem;              // the file could not be read at all (not: it is not there yet)
};

// Reads at most the newest `maxBytes` of the file.
ChangeLog readChangeLog(const QString& path, qint64 maxBytes = qint64(16) << 20);

// "valve 3" -> "клапан 3": what the record names, as an operator says it.
QString changeWhatText(const QString& what);

}  // namespace zrv
