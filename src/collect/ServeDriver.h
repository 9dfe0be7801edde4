#pragma once
// Serving: each station is called as it falls due, one call a port at a
// time, until stopped. Sharing a roster through the fleet table
// (FleetTable.h), the due stations are claimed there, so that no station is
// called by two collectors; with the table out of reach, the collector's own
// ports go on by its own schedule and a pool's stations wait. A failed
// station is due again after its back-off (see Schedule.h).

#include "collect/CollectorParts.h"
#include "collect/FleetTable.h"
#include "collect/SinkThread.h"

#include <QTimer>

#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace zrv::collect {

class ServeDriver : public CallDriver {
public:
    // `table`: the shared roster's (none: alone).
    ServeDriver(CollectorParts& parts, std::unique_ptr<FleetTable> table, QObject* parent = nullptr);
    ~ServeDriver() override;

    void start();
    // The roster was read again (it is in the parts already).
    void reload();
    bool over() const override;
    void end() override;
    void stop() override;

    bool shared() const { return m_fleet != nullptr; }
    bool online() const { return m_fleetOnline; }
    std::size_t leases() const { return m_leased.size(); }
    int callsDone() const { return m_callsDone; }
    int callsFailed() const { return m_callsFailed; }

    bool lockRefused(Ports::Port& port, const QString& lockPath) override;
    void starting(const Ports::Port& port, const Station& station, int attempt) override;
    std::optional<qint64> ended(Ports::Port& port, CallResult& call, const Station& station) override;
    void portIdle() override;

private:
    // What is due now goes to the free ports, claimed through the shared
    // table when there is one and it answers.
    void tick();
    void buildPorts();
    Ports::Port* freePortFor(const Station& station);
    void enqueue(Ports::Port& port, std::size_t station);
    void claim(const std::vector<Ports::Port*>& free, int room);
    void onClaimed(std::optional<std::vector<Claimed>> claimed, const std::string& why);
    void enrol(bool fresh);
    void heartbeat();
    void setOnline(bool online, const std::string& why);
    bool poolPort(const std::string& port) const;
    void release(std::vector<std::string> stations);

    QTimer m_tick;
    QTimer m_heartbeat;
    std::unique_ptr<SinkThread> m_fleet;
    int m_leaseS = 120;
    bool m_fleetOnline = false;
    bool m_claimInFlight = false;
    bool m_renewInFlight = false;
    bool m_enrolled = false;  // once: this process's first enrolment lets go of an earlier one's claims
    std::set<std::string> m_busy;  // queued or being called
    // Claimed through the table, not yet stored: each claim's number.
    std::map<std::string, long long> m_leased;
    qint64 m_lastReplayMs = 0;
    qint64 m_poolsFromMs = 0;  // after the table came back: when pools are claimed again
    double m_startedS = 0;
    int m_callsDone = 0, m_callsFailed = 0;
};

}  // namespace zrv::collect
