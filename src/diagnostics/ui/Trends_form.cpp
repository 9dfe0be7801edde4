#include "Trends_form.h"

#include "windowbase/TimeChart.h"

#include "windowbase/MessageBox.h"
#include "windowbase/Preferences.h"

#include <QBuffer>
#include <QCloseEvent>
#include <QDateTimeAxis>
#include <QFileDialog>
#include <QHBoxLayout>
#include <QLineSeries>
#include <QMouseEvent>
#include <QTimer>
#include <QVBoxLayout>
#include <QValueAxis>
#include <QWheelEvent>

#include <algorithm>
#include <cmath>

using zrv::diagnostics::TrendPoint;
namespace dg = zrv::diagnostics;

TTrendView::TTrendView(QChart* chart, QWidget* parent) : QChartView(chart, parent)
{
    setRenderHint(QPainter::Antialiasing, false);
    setRubberBand(QChartView::NoRubberBand);
    setFocusPolicy(Qt::StrongFocus);
}

double TTrendView::fractionAt(double x) const
{
    const QRectF plot = chart()->plotArea();
    if (plot.width() <= 0) return 0.5;
    return std::clamp((mapToScene(QPoint(int(x), 0)).x() - plot.left()) / plot.width(), 0.0, 1.0);
}

void TTrendView::resizeEvent(QResizeEvent* event)
{
    QChartView::resizeEvent(event);
    emit resized();
}

void TTrendView::wheelEvent(QWheelEvent* event)
{
    const double steps = event->angleDelta().y() / 120.0;
    if (steps != 0) emit zoomRequested(std::pow(0.8, steps), fractionAt(event->position().x()));
    event->accept();
}

void TTrendView::mousePressEvent(QMouseEvent* event)
{
    if (event->button() == Qt::LeftButton) {
        m_dragging = true;
        m_lastX = event->position().x();
        setCursor(Qt::ClosedHandCursor);
    }
    event->accept();
}

void TTrendView::mouseMoveEvent(QMouseEvent* event)
{
    if (!m_dragging) return;
    const double width = chart()->plotArea().width();
    const double dx = event->position().x() - m_lastX;
    m_lastX = event->position().x();
    if (width > 0 && dx != 0) emit panRequested(-dx / width);
    event->accept();
}

void TTrendView::mouseReleaseEvent(QMouseEvent* event)
{
    m_dragging = false;
    unsetCursor();
    event->accept();
}

void TTrendView::mouseDoubleClickEvent(QMouseEvent* event)
{
    emit followRequested();
    event->accept();
}

namespace {

struct ChartSpec {
    const char* title;
    std::vector<int> series;
};

const std::vector<ChartSpec>& chartSpecs()
{
    static const std::vector<ChartSpec> specs = {
        {"кгс/см²", {dg::kP1, dg::kP2}},
        {"град. С", {dg::kTg}},
        {"тыс. нм³/ч", {dg::kQi}},
        {"", {dg::kMq}},
        {"В", {dg::kV}},
    };
    return specs;
}

}  // namespace

