#pragma once
// How the terminal draws values over time, in the trend window and a
// station's history alike: tight margins, square corners, the legend on the
// right in a small font, a time axis below and a value axis on the left.

#include <QString>

class QChart;
class QDateTimeAxis;
class QLineSeries;
class QValueAxis;

namespace zrv {

struct TimeChartAxes {
    QDateTimeAxis* time = nullptr;
    QValueAxis* value = nullptr;
};

// Styles the chart and gives it both axes; `timeFormat` as QDateTimeAxis
// has it, `unit` (if any) as the value axis' title.
TimeChartAxes styleTimeChart(QChart* chart, const QString& timeFormat, const QString& unit = QString());
// Adds a line drawn in the chart's style on both axes.
void addTimeLine(QChart* chart, const TimeChartAxes& axes, QLineSeries* line);

}  // namespace zrv
