#pragma once
// A store of the collector's own schema (made by its SqlStore, as the
// collector would), opened raw for a benchmark to fill fast in one
// transaction. nullptr, and said on stderr, when it cannot be made.

#include "collect/Store.h"

#include <QString>

#include <sqlite3.h>

#include <cstdio>

inline sqlite3* beginBenchStore(const QString& path, const char* program)
{
    {
        std::string why;
        zrv::collect::SqlStore store(*zrv::collect::parseStoreUrl("sqlite:" + path, &why));
        zrv::collect::SinkError error;
        if (!store.open(&error)) {
            std::fprintf(stderr, "%s: %s\n", program, error.why.c_str());
            return nullptr;
        }
    }
    sqlite3* raw = nullptr;
    if (sqlite3_open(path.toUtf8().constData(), &raw) != SQLITE_OK) {
        std::fprintf(stderr, "%s: %s\n", program, raw ? sqlite3_errmsg(raw) : "out of memory");
        sqlite3_close(raw);
        return nullptr;
    }
    sqlite3_exec(raw, "BEGIN", nullptr, nullptr, nullptr);
    return raw;
}
