#pragma once
// A round: every station of the roster (or, scheduled, those due, the most
// overdue first) queued on its port once; a failed call is tried again
// after a back-off that doubles, behind the port's other stations; the round
// ends once every call is stored, with its summary.

#include "collect/CollectorParts.h"

#include <QDateTime>

#include <map>
#include <string>
#include <vector>

namespace zrv::collect {

class RoundDriver : public CallDriver {
public:
    explicit RoundDriver(CollectorParts& parts, QObject* parent = nullptr);
    void start();
    bool over() const override;
    void end() override;
    // The last round's results, in roster order.
    const std::vector<CallResult>& results() const { return m_results; }
    // A station of the round failed (one not due, or another collector's,
    // did not).
    bool failed() const;

    bool lockRefused(Ports::Port& port, const QString& lockPath) override;
    void starting(const Ports::Port& port, const Station& station, int attempt) override;
    std::optional<qint64> ended(Ports::Port& port, CallResult& call, const Station& station) override;
    void portIdle() override { endIfOver(); }

private:
    std::vector<CallResult> m_results;
    std::vector<bool> m_haveResult;
    // Not due this round (scheduled rounds): when it is.
    std::map<std::size_t, QDateTime> m_notDue;
    // A shared roster's stations another collector calls: why.
    std::map<std::size_t, std::string> m_elsewhere;
};

}  // namespace zrv::collect