TTrends::TTrends(QMdiArea* area, zrv::Session& session)
    : TChildForm(area, QStringLiteral("Графики"), "Trends_form", true), m_session(session)
{
    QWidget* client = content();
    auto* layout = new QVBoxLayout(client);
    layout->setContentsMargins(4, 4, 4, 4);
    layout->setSpacing(2);

    auto* bar = new QHBoxLayout;
    auto* spanCaption = new QLabel(QStringLiteral("Интервал:"), client);
    Span = new QComboBox(client);
    Span->setObjectName("Span");
    Span->addItems({QStringLiteral("5 мин"), QStringLiteral("1 ч"), QStringLiteral("24 ч"), QStringLiteral("всё")});
    spanCaption->setBuddy(Span);
    SaveCsv = new QPushButton(QStringLiteral("Сохранить CSV..."), client);
    SaveCsv->setObjectName("SaveCsv");
    SavePng = new QPushButton(QStringLiteral("Сохранить PNG..."), client);
    SavePng->setObjectName("SavePng");
    auto* hint = new QLabel(QStringLiteral("колесо: масштаб, перетаскивание: сдвиг, двойной щелчок: к текущему"), client);
    hint->setEnabled(false);
    bar->addWidget(spanCaption);
    bar->addWidget(Span);
    bar->addWidget(hint, 1);
    bar->addWidget(SaveCsv);
    bar->addWidget(SavePng);
    layout->addLayout(bar);

    m_plots = new QWidget(client);
    auto* plots = new QVBoxLayout(m_plots);
    plots->setContentsMargins(0, 0, 0, 0);
    plots->setSpacing(0);
    layout->addWidget(m_plots, 1);

    m_series.assign(dg::kTrendSeriesCount, nullptr);
    m_drawnEnd.assign(chartSpecs().size(), 0.0);
    m_chartDirty.assign(chartSpecs().size(), false);
    const QColor colours[] = {QColor(0, 90, 200), QColor(200, 60, 0), QColor(170, 0, 0),
                              QColor(0, 130, 60), QColor(120, 60, 160), QColor(80, 80, 80)};
    for (const ChartSpec& spec : chartSpecs()) {
        auto* chart = new QChart;
        // The legend names each line with its unit; an axis title would
        // take the room the value labels need in a chart this low.
        const zrv::TimeChartAxes axes = zrv::styleTimeChart(chart, QStringLiteral("hh:mm:ss"));
        QDateTimeAxis* timeAxis = axes.time;
        QValueAxis* valueAxis = axes.value;
        for (int s : spec.series) {
            auto* line = new QLineSeries;
            const QString unit = QString::fromUtf8(spec.title);
            line->setName(QString::fromUtf8(dg::trendCaption(s)) + (unit.isEmpty() ? QString() : QStringLiteral(", ") + unit));
            line->setPen(QPen(colours[s], 1));
            line->setUseOpenGL(false);
            zrv::addTimeLine(chart, axes, line);
            m_series[std::size_t(s)] = line;
        }
        auto* view = new TTrendView(chart, m_plots);
        QStringList names;
        for (int k : spec.series) names << QString::fromUtf8(dg::trendCaption(k));
        view->setAccessibleName(QStringLiteral("График ") + names.join(QStringLiteral(", ")));
        view->setMinimumHeight(90);
        plots->addWidget(view, 1);
        Charts.push_back(view);
        m_timeAxes.push_back(timeAxis);
        m_valueAxes.push_back(valueAxis);
        m_chartSeries.push_back(spec.series);
        connect(view, &TTrendView::resized, this, &TTrends::queueRedraw);
        connect(view, &TTrendView::zoomRequested, this, &TTrends::zoom);
        connect(view, &TTrendView::panRequested, this, &TTrends::pan);
        connect(view, &TTrendView::followRequested, this, &TTrends::follow);
    }

    const int span = std::clamp(zrv::prefs::value(QLatin1String(zrv::prefs::kTrendSpan), 0).toInt(), 0, 3);
    Span->setCurrentIndex(span);
    connect(Span, &QComboBox::currentIndexChanged, this, [this](int index) {
        zrv::prefs::setValue(QLatin1String(zrv::prefs::kTrendSpan), index);
        follow();
    });
    connect(SaveCsv, &QPushButton::clicked, this, [this] {
        const QString path = chooseFile ? chooseFile(QStringLiteral("csv"))
                                        : QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить отсчёты как..."),
                                                                       QString(), QStringLiteral("CSV (*.csv)"));
        if (!path.isEmpty()) saveCsv(path);
    });
    connect(SavePng, &QPushButton::clicked, this, [this] {
        const QString path = chooseFile ? chooseFile(QStringLiteral("png"))
                                        : QFileDialog::getSaveFileName(this, QStringLiteral("Сохранить рисунок как..."),
                                                                       QString(), QStringLiteral("PNG (*.png)"));
        if (!path.isEmpty()) savePng(path);
    });

    connect(&session, &zrv::Session::polled, this, &TTrends::takePoll);
    connect(&session, &zrv::Session::stateChanged, this, [this](const zrv::SessionState& state) {
        if (state.connection == zrv::Connection::Detecting) startConnection();
    });
    startConnection();

    setAsideAsTool({760, 620}, {20, 20});
}

