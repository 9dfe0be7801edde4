#pragma once
// The traffic monitor's rows: the newest transactions, at most `capacity`,
// and how many of each outcome came since the last clear.

#include "TrafficText.h"

#include <array>
#include <cstddef>
#include <deque>
#include <string>

namespace zrv::diagnostics {

class TrafficLog {
public:
    static constexpr std::size_t kDefaultCapacity = 10000;
    explicit TrafficLog(std::size_t capacity = kDefaultCapacity) : m_capacity(capacity ? capacity : 1) {}

    // Appends a row; returns how many of the oldest rows went to make room.
    std::size_t append(TrafficRow row);
    void clear();
    // Drops the oldest row (its count stays).
    void dropOldest()
    {
        if (!m_rows.empty()) m_rows.pop_front();
    }

    std::size_t size() const { return m_rows.size(); }
    std::size_t capacity() const { return m_capacity; }
    const TrafficRow& at(std::size_t i) const { return m_rows[i]; }

    // Transactions of each outcome since the last clear, dropped rows
    // included.
    int count(TransactOutcome outcome) const { return m_counts[std::size_t(outcome)]; }
    // "OK: 120   нет ответа: 3   ошибка CRC: 1", outcomes never seen left out.
    std::string countsText() const;

private:
    std::size_t m_capacity;
    std::deque<TrafficRow> m_rows;
    std::array<int, 8> m_counts{};
};

}  // namespace zrv::diagnostics
