#include "History_form.h"

#include "windowbase/TimeChart.h"

#include "fleet/FleetStatus.h"
#include "fleet/StoreReader.h"
#include "stations/ui/ReadAside.h"

#include <QDateTimeAxis>
#include <QHBoxLayout>
#include <QValueAxis>
#include <QVBoxLayout>

#include <cmath>

namespace {

constexpr int kDays[] = {7, 30, 90};

struct Drawn {
    QString why;  // empty: read
    qint64 t0 = 0, t1 = 0;
    QList<QPointF> p1, p2, p2Max, p2Min, p1Max, p1Min, vbat, clock;
    int records = 0, calls = 0;
};

QChart* makeChart(QChartView* view, const QString& unit, std::initializer_list<std::pair<QLineSeries*, QColor>> series,
                  QDateTimeAxis** time)
{
    QChart* chart = view->chart();
    const zrv::TimeChartAxes axes = zrv::styleTimeChart(chart, QStringLiteral("dd.MM hh:mm"), unit);
    for (auto [line, colour] : series) {
        QPen pen(colour, 1);
        if (line->name().contains(QLatin1String("max")) || line->name().contains(QLatin1String("min")))
            pen.setStyle(Qt::DashLine);
        line->setPen(pen);
        zrv::addTimeLine(chart, axes, line);
    }
    *time = axes.time;
    return chart;
}

QLineSeries* series(const QString& name)
{
    auto* s = new QLineSeries;
    s->setName(name);
    s->setUseOpenGL(false);
    return s;
}

// The value axis around what is drawn, with a little room; a chart with
// nothing keeps its last range.
void fitValues(QChart* chart)
{
    double lo = INFINITY, hi = -INFINITY;
    for (QAbstractSeries* a : chart->series())
        for (const QPointF& p : static_cast<QLineSeries*>(a)->points()) lo = std::min(lo, p.y()), hi = std::max(hi, p.y());
    if (!(lo <= hi)) return;
    const double pad = hi > lo ? (hi - lo) * 0.08 : std::max(0.5, std::fabs(hi) * 0.05);
    for (QAbstractAxis* axis : chart->axes(Qt::Vertical)) static_cast<QValueAxis*>(axis)->setRange(lo - pad, hi + pad);
}

}  // namespace

QList<QPointF> TStationHistory::thinned(const std::vector<QPointF>& points, qint64 t0, qint64 t1, int columns)
{
    QList<QPointF> out;
    if (points.empty() || t1 <= t0 || columns <= 0) return out;
    const double width = double(t1 - t0) / columns;
    std::size_t i = 0;
    while (i < points.size()) {
        const long column = std::lround(std::floor((points[i].x() - double(t0)) / width));
        std::size_t lo = i, hi = i;
        std::size_t j = i + 1;
        for (; j < points.size() && std::lround(std::floor((points[j].x() - double(t0)) / width)) == column; ++j) {
            if (points[j].y() < points[lo].y()) lo = j;
            if (points[j].y() > points[hi].y()) hi = j;
        }
        // In the order they came, so the line does not fold back.
        out.append(points[std::min(lo, hi)]);
        if (lo != hi) out.append(points[std::max(lo, hi)]);
        i = j;
    }
    return out;
}

TStationHistory::TStationHistory(QMdiArea* area)
    : TChildForm(area, QStringLiteral("История станции"), "History_form", true)
{
    QWidget* client = content();
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(2);
    auto* bar = new QHBoxLayout;
    auto* spanCaption = new QLabel(QStringLiteral("Интервал:"), client);
    Span = new QComboBox(client);
    Span->setObjectName("Span");
    Span->addItems({QStringLiteral("7 дней"), QStringLiteral("30 дней"), QStringLiteral("90 дней")});
    Span->setCurrentIndex(1);
    spanCaption->setBuddy(Span);
    State = new QLabel(client);
    State->setObjectName("State");
    State->setAccessibleDescription(QStringLiteral("История станции"));
    State->setWordWrap(true);
    bar->addWidget(spanCaption);
    bar->addWidget(Span);
    bar->addWidget(State, 1);
    layout->addLayout(bar);

    P1 = series(QStringLiteral("P1"));
    P2 = series(QStringLiteral("P2"));
    P2Max = series(QStringLiteral("P2 max"));
    P2Min = series(QStringLiteral("P2 min"));
    P1Max = series(QStringLiteral("P1 max"));
    P1Min = series(QStringLiteral("P1 min"));
    Vbat = series(QStringLiteral("Vbat"));
    ClockOffset = series(QStringLiteral("Часы"));
    const auto view = [&](const QString& name) {
        auto* v = new QChartView(new QChart, client);
        v->setRenderHint(QPainter::Antialiasing, false);
        v->setAccessibleName(name);
        v->setMinimumHeight(90);
        return v;
    };
    Pressures = view(QStringLiteral("График P1, P2 и пределов отсечки"));
    Battery = view(QStringLiteral("График напряжения батареи"));
    Clock = view(QStringLiteral("График расхождения часов"));
    QDateTimeAxis* unused = nullptr;
    makeChart(Pressures, QStringLiteral("кгс/см²"),
              {{P1, QColor(0, 90, 200)}, {P2, QColor(200, 60, 0)}, {P2Max, QColor(200, 60, 0)}, {P2Min, QColor(200, 60, 0)},
               {P1Max, QColor(0, 90, 200)}, {P1Min, QColor(0, 90, 200)}},
              &unused);
    makeChart(Battery, QStringLiteral("В"), {{Vbat, QColor(80, 80, 80)}}, &unused);
    makeChart(Clock, QStringLiteral("с"), {{ClockOffset, QColor(120, 60, 160)}}, &unused);
    layout->addWidget(Pressures, 2);
    layout->addWidget(Battery, 1);
    layout->addWidget(Clock, 1);
    connect(Span, &QComboBox::currentIndexChanged, this, &TStationHistory::reload);
    setAsideAsTool({760, 520}, {40, 40});
}