void TTrends::startConnection()
{
    m_store.clear();
    m_origin = QDateTime::currentDateTime();
    m_originSteady = std::chrono::steady_clock::now();
    m_follow = true;
    followNewest();
    redraw();
}

void TTrends::takePoll(const zrv::PollSnapshot& s)
{
    const zrv::Measurements& m = s.measurements;
    const double t = std::chrono::duration<double>(std::chrono::steady_clock::now() - m_originSteady).count();
    // As the measurement window shows them: the flow in thousands.
    addSample(t, {m.p1, m.p2, m.tg, m.qi * 0.001f, m.mq, m.vbat});
}

void TTrends::addSample(double t, const std::array<float, dg::kTrendSeriesCount>& values)
{
    if (m_store.size() && t < m_store.lastTime()) return;  // the store keeps no sample from the past
    m_store.append(t, values);
    if (m_follow) followNewest();
    // Hidden (put aside), the charts do nothing: the store keeps the sample
    // and the next show draws it.
    if (!isVisible() || m_stale) {
        m_stale = true;
        if (isVisible()) queueRedraw();
        return;
    }
    for (std::size_t c = 0; c < Charts.size(); ++c) {
        bool changed = false;
        const auto [from, to] = drawnRange(c);
        for (int s : m_chartSeries[c]) {
            dg::ThinnedSeries& thin = m_thin[std::size_t(s)];
            // A span that grows ("всё") moves the width up a step now and
            // then: the chart is thinned anew, once.
            if (m_follow && dg::ThinnedSeries::widthFor(m_t0, m_t1, std::max(16, int(Charts[c]->chart()->plotArea().width()))) !=
                                thin.width()) {
                m_stale = true;
                queueRedraw();
                return;
            }
            // Beyond a view the operator moved away from, a sample changes
            // nothing shown; following brings it back (a whole redraw).
            if (!m_follow && t > to + thin.width()) continue;
            changed |= thin.add(t, values[std::size_t(s)]);
            if (m_follow) changed |= thin.dropBefore(from);
        }
        if (m_follow && drawnRange(c).second != m_drawnEnd[c]) changed = true;
        if (changed) queueDraw(c);
    }
}

void TTrends::queueDraw(std::size_t c)
{
    m_chartDirty[c] = true;
    if (m_drawQueued) return;
    m_drawQueued = true;
    // At most once per turn of the event loop.
    QTimer::singleShot(0, this, [this] {
        m_drawQueued = false;
        if (m_stale) return;
        for (std::size_t k = 0; k < Charts.size(); ++k)
            if (m_chartDirty[k]) drawChart(k);
    });
}

void TTrends::queueRedraw()
{
    if (m_redrawQueued) return;
    m_redrawQueued = true;
    QTimer::singleShot(0, this, [this] {
        m_redrawQueued = false;
        if (isVisible()) redraw();
    });
}

void TTrends::followNewest()
{
    const int span = kSpans[std::clamp(Span->currentIndex(), 0, 3)];
    const double last = std::max(m_store.lastTime(), 1.0);
    if (span == 0) {
        m_t0 = m_store.firstTime();
        m_t1 = std::max(last, m_t0 + 1.0);
    } else {
        m_t1 = std::max(last, double(span));
        m_t0 = m_t1 - span;
    }
}

void TTrends::follow()
{
    m_follow = true;
    followNewest();
    redraw();
}

void TTrends::zoom(double factor, double at)
{
    const double span = m_t1 - m_t0;
    const double newSpan = std::clamp(span * factor, 5.0, 7 * 86400.0);
    const double pivot = m_t0 + span * at;
    m_t0 = pivot - newSpan * at;
    m_t1 = m_t0 + newSpan;
    m_follow = false;
    redraw();
}

void TTrends::pan(double fraction)
{
    const double shift = (m_t1 - m_t0) * fraction;
    m_t0 += shift;
    m_t1 += shift;
    m_follow = false;
    redraw();
}

