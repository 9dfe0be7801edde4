#pragma once
// The six measurements against time since the connection, kept in memory for
// 24 hours at one sample a second (older samples make room), and thinned for
// drawing: per pixel column only the lowest and the highest value, so that a
// day of samples draws as fast as a few minutes.

#include <array>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

namespace zrv::diagnostics {

enum TrendSeries : int { kP1, kP2, kTg, kQi, kMq, kV, kTrendSeriesCount };

struct TrendPoint {
    double t;  // seconds since the connection
    double v;
};

class TrendStore {
public:
    static constexpr std::size_t kDefaultCapacity = 86400;  // 24 h at one a second
    explicit TrendStore(std::size_t capacity = kDefaultCapacity);

    // A sample at `t` seconds since the connection. Samples come in time
    // order; one earlier than the last is ignored (a clock that went back
    // must not fold the plot over itself).
    void append(double t, const std::array<float, kTrendSeriesCount>& values);
    void clear();

    std::size_t size() const { return m_size; }
    std::size_t capacity() const { return m_capacity; }
    double time(std::size_t i) const { return m_t[slot(i)]; }
    float value(int series, std::size_t i) const { return m_v[std::size_t(series)][slot(i)]; }
    double firstTime() const { return m_size ? time(0) : 0.0; }
    double lastTime() const { return m_size ? time(m_size - 1) : 0.0; }

    // The first sample at or after t.
    std::size_t lowerBound(double t) const;

    // "t, s;P1;P2;Tг;Qи;Mq;V" then one row per sample, semicolons and a
    // decimal comma, UTF-8 with a byte-order mark; `wallClock` gives each
    // row's local date and time from its t.
    std::string csv(const std::function<std::string(double t)>& wallClock = {}) const;

private:
    // No division: this runs for every sample of every redraw.
    std::size_t slot(std::size_t i) const
    {
        const std::size_t s = m_first + i;
        return s >= m_capacity ? s - m_capacity : s;
    }
    std::size_t m_capacity;
    std::size_t m_first = 0;
    std::size_t m_size = 0;
    std::vector<double> m_t;
    std::array<std::vector<float>, kTrendSeriesCount> m_v;
};

// One series thinned for drawing and kept up to date sample by sample: time
// is cut into columns `width` seconds wide at multiples of the width (not at
// the view's edge), each column keeping its lowest and highest sample. A view
// that follows the newest sample then only ever changes its last column and
// drops its first, so a new sample costs the same after a day as after a
// minute. The width comes from a ladder of steps (see widthFor), so that a
// span that grows ("всё") or a window that is resized a little keeps it.
class ThinnedSeries {
public:
    // The narrowest width on the ladder (2^(k/4) seconds) that puts [t0, t1]
    // into at most `columns` columns.
    static double widthFor(double t0, double t1, int columns);

    // The columns of [t0, t1] (and one on each side, so that the line runs
    // to the edges) from what the store holds.
    void rebuild(const TrendStore& store, int series, double t0, double t1, double width);
    void clear() { m_columns.clear(); }
    double width() const { return m_width; }
    // A sample newer than any held; true when the picture changed (a new
    // column, or a new lowest or highest in the last). Not a finite number:
    // nothing.
    bool add(double t, float v);
    // Drops the columns wholly before t, keeping one for the line's left
    // end; true when any went.
    bool dropBefore(double t);
    // The points in time order: per column its lowest and highest, in the
    // order they came (one when they are the same sample).
    std::vector<TrendPoint> points() const;
    // The lowest and highest value among the points within [t0, t1];
    // nothing when there are none.
    bool range(double t0, double t1, double* lo, double* hi) const;
    std::size_t columns() const { return m_columns.size(); }

private:
    struct Column {
        long long index;
        TrendPoint lo, hi;
    };
    std::deque<Column> m_columns;
    double m_width = 1;
};

// The series' captions, as the measurement window names them.
const char* trendCaption(int series);

}  // namespace zrv::diagnostics
