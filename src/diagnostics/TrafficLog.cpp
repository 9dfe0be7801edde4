#include "TrafficLog.h"

namespace zrv::diagnostics {

std::size_t TrafficLog::append(TrafficRow row)
{
    const std::size_t o = std::size_t(row.record.outcome);
    if (o < m_counts.size()) ++m_counts[o];
    m_rows.push_back(std::move(row));
    std::size_t dropped = 0;
    while (m_rows.size() > m_capacity) {
        m_rows.pop_front();
        ++dropped;
    }
    return dropped;
}

void TrafficLog::clear()
{
    m_rows.clear();
    m_counts.fill(0);
}

std::string TrafficLog::countsText() const
{
    std::string out;
    for (std::size_t o = 0; o < m_counts.size(); ++o) {
        if (m_counts[o] == 0 && o != 0) continue;
        if (!out.empty()) out += "   ";
        out += outcomeGroup(TransactOutcome(o)) + ": " + std::to_string(m_counts[o]);
    }
    return out;
}

}  // namespace zrv::diagnostics
