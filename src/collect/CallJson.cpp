#include "CallJson.h"

#include <QJsonArray>

namespace zrv::collect {

namespace {

QString hex4(uint16_t v) { return QStringLiteral("%1").arg(v, 4, 16, QLatin1Char('0')); }

std::optional<uint16_t> fromHex4(const QString& s)
{
    bool ok = false;
    const uint v = s.toUInt(&ok, 16);
    if (!ok || s.size() != 4) return std::nullopt;
    return uint16_t(v);
}

Outcome outcomeFromName(const QString& n, bool* ok)
{
    const std::optional<Outcome> o = outcomeNamed(n.toStdString());
    *ok = o.has_value();
    return o.value_or(Outcome::Stopped);
}

// Line protocol escapes blanks, commas and equals signs in tag values.
QString tagValue(QString s)
{
    s.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    for (const char* c : {",", "=", " "}) s.replace(QLatin1String(c), QLatin1String("\\") + QLatin1String(c));
    return s;
}

QString fieldString(QString s)
{
    s.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    s.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + s + QLatin1Char('"');
}

}  // namespace

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
    return hex4(k.stamp[0]) + QLatin1Char(':') + hex4(k.stamp[1]) + QLatin1Char(':') + hex4(k.stamp[2]);
}

QJsonObject recordToJson(const journal::RecordData& r)
{
    QJsonObject o;
    o["start"] = int(r.key.start);
    o["stamp"] = stampKey(r.key);
    const QString at = stampIso(r.stamp);
    o["time"] = at.isEmpty() ? QJsonValue() : QJsonValue(at);
    o["p1"] = double(r.p1);
    o["p2"] = double(r.p2);
    o["t"] = double(r.t);
    o["q"] = double(r.q);
    o["entries"] = r.entries;
    o["text"] = QString::fromStdString(r.text);
    return o;
}

QJsonObject callToJson(const CallResult& c)
{
    QJsonObject o;
    o["call"] = c.callId;
    o["station"] = QString::fromStdString(c.station);
    o["port"] = QString::fromStdString(c.port);
    o["started"] = c.started.toString(Qt::ISODateWithMs);
    o["seconds"] = c.seconds;
    o["attempt"] = c.attempt;
    o["outcome"] = QString::fromLatin1(outcomeName(c.outcome));
    if (!c.why.empty()) o["why"] = QString::fromStdString(c.why);
    o["device"] = int(c.deviceNumber);
    if (c.measurements) {
        QJsonObject m;
        m["p1"] = double(c.measurements->p1);
        m["p2"] = double(c.measurements->p2);
        m["tg"] = double(c.measurements->tg);
        m["qi"] = double(c.measurements->qi);
        m["vbat"] = double(c.measurements->vbat);
        o["measurements"] = m;
    }
    if (c.clockOffsetS) o["clock_offset_s"] = double(*c.clockOffsetS);
    if (!c.deviceTime.isEmpty()) o["device_time"] = c.deviceTime;
    o["clock_set"] = c.clockSet;
    QJsonArray records;
    for (const journal::RecordData& r : c.records) records.append(recordToJson(r));
    o["records"] = records;
    o["journal_cut_short"] = c.journalCutShort;
    if (c.hasProfile) {
        QJsonArray d;
        for (int r : c.setpointDifferences) d.append(r);
        o["setpoint_differences"] = d;
    }
    if (!c.profileProblem.empty()) o["profile_problem"] = QString::fromStdString(c.profileProblem);
    o["transactions_ok"] = c.transactionsOk;
    o["transactions_failed"] = c.transactionsFailed;
    o["timeouts"] = c.timeouts;
    o["crc_errors"] = c.crcErrors;
    o["exceptions"] = c.exceptions;
    o["other_failures"] = c.otherFailures;
    return o;
}

