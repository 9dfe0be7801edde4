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

double ThinnedSeries::widthFor(double t0, double t1, int columns)
{
    const double wanted = (t1 - t0) / std::max(1, columns);
    if (!(wanted > 0) || !std::isfinite(wanted)) return 1.0;
    // 2^(k/4): steps of about 19 %, the same for everyone at the same span.
    return std::exp2(std::ceil(std::log2(wanted) * 4.0) / 4.0);
}

void ThinnedSeries::rebuild(const TrendStore& store, int series, double t0, double t1, double width)
{
    m_columns.clear();
    m_width = width > 0 && std::isfinite(width) ? width : 1.0;
    if (series < 0 || series >= kTrendSeriesCount || store.size() == 0) return;
    // One column either side of the view, so that the line runs to its edges.
    const double from = (std::floor(t0 / m_width) - 1) * m_width;
    const double to = (std::floor(t1 / m_width) + 2) * m_width;
    for (std::size_t i = store.lowerBound(from); i < store.size() && store.time(i) < to; ++i)
        add(store.time(i), store.value(series, i));
}

bool ThinnedSeries::add(double t, float v)
{
    if (!std::isfinite(v) || !std::isfinite(t)) return false;
    const auto k = static_cast<long long>(std::floor(t / m_width));
    const TrendPoint p{t, double(v)};
    if (m_columns.empty() || k > m_columns.back().index) {
        m_columns.push_back({k, p, p});
        return true;
    }
    if (k < m_columns.back().index) return false;  // samples come in time order
    Column& c = m_columns.back();
    bool changed = false;
    if (p.v < c.lo.v) {
        c.lo = p;
        changed = true;
    }
    if (p.v > c.hi.v) {
        c.hi = p;
        changed = true;
    }
    return changed;
}

bool ThinnedSeries::dropBefore(double t)
{
    const auto k = static_cast<long long>(std::floor(t / m_width));
    bool dropped = false;
    while (m_columns.size() > 1 && m_columns[1].index < k) {
        m_columns.pop_front();
        dropped = true;
    }
    return dropped;
}

std::vector<TrendPoint> ThinnedSeries::points() const
{
    std::vector<TrendPoint> out;
    out.reserve(2 * m_columns.size());
    for (const Column& c : m_columns) {
        const bool same = c.lo.t == c.hi.t;
        const TrendPoint& first = c.lo.t <= c.hi.t ? c.lo : c.hi;
        const TrendPoint& second = c.lo.t <= c.hi.t ? c.hi : c.lo;
        out.push_back(first);
        if (!same) out.push_back(second);
    }
    return out;
}

bool ThinnedSeries::range(double t0, double t1, double* lo, double* hi) const
{
    bool any = false;
    for (const Column& c : m_columns)
        for (const TrendPoint* p : {&c.lo, &c.hi})
            if (p->t >= t0 && p->t <= t1) {
                *lo = any ? std::min(*lo, p->v) : p->v;
                *hi = any ? std::max(*hi, p->v) : p->v;
                any = true;
            }
    return any;
}

}  // namespace zrv::diagnostics
