#pragma once
// The collector's store opened for reading only, whichever engine holds it:
// an SQLite file, or PostgreSQL (reached as the collector reaches it, see
// StoreDatabase.h; a role that may only read is enough). The rows come as
// text, so a reader needs no Qt of its own.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zrv::fleet {

// A row's columns as text; nothing for NULL.
using StoreRow = std::vector<std::optional<std::string>>;

class StoreConnection {
public:
    virtual ~StoreConnection() = default;
    // A SELECT with ? for each parameter. False and why (in Russian) when it
    // failed; `busy`: a writer holds the store (the rows read before stay good).
    virtual bool select(const std::string& sql, const std::vector<std::string>& params,
                        const std::function<void(const StoreRow&)>& row, std::string* why, bool* busy = nullptr) = 0;
    // Whether the store has this table; nothing (and why) when it cannot say.
    virtual std::optional<bool> hasTable(const std::string& name, std::string* why, bool* busy = nullptr) = 0;
};

// "postgresql://..." or "postgres://...": PostgreSQL; anything else is the
// path of an SQLite file.
bool isPostgresSource(const std::string& source);
// The source as it may be shown: a password in a URL left out.
std::string shownSource(const std::string& source);

// A column as the store wrote it: a whole number (nothing for NULL or no
// such number), a number (NaN for NULL or no number), or its text.
std::optional<long long> storeInteger(const std::optional<std::string>& v);
double storeReal(const std::optional<std::string>& v);

// Nothing and why when the store cannot be opened.
std::unique_ptr<StoreConnection> openStoreForReading(const std::string& source, std::string* why, bool* busy = nullptr);

}  // namespace zrv::fleet
