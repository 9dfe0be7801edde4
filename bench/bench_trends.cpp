// The trend window holding a day of samples (86,400 per series): the time to
// thin and draw all five charts again, as after a new sample or a zoom,
// against the 16 ms of one frame at 60 Hz. Also the same without thinning,
// to show what the thinning buys.

#include "diagnostics/ui/Trends_form.h"
#include "session/Session.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QLineSeries>
#include <QMdiArea>
#include <QTemporaryDir>

#include <algorithm>
#include <cmath>
#include <vector>
#include <cstdio>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", qgetenv("QT_QPA_PLATFORM").isEmpty() ? "offscreen" : qgetenv("QT_QPA_PLATFORM"));
    QTemporaryDir dir;
    qputenv("XDG_CONFIG_HOME", dir.path().toUtf8());
    QApplication app(argc, argv);
    zrv::Session session;
    QMdiArea area;
    area.resize(1100, 800);
    area.show();
    auto* trends = new TTrends(&area, session);
    trends->resize(1000, 760);
    trends->showNormal();
    trends->Span->setCurrentIndex(2);  // "24 ч"
    QApplication::processEvents();

    for (int i = 0; i < 86400; ++i) {
        const double t = i;
        trends->addSample(t, {float(5 + std::sin(t / 600)), float(1.2 + 0.1 * std::sin(t / 60)), float(12 + std::sin(t / 3000)),
                              float(0.5 + 0.05 * std::cos(t / 90)), float(0.85 + 0.01 * std::sin(t / 7)), 3.6f});
    }
    QApplication::processEvents();
    // The first paints also build the window's caches (glyphs, the backing
    // image); they are reported apart from the steady ones.
    QElapsedTimer first;
    first.start();
    for (int i = 0; i < 2; ++i) {
        trends->redraw();
        trends->grab();
    }
    const double warmMs = double(first.nsecsElapsed()) / 1e6 / 2;

    const int rounds = argc > 1 ? std::atoi(argv[1]) : 20;
    QElapsedTimer t;
    double worst = 0, total = 0;
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        t.restart();
        trends->redraw();
        trends->grab();  // paints every chart into an image, as a repaint does
        const double ms = double(t.nsecsElapsed()) / 1e6;
        worst = std::max(worst, ms);
        total += ms;
        times.push_back(ms);
        if (getenv("ZRV_BENCH_VERBOSE")) std::printf("    round %d: %.2f ms\n", i, ms);
    }
    std::sort(times.begin(), times.end());
    const double median = times[times.size() / 2];
    // The thinning alone, as a redraw does it: each series' columns anew.
    t.restart();
    const double width = zrv::diagnostics::ThinnedSeries::widthFor(0, 86400, 900);
    for (int i = 0; i < rounds; ++i)
        for (int s = 0; s < zrv::diagnostics::kTrendSeriesCount; ++s) {
            zrv::diagnostics::ThinnedSeries thin;
            thin.rebuild(trends->store(), s, 0, 86400, width);
            (void)thin.points();
        }
    const double thinMs = double(t.nsecsElapsed()) / 1e6 / rounds;
    int points = 0;
    for (int s = 0; s < zrv::diagnostics::kTrendSeriesCount; ++s) points += trends->pointCount(s);
    std::printf("trend window, 24 h at one sample a second (86400 per series, 6 series), 1000 x 760:\n");
    std::printf("  redraw and paint: median %.2f ms, mean %.2f ms, worst %.2f ms; target 16 ms, ratio %.3f "
                "(worst %.3f); %d points drawn\n",
                median, total / rounds, worst, median / 16.0, worst / 16.0, points);
    std::printf("  of which thinning the six series: %.2f ms\n", thinMs);
    std::printf("  the first two paints, while caches fill: %.2f ms each\n", warmMs);

    // Without thinning: every sample handed to the charts.
    {
        const auto series = trends->Charts[0]->chart()->series();
        QList<QPointF> all;
        all.reserve(86400);
        for (std::size_t i = 0; i < trends->store().size(); ++i)
            all.append(QPointF(double(i) * 1000.0, trends->store().value(0, i)));
        t.restart();
        static_cast<QLineSeries*>(series.first())->replace(all);
        trends->Charts[0]->grab();
        std::printf("  for comparison, one chart given all 86400 samples unthinned: %.1f ms\n", double(t.nsecsElapsed()) / 1e6);
    }
    delete trends;
    return 0;
}
