#include "Printout.h"

#include "collect/CallJson.h"

#include <algorithm>

namespace zrv::collect {

namespace {

QString padded(const QString& s, int width, bool right = false)
{
    if (s.size() >= width) return s;
    const QString fill(width - s.size(), QLatin1Char(' '));
    return right ? fill + s : s + fill;
}

}  // namespace

QString callLine(const std::string& port, const CallResult& r, std::optional<qint64> retryInS)
{
    QString line = QStringLiteral("%1: %2: %3").arg(printable(QString::fromStdString(port)),
                                                     printable(QString::fromStdString(r.station)),
                                                     QString::fromUtf8(outcomeText(r.outcome)));
    if (!r.why.empty()) line += QStringLiteral(" (%1)").arg(printable(QString::fromStdString(r.why)));
    if (r.ok()) line += QStringLiteral(", записей %1").arg(r.records.size());
    if (r.recordsLost) line += QStringLiteral(", около %1 записей перезаписаны в кольце прибора").arg(r.recordsLost);
    if (retryInS) line += QStringLiteral(", повтор через %1 с").arg(*retryInS);
    for (const Finding& f : r.health.opened)
        line += QStringLiteral("\n%1: замечание: %2").arg(printable(QString::fromStdString(r.station)),
                                                          printable(QString::fromStdString(f.text)));
    for (const Finding& f : r.health.cleared)
        line += QStringLiteral("\n%1: снято замечание: %2").arg(printable(QString::fromStdString(r.station)),
                                                                QString::fromStdString(kindText(f.kind)));
    return line;
}

QByteArray liveLines(const std::vector<PortLine>& ports, int drawnBefore)
{
    QByteArray out;
    if (drawnBefore > 0) out += "\033[" + QByteArray::number(drawnBefore) + "A";
    for (const PortLine& p : ports) {
        QString line = QString::fromStdString(p.port) + QStringLiteral(": ");
        if (!p.station.empty())
            line += QStringLiteral("%1 из %2, %3: ").arg(p.done + 1).arg(p.total).arg(QString::fromStdString(p.station));
        line += p.phase;
        out += "\r\033[K" + line.left(160).toUtf8() + "\n";
    }
    return out;
}

QString roundSummary(const RoundSummary& r0)
{
    int nameWidth = 7;
    for (const Station& st : r0.roster.stations) nameWidth = std::max(nameWidth, int(printable(QString::fromStdString(st.name)).size()));
    QString t = padded(QStringLiteral("Станция"), nameWidth) + QStringLiteral("  ") + padded(QStringLiteral("Итог"), 20) +
                QStringLiteral("  Записей  Часы, с  Уставки  Обмен ок/сбой  Время, с\n");
    for (std::size_t i = 0; i < r0.results.size(); ++i) {
        const CallResult& r = r0.results[i];
        if (const auto other = r0.elsewhere.find(i); other != r0.elsewhere.end()) {
            t += padded(printable(QString::fromStdString(r0.roster.stations[i].name)), nameWidth) + QStringLiteral("  ") +
                 QStringLiteral("не здесь: %1\n").arg(printable(QString::fromStdString(other->second)));
            continue;
        }
        if (const auto later = r0.notDue.find(i); later != r0.notDue.end()) {
            // Due later, or due but outside its hours.
            const QDateTime at = later->second.toLocalTime();
            t += padded(printable(QString::fromStdString(r0.roster.stations[i].name)), nameWidth) + QStringLiteral("  ") +
                 (later->second > QDateTime::currentDateTimeUtc()
                      ? QStringLiteral("не пора, до %1").arg(at.toString(QStringLiteral("dd.MM hh:mm")))
                      : QStringLiteral("вне часов вызова (%1)").arg(QString::fromStdString(r0.roster.stations[i].hours))) +
                 QLatin1Char('\n');
            continue;
        }
        t += padded(printable(QString::fromStdString(r.station)), nameWidth) + QStringLiteral("  ") +
             padded(QString::fromUtf8(outcomeText(r.outcome)), 20) + QStringLiteral("  ") +
             padded(QString::number(r.records.size()), 7, true) + QStringLiteral("  ") +
             padded(r.clockOffsetS ? QString::number(*r.clockOffsetS) + (r.clockSet ? QStringLiteral("*") : QString())
                                   : QStringLiteral("-"),
                    7, true) +
             QStringLiteral("  ") +
             padded(r.hasProfile ? QString::number(r.setpointDifferences.size()) : QStringLiteral("-"), 7, true) +
             QStringLiteral("  ") +
             padded(QStringLiteral("%1/%2").arg(r.transactionsOk).arg(r.transactionsFailed), 13, true) +
             QStringLiteral("  ") + padded(QString::number(r.seconds, 'f', 1), 8, true) + QLatin1Char('\n');
    }
    int failed = 0;
    for (std::size_t i = 0; i < r0.results.size(); ++i) failed += !r0.results[i].ok() && !r0.notDue.count(i) && !r0.elsewhere.count(i);
    const int called = int(r0.results.size() - r0.notDue.size() - r0.elsewhere.size());
    t += QStringLiteral("Станций: %1, успешно: %2, со сбоем: %3").arg(r0.results.size()).arg(called - failed).arg(failed);
    if (!r0.notDue.empty()) t += QStringLiteral(", не пора: %1").arg(r0.notDue.size());
    if (!r0.elsewhere.empty()) t += QStringLiteral(", у других сборщиков: %1").arg(r0.elsewhere.size());
    if (r0.spooled) t += QStringLiteral("; отложено для хранилищ: %1").arg(r0.spooled);
    if (r0.unsaved) t += QStringLiteral("; НЕ СОХРАНЕНО вызовов: %1 (ни в хранилище, ни в отложенных)").arg(r0.unsaved);
    t += QLatin1Char('\n');
    for (const CallResult& r : r0.results)
        if (r.recordsLost)
            t += QStringLiteral("%1: около %2 записей журнала перезаписаны в кольце прибора, прежде чем их удалось дочитать\n")
                     .arg(printable(QString::fromStdString(r.station)))
                     .arg(r.recordsLost);
    if (std::any_of(r0.results.begin(), r0.results.end(), [](const CallResult& r) { return r.clockSet; }))
        t += QStringLiteral("* часы прибора установлены\n");
    return t;
}

}  // namespace zrv::collect
