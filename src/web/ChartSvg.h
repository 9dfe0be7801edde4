#pragma once
// A chart over time as an SVG picture, drawn by the server: the browser shows
// it as an image (no script of ours or of anyone's runs in it), it needs no
// library, and what it draws is decided here, where it is tested. Each
// series carries its least and greatest value as drawn (`data-min`,
// `data-max`), so that a reader can check that no extreme was lost.

#include <QByteArray>
#include <QString>

#include <vector>

namespace zrv::web {

struct ChartPoint {
    qint64 ms;  // since the epoch
    double lo, hi;  // a bucket's least and greatest; equal for a single value
};

struct ChartSeries {
    QString name;    // for the legend, and the element's `data-series`
    QString colour;  // an SVG colour
    bool steps = false;  // a limit: held from one call to the next
    bool dashed = false;
    bool markers = false;  // a dot at each value: values from calls, far apart
    std::vector<ChartPoint> points;  // in time order; NaN values are gaps
};

struct Chart {
    QString title;
    QString unit;
    qint64 fromMs = 0, toMs = 0;
    std::vector<ChartSeries> series;
};

QByteArray chartSvg(const Chart& chart);

// Text for XML: &, <, >, " and ' as entities, control characters left out.
QString xmlText(const QString& text);

}  // namespace zrv::web
