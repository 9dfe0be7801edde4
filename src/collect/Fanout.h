#pragma once
// A call handed to every output at once, each on its own thread (see
// SinkThread.h), and settled once each has answered: the outputs that
// missed it get it in the spool, the journal cursors of those that keep
// them move only once the call is safe in every output. What each station's
// next call starts from (its cursors, its history) is read from the first
// output that keeps them, and kept here as calls end.

#include "collect/FleetTypes.h"
#include "collect/SinkThread.h"
#include "collect/Spool.h"

#include <QObject>

#include <cstdio>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace zrv::collect {

class Fanout : public QObject {
    Q_OBJECT
public:
    Fanout(std::vector<std::unique_ptr<SinkThread>> outputs, QString spoolPath, FILE* err, QObject* parent = nullptr);

    // Hands the call to every output; `settled` once each has answered.
    void store(const CallResult& call);
    // A call settled: in every output, or on disk in the spool for those
    // that missed it (everywhere false); or, when the spool could not be
    // written, neither (counted in unsaved()).
    std::function<void(const CallResult& call, bool everywhere)> settled;
    bool idle() const { return m_inFlight.empty(); }

    // Writes what the spool holds to the outputs that take it now. Only
    // between calls: it waits for each output.
    void replaySpool();
    // The cursors and history of these stations from the first output that
    // keeps them (nothing when none can be reached).
    void loadFromStore(const std::vector<std::string>& names);

    // Where each station's journal reading stands, by device, and what its
    // next call is judged against.
    std::map<unsigned, journal::JournalCursor>& cursors(const std::string& station) { return m_cursors[station]; }
    StationHistory& history(const std::string& station) { return m_history[station]; }
    const std::map<std::string, StationHistory>& histories() const { return m_history; }

    const std::vector<std::unique_ptr<SinkThread>>& outputs() const { return m_sinks; }
    const Spool& spool() const { return m_spool; }
    // Calls some output got neither written nor spooled.
    int unsaved() const { return m_unsaved; }
    void clearUnsaved() { m_unsaved = 0; }

private:
    struct InFlight {
        CallResult call;
        int waiting = 0;
        std::vector<SinkThread*> wrote;
        std::vector<std::pair<SinkThread*, std::string>> missed;
    };
    void written(const QString& callId, SinkThread* sink, bool ok, const SinkError& error);
    void settle(const QString& callId);

    std::vector<std::unique_ptr<SinkThread>> m_sinks;
    Spool m_spool;
    FILE* m_err;
    std::map<QString, InFlight> m_inFlight;
    // Read from this output when a round starts; moved when a call is safe
    // in every output.
    SinkThread* m_cursorSource = nullptr;
    std::map<std::string, std::map<unsigned, journal::JournalCursor>> m_cursors;
    std::map<std::string, StationHistory> m_history;
    int m_unsaved = 0;
};

}  // namespace zrv::collect
