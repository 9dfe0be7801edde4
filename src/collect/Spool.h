#pragma once
// Calls a store could not take, kept in the state folder until a run that
// reaches it writes them. One JSON object a line: the store's URL and the
// call. The file is replaced whole, so a crash mid-way loses nothing.

#include "collect/FleetTypes.h"

#include <QString>

#include <optional>
#include <string>
#include <vector>

namespace zrv::collect {

class Spool {
public:
    explicit Spool(QString path) : m_path(std::move(path)) {}

    // Reads what is spooled; a damaged line is kept aside, never dropped
    // silently (the reason goes to `warning`).
    bool load(std::string* warning);
    void add(const QString& store, const CallResult& call);
    // The calls waiting for `store`, oldest first.
    std::vector<CallResult> waitingFor(const QString& store) const;
    // Takes back what add() put in for the call, when save() could not put
    // it on disk: the spool holds only what the file holds.
    void forget(const QString& callId);
    // Those of `store` written now.
    void written(const QString& store, const QString& callId);
    // Replaces the file, on disk (fsync) before it returns true.
    bool save(std::string* why) const;
    std::size_t size() const { return m_entries.size(); }
    const QString& path() const { return m_path; }

private:
    struct Entry {
        QString store;
        QString callId;
        QByteArray line;  // as it stands in the file
        std::optional<CallResult> call;
    };
    QString m_path;
    std::vector<Entry> m_entries;
};

}  // namespace zrv::collect
