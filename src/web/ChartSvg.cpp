#include "ChartSvg.h"

#include <QDateTime>

#include <algorithm>
#include <cmath>

namespace zrv::web {

namespace {

constexpr double kWidth = 960, kHeight = 280;
constexpr double kLeft = 64, kRight = 16, kTop = 30, kBottom = 34;

QString number(double v) { return QString::number(v, 'g', 7); }

// 1, 2 or 5 times a power of ten, so that about `count` steps span `range`.
double niceStep(double range, int count)
{
    const double raw = range / std::max(1, count);
    const double power = std::pow(10.0, std::floor(std::log10(raw)));
    for (double m : {1.0, 2.0, 5.0})
        if (raw <= m * power) return m * power;
    return 10 * power;
}

}  // namespace

QString xmlText(const QString& text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '&': out += QLatin1String("&amp;"); break;
        case '<': out += QLatin1String("&lt;"); break;
        case '>': out += QLatin1String("&gt;"); break;
        case '"': out += QLatin1String("&quot;"); break;
        case '\'': out += QLatin1String("&#39;"); break;
        default:
            if (c.unicode() < 0x20 && c != QLatin1Char('\t')) continue;
            out += c;
        }
    }
    return out;
}

QByteArray chartSvg(const Chart& chart)
{
    double lo = INFINITY, hi = -INFINITY;
    for (const ChartSeries& s : chart.series)
        for (const ChartPoint& p : s.points) {
            if (std::isfinite(p.lo)) lo = std::min(lo, p.lo);
            if (std::isfinite(p.hi)) hi = std::max(hi, p.hi);
        }
    const bool empty = !(lo <= hi);
    if (empty) lo = 0, hi = 1;
    if (hi - lo < 1e-9) lo -= 0.5, hi += 0.5;
    const double step = niceStep(hi - lo, 5);
    const double yFrom = std::floor(lo / step) * step, yTo = std::ceil(hi / step) * step;
    const qint64 from = chart.fromMs, to = std::max(chart.toMs, chart.fromMs + 1);
    const double plotW = kWidth - kLeft - kRight, plotH = kHeight - kTop - kBottom;
    const auto x = [&](qint64 ms) { return kLeft + plotW * double(std::clamp(ms, from, to) - from) / double(to - from); };
    const auto y = [&](double v) { return kTop + plotH * (1 - (v - yFrom) / (yTo - yFrom)); };

    QString svg;
    svg.reserve(16384);
    svg += QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 %1 %2\" width=\"%1\" height=\"%2\" "
                          "font-family=\"DejaVu Sans, Liberation Sans, sans-serif\" font-size=\"12\" role=\"img\">")
               .arg(kWidth)
               .arg(kHeight);
    svg += QStringLiteral("<title>%1</title>").arg(xmlText(chart.title));
    svg += QStringLiteral("<rect width=\"100%\" height=\"100%\" fill=\"#fff\"/>");
    svg += QStringLiteral("<text x=\"%1\" y=\"18\" font-weight=\"bold\">%2, %3</text>")
               .arg(kLeft)
               .arg(xmlText(chart.title), xmlText(chart.unit));
    // Grid and the values' scale.
    for (double v = yFrom; v <= yTo + step / 2; v += step) {
        const double yy = y(v);
        svg += QStringLiteral("<line x1=\"%1\" x2=\"%2\" y1=\"%3\" y2=\"%3\" stroke=\"#ddd\"/>")
                   .arg(kLeft)
                   .arg(kWidth - kRight)
                   .arg(number(yy));
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"end\">%3</text>")
                   .arg(kLeft - 6)
                   .arg(number(yy + 4))
                   .arg(number(std::abs(v) < step / 1e6 ? 0 : v));
    }
    // Days along the bottom, as many as fit.
    const qint64 day = 86'400'000;
    const qint64 days = std::max<qint64>(1, (to - from) / day);
    const qint64 every = days <= 10 ? 1 : days <= 31 ? 3 : 10;
    QDateTime t = QDateTime::fromMSecsSinceEpoch(from).toLocalTime();
    t.setTime(QTime(0, 0));
    for (int i = 0; t.toMSecsSinceEpoch() <= to && i < 200; ++i, t = t.addDays(1)) {
        if (t.toMSecsSinceEpoch() < from || (t.date().toJulianDay() % every) != 0) continue;
        const double xx = x(t.toMSecsSinceEpoch());
        svg += QStringLiteral("<line x1=\"%1\" x2=\"%1\" y1=\"%2\" y2=\"%3\" stroke=\"#eee\"/>")
                   .arg(number(xx))
                   .arg(kTop)
                   .arg(kHeight - kBottom);
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\">%3</text>")
                   .arg(number(xx))
                   .arg(kHeight - kBottom + 16)
                   .arg(t.toString(QStringLiteral("dd.MM")));
    }
    svg += QStringLiteral("<rect x=\"%1\" y=\"%2\" width=\"%3\" height=\"%4\" fill=\"none\" stroke=\"#888\"/>")
               .arg(kLeft)
               .arg(kTop)
               .arg(plotW)
               .arg(plotH);
    if (empty)
        svg += QStringLiteral("<text x=\"%1\" y=\"%2\" text-anchor=\"middle\" fill=\"#666\">нет данных за этот срок</text>")
                   .arg(kLeft + plotW / 2)
                   .arg(kTop + plotH / 2);

    double legendX = kLeft + 7.5 * (chart.title.size() + chart.unit.size() + 2) + 24;
    for (const ChartSeries& s : chart.series) {
        double smin = INFINITY, smax = -INFINITY;
        // Each run of values without a gap is one path: a band from the
        // buckets' greatest forward and back along their least, or a line.
        QString paths;
        std::size_t i = 0;
        while (i < s.points.size()) {
            while (i < s.points.size() && !(std::isfinite(s.points[i].lo) && std::isfinite(s.points[i].hi))) ++i;
            const std::size_t start = i;
            while (i < s.points.size() && std::isfinite(s.points[i].lo) && std::isfinite(s.points[i].hi)) ++i;
            if (start == i) continue;
            QString d;
            for (std::size_t k = start; k < i; ++k) {
                const ChartPoint& p = s.points[k];
                smin = std::min(smin, p.lo);
                smax = std::max(smax, p.hi);
                if (s.steps && k > start) d += QStringLiteral("H%1").arg(number(x(p.ms)));
                d += QStringLiteral("%1%2,%3").arg(k == start ? QStringLiteral("M") : QStringLiteral("L"),
                                                   number(x(p.ms)), number(y(p.hi)));
            }
            if (s.steps) d += QStringLiteral("H%1").arg(number(x(to)));
            if (s.markers || i - start == 1)
                for (std::size_t k = start; k < i; ++k)
                    paths += QStringLiteral("<circle cx=\"%1\" cy=\"%2\" r=\"2.5\" fill=\"%3\"/>")
                                 .arg(number(x(s.points[k].ms)), number(y(s.points[k].hi)), xmlText(s.colour));
            bool band = false;
            for (std::size_t k = start; k < i && !band; ++k) band = s.points[k].lo != s.points[k].hi;
            if (band) {
                for (std::size_t k = i; k-- > start;)
                    d += QStringLiteral("L%1,%2").arg(number(x(s.points[k].ms)), number(y(s.points[k].lo)));
                d += QLatin1Char('Z');
            }
            paths += QStringLiteral("<path d=\"%1\" fill=\"%2\" fill-opacity=\"0.25\" stroke=\"%3\" stroke-width=\"1.5\"%4/>")
                         .arg(d, band ? xmlText(s.colour) : QStringLiteral("none"), xmlText(s.colour),
                              s.dashed ? QStringLiteral(" stroke-dasharray=\"6 4\"") : QString());
        }
        svg += QStringLiteral("<g data-series=\"%1\"").arg(xmlText(s.name));
        if (smin <= smax) svg += QStringLiteral(" data-min=\"%1\" data-max=\"%2\"").arg(number(smin), number(smax));
        svg += QStringLiteral(" data-points=\"%1\">").arg(s.points.size());
        svg += paths;
        svg += QStringLiteral("</g>");
        svg += QStringLiteral("<line x1=\"%1\" x2=\"%2\" y1=\"14\" y2=\"14\" stroke=\"%3\" stroke-width=\"3\"%4/>")
                   .arg(number(legendX))
                   .arg(number(legendX + 18))
                   .arg(xmlText(s.colour), s.dashed ? QStringLiteral(" stroke-dasharray=\"6 4\"") : QString());
        svg += QStringLiteral("<text x=\"%1\" y=\"18\">%2</text>").arg(number(legendX + 22)).arg(xmlText(s.name));
        legendX += 30 + 7.5 * s.name.size();
    }
    svg += QStringLiteral("</svg>");
    return svg.toUtf8();
}

}  // namespace zrv::web
