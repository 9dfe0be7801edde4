#include "RecordStamp.h"

namespace zrv::fleet {

QString stampIso(const journal::Stamp& s)
{
    if (!s.dateValid() || !s.timeValid()) return {};
    return QStringLiteral("%1-%2-%3T%4:%5:%6")
        .arg(s.year, 4, 10, QLatin1Char('0'))
        .arg(s.month, 2, 10, QLatin1Char('0'))
        .arg(s.day, 2, 10, QLatin1Char('0'))
        .arg(s.hours, 2, 10, QLatin1Char('0'))
        .arg(s.minutes, 2, 10, QLatin1Char('0'))
        .arg(s.seconds, 2, 10, QLatin1Char('0'));
}

QString stampKey(const journal::RecordKey& k)
{
    const auto hex4 = [](uint16_t v) { return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')); };
    return hex4(k.stamp[0]) + QLatin1Char(':') + hex4(k.stamp[1]) + QLatin1Char(':') + hex4(k.stamp[2]);
}

}  // namespace zrv::fleet