std::pair<double, double> TTrends::drawnRange(std::size_t c) const
{
    if (!m_follow) return {m_t0, m_t1};
    const double width = m_thin[std::size_t(m_chartSeries[c].front())].width();
    const double end = std::ceil(m_t1 / width) * width;
    return {end - (m_t1 - m_t0), end};
}

void TTrends::redraw()
{
    m_stale = false;
    for (std::size_t c = 0; c < Charts.size(); ++c) {
        const int columns = std::max(16, int(Charts[c]->chart()->plotArea().width()));
        const double width = dg::ThinnedSeries::widthFor(m_t0, m_t1, columns);
        for (int s : m_chartSeries[c]) m_thin[std::size_t(s)].rebuild(m_store, s, m_t0, m_t1, width);
        drawChart(c);
    }
}

void TTrends::drawChart(std::size_t c)
{
    m_chartDirty[c] = false;
    const auto [t0, t1] = drawnRange(c);
    m_drawnEnd[c] = t1;
    const double originMs = double(m_origin.toMSecsSinceEpoch());
    double lo = INFINITY, hi = -INFINITY;
    for (int s : m_chartSeries[c]) {
        const dg::ThinnedSeries& thin = m_thin[std::size_t(s)];
        const std::vector<TrendPoint> points = thin.points();
        QList<QPointF> xy;
        xy.reserve(qsizetype(points.size()));
        for (const TrendPoint& p : points) xy.append(QPointF(originMs + p.t * 1000.0, p.v));
        m_series[std::size_t(s)]->replace(xy);
        double l = 0, h = 0;
        if (thin.range(t0, t1, &l, &h)) {
            lo = std::min(lo, l);
            hi = std::max(hi, h);
        }
    }
    m_timeAxes[c]->setFormat(t1 - t0 > 20 * 3600 ? QStringLiteral("dd.MM hh:mm") : QStringLiteral("hh:mm:ss"));
    m_timeAxes[c]->setRange(m_origin.addMSecs(qint64(t0 * 1000.0)), m_origin.addMSecs(qint64(t1 * 1000.0)));
    if (!std::isfinite(lo)) {
        lo = 0;
        hi = 1;
    }
    // A flat line still gets a band around it; otherwise 5 % each side.
    const double pad = hi > lo ? (hi - lo) * 0.05 : std::max(std::abs(hi) * 0.05, 0.01);
    m_valueAxes[c]->setRange(lo - pad, hi + pad);
    // Enough decimals that the three labels differ.
    const double step = (hi - lo + 2 * pad) / 2;
    const int decimals = std::clamp(int(std::ceil(-std::log10(step))) + 1, 0, 6);
    m_valueAxes[c]->setLabelFormat(QStringLiteral("%.") + QString::number(decimals) + QStringLiteral("f"));
}

int TTrends::pointCount(int series) const
{
    return series >= 0 && series < int(m_series.size()) ? int(m_series[std::size_t(series)]->count()) : 0;
}

bool TTrends::saveCsv(const QString& path)
{
    const QDateTime origin = m_origin;
    const std::string text = m_store.csv([origin](double t) {
        return origin.addMSecs(qint64(t * 1000.0)).toString(QStringLiteral("dd.MM.yyyy hh:mm:ss.zzz")).toStdString();
    });
    return SaveFileOrSay(path, text, QStringLiteral("Не удалось сохранить файл"));
}

bool TTrends::savePng(const QString& path)
{
    redraw();
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!m_plots->grab().save(&buffer, "PNG")) {
        ShowMessage(QStringLiteral("Не удалось сохранить файл %1: the picture could not be encoded").arg(path),
                    QStringLiteral("Ошибка"));
        return false;
    }
    return SaveFileOrSay(path, std::string_view(bytes.constData(), std::size_t(bytes.size())),
                         QStringLiteral("Не удалось сохранить файл"));
}

void TTrends::showEvent(QShowEvent* event)
{
    TChildForm::showEvent(event);
    redraw();
}