void TStationHistory::showStation(const QString& station, const std::string& source)
{
    m_station = station;
    m_source = source;
    setWindowTitle(QStringLiteral("История станции: %1").arg(station));
    reload();
}

void TStationHistory::reload()
{
    const unsigned generation = ++m_generation;
    if (m_source.empty()) {
        State->setText(QStringLiteral("Хранилище вызовов не известно: откройте список станций."));
        emit drawn();
        return;
    }
    const int days = kDays[std::clamp(Span->currentIndex(), 0, 2)];
    State->setText(QStringLiteral("Чтение %1 за %2 дней...").arg(m_station, QString::number(days)));
    const int columns = std::max(100, int(Pressures->chart()->plotArea().width()));
    const std::string station = m_station.toStdString();
    const std::string source = m_source;
    zrv::stations::readAside<Drawn>(
        this,
        [station, source, days, columns] {
            Drawn d;
            const QDateTime now = QDateTime::currentDateTimeUtc();
            d.t0 = now.addDays(-days).toMSecsSinceEpoch();
            d.t1 = now.toMSecsSinceEpoch();
            std::string why;
            const auto h = zrv::fleet::readStationHistory(source, station, now.addDays(-days), &why);
            if (!h) {
                d.why = QString::fromStdString(why);
                return d;
            }
            d.records = int(h->pressures.size());
            d.calls = int(h->calls.size());
            // Each series as points, NaN left out, then thinned.
            const auto take = [&](auto& rows, auto field) {
                std::vector<QPointF> pts;
                pts.reserve(rows.size());
                for (const auto& r : rows)
                    if (std::isfinite(r.*field)) pts.emplace_back(double(r.ms), r.*field);
                return pts;
            };
            using P = zrv::fleet::HistoryRead::Pressures;
            using C = zrv::fleet::HistoryRead::Call;
            d.p1 = thinned(take(h->pressures, &P::p1), d.t0, d.t1, columns);
            d.p2 = thinned(take(h->pressures, &P::p2), d.t0, d.t1, columns);
            d.vbat = thinned(take(h->calls, &C::vbat), d.t0, d.t1, columns);
            d.clock = thinned(take(h->calls, &C::clockOffsetS), d.t0, d.t1, columns);
            // A limit holds from one call to the next: drawn as steps, and
            // across the whole span from the first and to the last.
            const auto limit = [&](double C::*field) {
                QList<QPointF> out;
                std::vector<QPointF> pts = take(h->calls, field);
                if (pts.empty()) return out;
                out.append({double(d.t0), pts.front().y()});
                for (const QPointF& p : pts) {
                    if (p.y() == out.back().y()) continue;
                    out.append({p.x(), out.back().y()});
                    out.append(p);
                }
                out.append({double(d.t1), out.back().y()});
                return out;
            };
            d.p2Max = limit(&C::p2Max);
            d.p2Min = limit(&C::p2Min);
            d.p1Max = limit(&C::p1Max);
            d.p1Min = limit(&C::p1Min);
            return d;
        },
        [this, generation, days](Drawn d) {
            if (generation != m_generation) return;
            if (!d.why.isEmpty()) {
                State->setText(QStringLiteral("История не прочитана: %1").arg(d.why));
                emit drawn();
                return;
            }
            for (auto [line, pts] : {std::pair{P1, &d.p1}, {P2, &d.p2}, {P2Max, &d.p2Max}, {P2Min, &d.p2Min},
                                     {P1Max, &d.p1Max}, {P1Min, &d.p1Min}, {Vbat, &d.vbat}, {ClockOffset, &d.clock}})
                line->replace(*pts);
            for (QChartView* v : {Pressures, Battery, Clock}) {
                for (QAbstractAxis* axis : v->chart()->axes(Qt::Horizontal))
                    static_cast<QDateTimeAxis*>(axis)->setRange(QDateTime::fromMSecsSinceEpoch(d.t0),
                                                                QDateTime::fromMSecsSinceEpoch(d.t1));
                fitValues(v->chart());
            }
            State->setText(QStringLiteral("%1 за %2 дней: записей журнала %3, вызовов %4")
                               .arg(m_station)
                               .arg(days)
                               .arg(d.records)
                               .arg(d.calls));
            emit drawn();
        });
}
