#pragma once
// The tables through which collectors on one roster share its stations, in
// the PostgreSQL they already store their calls in. A collector claims the
// due stations it may call in one short transaction (rows another is
// claiming are skipped, not waited for), holds each claim as a lease it
// renews while the call runs, and lets it go in the transaction that stores
// the call (see SqlStore::write). A collector that stops renewing loses its
// leases when they lapse, and the others take its stations. Times are the
// database's clock, so the collectors' own clocks need not agree.
//
// Used on a thread of its own (a SinkThread), like any store.

#include "collect/Store.h"

#include <QSqlQuery>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace zrv::collect {

struct Enrolment {
    std::string collector, host;
    long long pid = 0;
    std::vector<std::string> pools;
    double started = 0;  // seconds since 1970
    // A new process of this name: the claims an earlier one left are let go.
    bool fresh = false;
    struct Row {
        std::string station, pool, host;
        int everyS = 0;
        double nextDue = 0;  // for a station the table does not have yet
        std::string port;    // a station of a port of its own
        std::optional<std::pair<int, int>> window;  // the roster's hours
    };
    std::vector<Row> stations;
};

// Stations that one free port (or the free modems of one pool) may call,
// and how many of them to claim: a pool's, or this collector's own stations
// of a port, as the table knows them from the enrolments, within their hours
// at this local minute, less those named (being called here, or not yet due
// by this collector's own record).
struct ClaimGroup {
    std::string key;
    std::string pool;  // a pool's stations; empty: `port`'s own
    std::string port;
    int count = 1;
    int minute = 0;  // the local minute of the day
    std::vector<std::string> exclude;
};

struct Claimed {
    std::string group, station;
    // The claim's own number: the call made under it carries it into the
    // transaction that stores it (see SqlStore::write).
    long long token = 0;
    // Read in the claim's connection: what the store holds now, whichever
    // collector called the station last.
    std::map<unsigned, journal::JournalCursor> cursors;
    std::optional<StationHistory> history;
};

class FleetTable : public SqlStore {
public:
    FleetTable(StoreUrl url, std::string collector, int leaseS);
    // How long a statement on the shared database may take before it
    // counts as out of reach: for the table, and the store on the same
    // database.
    static std::chrono::milliseconds statementLimit(int leaseS);

    bool enrol(const Enrolment& enrolment, std::string* why);
    // The claimed stations, the longest due first; nothing and why when the
    // database cannot be reached. Only stations the enrolled roster has
    // (see enrol: stations it no longer names are retired).
    std::optional<std::vector<Claimed>> claim(const std::vector<ClaimGroup>& groups, std::string* why);
    // Its two halves: the one short transaction, then what the store holds
    // of each station claimed (cursors, history).
    std::optional<std::vector<Claimed>> claimTransaction(const std::vector<ClaimGroup>& groups, std::string* why);
    void readClaimed(std::vector<Claimed>& claimed);
    // The heartbeat, and the leases of the stations being called.
    bool renew(const std::vector<std::string>& calling, std::string* why);
    // Claims not called after all (the collector stops, or its port was
    // taken meanwhile).
    void release(const std::vector<std::string>& stations);
    // A clean stop: said in the collectors' table, every lease let go.
    void leave();
    void close() override;

private:
    bool claimGroup(const ClaimGroup& group, std::vector<Claimed>& out, std::string* why);
    bool run(const std::function<bool(QSqlQuery&)>& work, std::string* why);
    std::string m_collector;
    int m_leaseS;
    // The claim's two statements, prepared once a connection.
    std::unique_ptr<QSqlQuery> m_claimByPool, m_claimByPort;
};

}  // namespace zrv::collect
