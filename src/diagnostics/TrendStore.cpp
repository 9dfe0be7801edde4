#include "TrendStore.h"

#include "text/NumberText.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace zrv::diagnostics {

TrendStore::TrendStore(std::size_t capacity) : m_capacity(capacity ? capacity : 1)
{
    m_t.resize(m_capacity);
    for (auto& v : m_v) v.resize(m_capacity);
}

void TrendStore::append(double t, const std::array<float, kTrendSeriesCount>& values)
{
    if (!std::isfinite(t) || (m_size && t < lastTime())) return;
    std::size_t s;
    if (m_size < m_capacity) {
        s = slot(m_size);
        ++m_size;
    } else {
        s = m_first;
        m_first = (m_first + 1) % m_capacity;
    }
    m_t[s] = t;
    for (int k = 0; k < kTrendSeriesCount; ++k) m_v[std::size_t(k)][s] = values[std::size_t(k)];
}

void TrendStore::clear()
{
    m_first = 0;
    m_size = 0;
}

std::size_t TrendStore::lowerBound(double t) const
{
    std::size_t lo = 0, hi = m_size;
    while (lo < hi) {
        const std::size_t mid = lo + (hi - lo) / 2;
        if (time(mid) < t)
            lo = mid + 1;
        else
            hi = mid;
    }
    return lo;
}

std::vector<TrendPoint> TrendStore::decimate(int series, double t0, double t1, int columns) const
{
    std::vector<TrendPoint> out;
    if (series < 0 || series >= kTrendSeriesCount || m_size == 0 || !(t1 > t0) || columns <= 0) return out;
    const std::vector<float>& v = m_v[std::size_t(series)];
    std::size_t i = lowerBound(t0);
    const std::size_t end = lowerBound(std::nextafter(t1, INFINITY));
    const auto push = [&](std::size_t k) {
        const float y = v[slot(k)];
        if (std::isfinite(y)) out.push_back({time(k), double(y)});
    };
    if (i > 0) push(i - 1);
    const double width = (t1 - t0) / columns;
    while (i < end) {
        const int column = std::clamp(int((time(i) - t0) / width), 0, columns - 1);
        const double columnEnd = column == columns - 1 ? INFINITY : t0 + width * (column + 1);
        std::size_t lo = 0, hi = 0;
        bool any = false;
        // The first sample always belongs to this column, so that rounding
        // at a column's edge can never stall the loop.
        do {
            const float y = v[slot(i)];
            if (std::isfinite(y)) {
                if (!any) {
                    lo = hi = i;
                    any = true;
                } else {
                    if (y < v[slot(lo)]) lo = i;
                    if (y > v[slot(hi)]) hi = i;
                }
            }
            ++i;
        } while (i < end && time(i) < columnEnd);
        if (!any) continue;
        push(std::min(lo, hi));
        if (lo != hi) push(std::max(lo, hi));
    }
    if (end < m_size) push(end);
    return out;
}

std::string TrendStore::csv(const std::function<std::string(double)>& wallClock) const
{
    std::string out = "\xEF\xBB\xBF";
    out += wallClock ? "Время;" : "";
    out += "t, с;";
    for (int k = 0; k < kTrendSeriesCount; ++k) out += std::string(trendCaption(k)) + (k + 1 < kTrendSeriesCount ? ";" : "\r\n");
    char num[64];
    for (std::size_t i = 0; i < m_size; ++i) {
        if (wallClock) out += wallClock(time(i)) + ";";
        std::snprintf(num, sizeof num, "%.3f", time(i));
        out += text::withDecimalComma(num);
        for (int k = 0; k < kTrendSeriesCount; ++k) {
            std::snprintf(num, sizeof num, "%.7g", double(value(k, i)));
            out += ";";
            out += text::withDecimalComma(num);
        }
        out += "\r\n";
    }
    return out;
}

const char* trendCaption(int series)
{
    static const char* const captions[] = {"P1", "P2", "Tг", "Qи", "Mq", "V"};
    return series >= 0 && series < kTrendSeriesCount ? captions[series] : "";
}

}  // namespace zrv::diagnostics
