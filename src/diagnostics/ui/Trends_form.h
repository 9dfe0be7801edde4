#pragma once
// "Графики": the six measurements against time since the connection, in
// five charts by unit (P1 and P2 together; Tг; Qи; Mq; V), auto-scaled. A
// span is chosen from the list; the wheel zooms and a drag pans the time
// axis of all charts at once, a double click goes back to following the
// newest samples. Samples and the picture can be saved.

#ifndef ZRV_UI_DIAGNOSTICS
#error "a window of another subsystem includes this one: windows know the session, never each other; shell/Terminal wires them"
#endif

#include "diagnostics/TrendStore.h"
#include "session/Session.h"
#include "windowbase/ChildForm.h"

#include <QChartView>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QPushButton>

#include <array>
#include <chrono>
#include <functional>
#include <vector>

class QLineSeries;
class QValueAxis;
class QDateTimeAxis;

// One chart whose mouse moves the shared time window.
class TTrendView : public QChartView {
    Q_OBJECT
public:
    explicit TTrendView(QChart* chart, QWidget* parent = nullptr);

signals:
    void resized();
    void zoomRequested(double factor, double atFraction);  // < 1 zooms in
    void panRequested(double fraction);                    // of the visible span
    void followRequested();

protected:
    void resizeEvent(QResizeEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

private:
    double fractionAt(double x) const;
    bool m_dragging = false;
    double m_lastX = 0;
};

class TTrends : public TChildForm {
    Q_OBJECT
public:
    TTrends(QMdiArea* area, zrv::Session& session);

    QComboBox* Span = nullptr;  // "5 мин", "1 ч", "24 ч", "всё"
    QPushButton* SaveCsv = nullptr;
    QPushButton* SavePng = nullptr;
    std::vector<TTrendView*> Charts;

    // Spans in seconds, 0 for all.
    static constexpr int kSpans[] = {300, 3600, 86400, 0};

    zrv::diagnostics::TrendStore& store() { return m_store; }
    // A sample t seconds after the connection (the polling step's values).
    void addSample(double t, const std::array<float, zrv::diagnostics::kTrendSeriesCount>& values);
    // Draws the visible window again, thinned to the charts' width: after a
    // zoom, a pan, a resize, a new span, or a time hidden. A new sample while
    // following redraws only the charts whose picture it changes.
    void redraw();
    // The time window shown, in seconds since the connection.
    double viewStart() const { return m_t0; }
    double viewEnd() const { return m_t1; }
    bool following() const { return m_follow; }
    // The drawn points of one series (tests, benchmark).
    int pointCount(int series) const;

    bool saveCsv(const QString& path);
    bool savePng(const QString& path);
    // Asks for a file name ("csv" or "png"); tests put their own answer here.
    std::function<QString(const QString& suffix)> chooseFile;

    // Mouse actions on the shared time window.
    void zoom(double factor, double atFraction);
    void pan(double fraction);
    void follow();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void takePoll(const zrv::PollSnapshot& s);
    void startConnection();
    void followNewest();
    // The drawn time range of chart c: while following, its end moves in
    // whole columns, so that a long span is not redrawn every second.
    std::pair<double, double> drawnRange(std::size_t c) const;
    void drawChart(std::size_t c);
    void queueDraw(std::size_t c);
    void queueRedraw();

    zrv::Session& m_session;
    zrv::diagnostics::TrendStore m_store;
    QDateTime m_origin;  // the connection's wall-clock time
    std::chrono::steady_clock::time_point m_originSteady;
    double m_t0 = 0, m_t1 = 300;
    bool m_follow = true;
    bool m_redrawQueued = false;  // a whole redraw
    bool m_drawQueued = false;    // some charts
    bool m_stale = true;          // the thinned lines miss samples: redraw whole
    std::array<zrv::diagnostics::ThinnedSeries, zrv::diagnostics::kTrendSeriesCount> m_thin;
    std::vector<double> m_drawnEnd;   // by chart
    std::vector<bool> m_chartDirty;   // by chart
    std::vector<QLineSeries*> m_series;        // by TrendSeries
    std::vector<QValueAxis*> m_valueAxes;      // by chart
    std::vector<QDateTimeAxis*> m_timeAxes;    // by chart
    std::vector<std::vector<int>> m_chartSeries;
    QWidget* m_plots = nullptr;
};