std::optional<CallResult> callFromJson(const QJsonObject& o)
{
    CallResult c;
    bool ok = false;
    c.outcome = outcomeFromName(o["outcome"].toString(), &ok);
    c.callId = o["call"].toString();
    c.station = o["station"].toString().toStdString();
    c.started = QDateTime::fromString(o["started"].toString(), Qt::ISODateWithMs);
    if (!ok || c.callId.isEmpty() || c.station.empty() || !c.started.isValid() || !o["records"].isArray())
        return std::nullopt;
    c.port = o["port"].toString().toStdString();
    c.seconds = o["seconds"].toDouble();
    c.attempt = o["attempt"].toInt(1);
    c.why = o["why"].toString().toStdString();
    const int device = o["device"].toInt();
    if (device < 0 || device > 8 * 255) return std::nullopt;
    c.deviceNumber = unsigned(device);
    if (o["measurements"].isObject()) {
        const QJsonObject m = o["measurements"].toObject();
        c.measurements = Measurements{float(m["p1"].toDouble()), float(m["p2"].toDouble()), float(m["tg"].toDouble()),
                                      float(m["qi"].toDouble()), float(m["vbat"].toDouble()), 0};
    }
    if (o["clock_offset_s"].isDouble()) c.clockOffsetS = (long long)o["clock_offset_s"].toDouble();
    c.deviceTime = o["device_time"].toString();
    c.clockSet = o["clock_set"].toBool();
    for (const QJsonValue& v : o["records"].toArray()) {
        const QJsonObject r = v.toObject();
        const QStringList words = r["stamp"].toString().split(QLatin1Char(':'));
        const int start = r["start"].toInt(-1);
        if (words.size() != 3 || start < 0 || start > 0xFFFF) return std::nullopt;
        journal::RecordData d;
        d.key.start = uint16_t(start);
        for (int i = 0; i < 3; ++i) {
            const auto w = fromHex4(words[i]);
            if (!w) return std::nullopt;
            d.key.stamp[std::size_t(i)] = *w;
        }
        const QDateTime at = QDateTime::fromString(r["time"].toString(), Qt::ISODate);
        if (at.isValid()) {
            d.stamp = {at.time().hour(), at.time().minute(), at.time().second(),
                       at.date().day(), at.date().month(), at.date().year()};
        } else {
            d.stamp.month = 0;  // an impossible date, as read
        }
        d.p1 = float(r["p1"].toDouble());
        d.p2 = float(r["p2"].toDouble());
        d.t = float(r["t"].toDouble());
        d.q = float(r["q"].toDouble());
        d.entries = r["entries"].toInt();
        d.text = r["text"].toString().toStdString();
        c.records.push_back(std::move(d));
    }
    c.journalCutShort = o["journal_cut_short"].toBool();
    if (o["setpoint_differences"].isArray()) {
        c.hasProfile = true;
        for (const QJsonValue& v : o["setpoint_differences"].toArray()) c.setpointDifferences.push_back(v.toInt());
    }
    c.profileProblem = o["profile_problem"].toString().toStdString();
    c.transactionsOk = o["transactions_ok"].toInt();
    c.transactionsFailed = o["transactions_failed"].toInt();
    c.timeouts = o["timeouts"].toInt();
    c.crcErrors = o["crc_errors"].toInt();
    c.exceptions = o["exceptions"].toInt();
    c.otherFailures = o["other_failures"].toInt();
    return c;
}

QString callToInflux(const CallResult& c)
{
    const QString station = tagValue(QString::fromStdString(c.station));
    QString out = QStringLiteral("zrv_call,station=%1,outcome=%2 device=%3i,seconds=%4,records=%5i,tx_ok=%6i,tx_failed=%7i")
                      .arg(station, QLatin1String(outcomeName(c.outcome)))
                      .arg(c.deviceNumber)
                      .arg(c.seconds, 0, 'f', 3)
                      .arg(c.records.size())
                      .arg(c.transactionsOk)
                      .arg(c.transactionsFailed);
    out += QStringLiteral(",timeouts=%1i,crc_errors=%2i,exceptions=%3i").arg(c.timeouts).arg(c.crcErrors).arg(c.exceptions);
    if (c.measurements)
        out += QStringLiteral(",p1=%1,p2=%2,tg=%3,qi=%4")
                   .arg(double(c.measurements->p1))
                   .arg(double(c.measurements->p2))
                   .arg(double(c.measurements->tg))
                   .arg(double(c.measurements->qi));
    if (c.clockOffsetS) out += QStringLiteral(",clock_offset_s=%1i").arg(*c.clockOffsetS);
    if (c.hasProfile) out += QStringLiteral(",setpoint_differences=%1i").arg(c.setpointDifferences.size());
    out += QStringLiteral(" %1\n").arg(c.started.toMSecsSinceEpoch() * 1000000LL);
    for (const journal::RecordData& r : c.records) {
        const QString iso = stampIso(r.stamp);
        if (iso.isEmpty()) continue;  // no time of its own to land at
        const QDateTime at = QDateTime::fromString(iso, Qt::ISODate);
        out += QStringLiteral("zrv_journal,station=%1,device=%2 p1=%3,p2=%4,t=%5,q=%6,entries=%7i,start=%8i,stamp=%9 %10\n")
                   .arg(station)
                   .arg(c.deviceNumber)
                   .arg(double(r.p1))
                   .arg(double(r.p2))
                   .arg(double(r.t))
                   .arg(double(r.q))
                   .arg(r.entries)
                   .arg(r.key.start)
                   .arg(fieldString(stampKey(r.key)))
                   .arg(QDateTime(at.date(), at.time(), Qt::LocalTime).toMSecsSinceEpoch() * 1000000LL);
    }
    return out;
}

}  // namespace zrv::collect
