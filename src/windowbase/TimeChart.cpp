#include "TimeChart.h"

#include <QChart>
#include <QDateTimeAxis>
#include <QLegend>
#include <QLineSeries>
#include <QValueAxis>

namespace zrv {

TimeChartAxes styleTimeChart(QChart* chart, const QString& timeFormat, const QString& unit)
{
    chart->setMargins(QMargins(2, 2, 2, 2));
    chart->setBackgroundRoundness(0);
    chart->legend()->setVisible(true);
    chart->legend()->setAlignment(Qt::AlignRight);
    QFont small = chart->legend()->font();
    small.setPointSizeF(7.5);
    chart->legend()->setFont(small);
    TimeChartAxes axes;
    axes.time = new QDateTimeAxis;
    axes.time->setFormat(timeFormat);
    axes.time->setTickCount(7);
    axes.time->setLabelsFont(small);
    axes.value = new QValueAxis;
    axes.value->setLabelFormat(QStringLiteral("%.4g"));
    axes.value->setLabelsFont(small);
    axes.value->setTickCount(3);
    if (!unit.isEmpty()) {
        axes.value->setTitleText(unit);
        axes.value->setTitleFont(small);
    }
    chart->addAxis(axes.time, Qt::AlignBottom);
    chart->addAxis(axes.value, Qt::AlignLeft);
    return axes;
}

void addTimeLine(QChart* chart, const TimeChartAxes& axes, QLineSeries* line)
{
    chart->addSeries(line);
    line->attachAxis(axes.time);
    line->attachAxis(axes.value);
}

}  // namespace zrv
