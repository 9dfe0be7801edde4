#include "CallJson.h"

#include <QJsonArray>

#include <cmath>
#include <limits>

namespace zrv::collect {

namespace {

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
    s = printable(std::move(s));
    s.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    for (const char* c : {",", "=", " "}) s.replace(QLatin1String(c), QLatin1String("\\") + QLatin1String(c));
    return s;
}

QString fieldString(QString s)
{
    s = printable(std::move(s));
    s.replace(QLatin1Char('\\'), QLatin1String("\\\\"));
    s.replace(QLatin1Char('"'), QLatin1String("\\\""));
    return QLatin1Char('"') + s + QLatin1Char('"');
}

QJsonValue number(float v) { return std::isfinite(v) ? QJsonValue(double(v)) : QJsonValue(); }

// The earliest a call or a record can be (the device counts years from 2000)
// and the latest a call can be: the host's clock now and a day of leeway.
const QDateTime kEarliest(QDate(2000, 1, 1), QTime(0, 0), Qt::UTC);
bool plausibleStart(const QDateTime& t)
{
    return t.isValid() && t >= kEarliest && t <= QDateTime::currentDateTimeUtc().addDays(1);
}

// Line protocol's time: nanoseconds in a signed 64-bit number, which holds
// the years 1678..2261 only.
std::optional<qint64> nanoseconds(qint64 ms)
{
    constexpr qint64 kLimit = std::numeric_limits<qint64>::max() / 1000000;
    if (ms < 0 || ms > kLimit) return std::nullopt;
    return ms * 1000000;
}

// ",name=value" for each finite value; line protocol knows no NaN.
QString floatFields(std::initializer_list<std::pair<const char*, float>> fields, bool leadingComma)
{
    QString out;
    for (const auto& [name, v] : fields) {
        if (!std::isfinite(v)) continue;
        if (leadingComma || !out.isEmpty()) out += QLatin1Char(',');
        out += QLatin1String(name) + QLatin1Char('=') + QString::number(double(v), 'g', 9);
    }
    return out;
}

}  // namespace

QString printable(QString text)
{
    for (QChar& c : text) {
        const char16_t u = c.unicode();
        if (u < 0x20 || u == 0x7F || (u >= 0x80 && u <= 0x9F)) c = QChar(0xFFFD);
    }
    return text;
}

QJsonObject recordToJson(const journal::RecordData& r)
{
    QJsonObject o;
    o["start"] = int(r.key.start);
    o["stamp"] = stampKey(r.key);
    const QString at = stampIso(r.stamp);
    o["time"] = at.isEmpty() ? QJsonValue() : QJsonValue(at);
    o["p1"] = number(r.p1);
    o["p2"] = number(r.p2);
    o["t"] = number(r.t);
    o["q"] = number(r.q);
    o["entries"] = r.entries;
    o["text"] = QString::fromStdString(r.text);
    return o;
}

QJsonObject findingToJson(const Finding& f)
{
    QJsonObject o;
    o["kind"] = QString::fromStdString(f.kind);
    o["severity"] = QString::fromStdString(f.severity);
    o["since"] = QString::fromStdString(f.since);
    o["text"] = QString::fromStdString(f.text);
    o["values"] = findingValuesToJson(f.values);
    return o;
}

std::optional<Finding> findingFromJson(const QJsonObject& o)
{
    Finding f;
    f.kind = o["kind"].toString().toStdString();
    f.severity = o["severity"].toString().toStdString();
    f.since = o["since"].toString().toStdString();
    f.text = o["text"].toString().toStdString();
    if (f.kind.empty() || f.kind.size() > 64 || (f.severity != kWarning && f.severity != kCritical) ||
        !QDateTime::fromString(QString::fromStdString(f.since), Qt::ISODateWithMs).isValid() || f.text.size() > 4096)
        return std::nullopt;
    const QJsonObject values = o["values"].toObject();
    if (values.size() > kFindingValues) return std::nullopt;
    f.values = findingValuesFromJson(values);
    return f;
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
    if (!c.collector.empty()) o["collector"] = QString::fromStdString(c.collector);
    if (c.nextDue) o["next_due"] = c.nextDue->toString(Qt::ISODateWithMs);
    if (c.leaseToken) o["lease"] = double(*c.leaseToken);
    o["device"] = int(c.deviceNumber);
    if (c.measurements) {
        QJsonObject m;
        m["p1"] = number(c.measurements->p1);
        m["p2"] = number(c.measurements->p2);
        m["tg"] = number(c.measurements->tg);
        m["qi"] = number(c.measurements->qi);
        m["vbat"] = number(c.measurements->vbat);
        o["measurements"] = m;
    }
    if (c.onBattery) o["on_battery"] = *c.onBattery;
    if (c.limits) {
        QJsonObject l;
        l["p2_max"] = number(c.limits->p2Max);
        l["p2_min"] = number(c.limits->p2Min);
        l["p1_max"] = number(c.limits->p1Max);
        l["p1_min"] = number(c.limits->p1Min);
        o["limits"] = l;
    }
    if (c.clockOffsetS) o["clock_offset_s"] = double(*c.clockOffsetS);
    if (!c.deviceTime.isEmpty()) o["device_time"] = c.deviceTime;
    o["clock_set"] = c.clockSet;
    QJsonArray records;
    for (const journal::RecordData& r : c.records) records.append(recordToJson(r));
    o["records"] = records;
    o["journal_cut_short"] = c.journalCutShort;
    if (c.recordsLost) o["records_lost"] = c.recordsLost;
    if (c.cursor) {
        QJsonObject k;
        k["keys"] = QString::fromStdString(journal::formatRecordKeys(c.cursor->keys));
        if (c.cursor->end) k["end"] = int(*c.cursor->end);
        if (!c.cursor->gaps.empty()) k["gaps"] = QString::fromStdString(journal::formatGaps(c.cursor->gaps));
        o["cursor"] = k;
    }
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
    const auto list = [](const std::vector<Finding>& fs) {
        QJsonArray a;
        for (const Finding& f : fs) a.append(findingToJson(f));
        return a;
    };
    QJsonObject health;
    health["open"] = list(c.health.open);
    QJsonArray judged;
    for (const std::string& k : c.health.judged) judged.append(QString::fromStdString(k));
    health["judged"] = judged;
    health["opened"] = list(c.health.opened);
    health["cleared"] = list(c.health.cleared);
    o["health"] = health;
    return o;
}

std::optional<CallResult> callFromJson(const QJsonObject& o)
{
    // A number the file holds, within [lo, hi]; a whole one where asked.
    const auto whole = [](const QJsonValue& v, double lo, double hi, int fallback, bool* ok) {
        if (v.isUndefined() || v.isNull()) return fallback;
        const double d = v.toDouble(std::nan(""));
        if (!v.isDouble() || !(d >= lo && d <= hi) || d != std::floor(d)) *ok = false;
        return *ok ? int(d) : fallback;
    };
    // null (or nothing) is a value the device gave as no number.
    const auto real = [](const QJsonValue& v, bool* ok) {
        if (v.isUndefined() || v.isNull()) return std::numeric_limits<float>::quiet_NaN();
        if (!v.isDouble()) *ok = false;
        return float(v.toDouble());
    };
    CallResult c;
    bool ok = false;
    c.outcome = outcomeFromName(o["outcome"].toString(), &ok);
    c.callId = o["call"].toString();
    c.station = o["station"].toString().toStdString();
    c.started = QDateTime::fromString(o["started"].toString(), Qt::ISODateWithMs);
    if (!ok || c.callId.isEmpty() || c.callId.size() > 64 || c.station.empty() || !plausibleStart(c.started) ||
        !o["records"].isArray())
        return std::nullopt;
    c.started = c.started.toUTC();
    c.port = o["port"].toString().toStdString();
    c.seconds = o["seconds"].toDouble();
    if (!(c.seconds >= 0 && c.seconds <= 366.0 * 86400)) return std::nullopt;
    c.attempt = whole(o["attempt"], 1, 1000, 1, &ok);
    c.why = o["why"].toString().toStdString();
    c.collector = o["collector"].toString().left(256).toStdString();
    if (o["next_due"].isString()) {
        const QDateTime due = QDateTime::fromString(o["next_due"].toString(), Qt::ISODateWithMs);
        if (!plausibleStart(due)) return std::nullopt;
        c.nextDue = due.toUTC();
    }
    if (o.contains("lease")) {
        const double token = o["lease"].toDouble(-1);
        // Counted up by one a claim: anything else is no claim of ours.
        if (!(token >= 0 && token <= 9.0e15 && token == std::floor(token))) return std::nullopt;
        c.leaseToken = (long long)token;
    }
    c.deviceNumber = unsigned(whole(o["device"], 0, 8 * 255, 0, &ok));
    if (o["measurements"].isObject()) {
        const QJsonObject m = o["measurements"].toObject();
        c.measurements = Measurements{real(m["p1"], &ok), real(m["p2"], &ok), real(m["tg"], &ok),
                                      real(m["qi"], &ok), real(m["vbat"], &ok), 0};
    }
    // A device's clock a century off is no clock reading.
    if (!o["clock_offset_s"].isUndefined()) {
        const double offset = o["clock_offset_s"].toDouble(std::nan(""));
        if (!(std::fabs(offset) <= 3.2e9)) return std::nullopt;
        c.clockOffsetS = (long long)offset;
    }
    if (o["on_battery"].isBool()) c.onBattery = o["on_battery"].toBool();
    if (o["limits"].isObject()) {
        const QJsonObject l = o["limits"].toObject();
        c.limits = CallResult::Limits{real(l["p2_max"], &ok), real(l["p2_min"], &ok), real(l["p1_max"], &ok),
                                      real(l["p1_min"], &ok)};
    }
    c.deviceTime = o["device_time"].toString();
    c.clockSet = o["clock_set"].toBool();
    for (const QJsonValue& v : o["records"].toArray()) {
        const QJsonObject r = v.toObject();
        const QStringList words = r["stamp"].toString().split(QLatin1Char(':'));
        const int start = whole(r["start"], journal::kRingFirst, journal::kRingEnd - 1, -1, &ok);
        if (words.size() != 3 || start < 0) return std::nullopt;
        journal::RecordData d;
        d.key.start = uint16_t(start);
        for (int i = 0; i < 3; ++i) {
            const auto w = fromHex4(words[i]);
            if (!w) return std::nullopt;
            d.key.stamp[std::size_t(i)] = *w;
        }
        const QDateTime at = QDateTime::fromString(r["time"].toString(), Qt::ISODate);
        if (at.isValid()) {
            if (at.date().year() < 2000 || at.date().year() > 2255) return std::nullopt;
            d.stamp = {at.time().hour(), at.time().minute(), at.time().second(),
                       at.date().day(), at.date().month(), at.date().year()};
        } else if (!r["time"].isNull() && !r["time"].isUndefined()) {
            return std::nullopt;
        } else {
            d.stamp.month = 0;  // an impossible date, as read
        }
        d.p1 = real(r["p1"], &ok);
        d.p2 = real(r["p2"], &ok);
        d.t = real(r["t"], &ok);
        d.q = real(r["q"], &ok);
        d.entries = whole(r["entries"], 0, journal::kRingSize, 0, &ok);
        d.text = r["text"].toString().toStdString();
        c.records.push_back(std::move(d));
    }
    c.journalCutShort = o["journal_cut_short"].toBool();
    c.recordsLost = whole(o["records_lost"], 0, journal::kRingSize, 0, &ok);
    if (o["cursor"].isObject()) {
        const QJsonObject k = o["cursor"].toObject();
        journal::JournalCursor cursor;
        cursor.keys = journal::parseRecordKeys(k["keys"].toString().toStdString());
        const int end = whole(k["end"], journal::kRingFirst, journal::kRingEnd - 1, -1, &ok);
        if (end >= 0) cursor.end = uint16_t(end);
        cursor.gaps = journal::parseGaps(k["gaps"].toString().toStdString());
        c.cursor = std::move(cursor);
    }
    if (o["setpoint_differences"].isArray()) {
        c.hasProfile = true;
        for (const QJsonValue& v : o["setpoint_differences"].toArray())
            c.setpointDifferences.push_back(whole(v, 0, 0xFFFF, 0, &ok));
    }
    c.profileProblem = o["profile_problem"].toString().toStdString();
    c.transactionsOk = whole(o["transactions_ok"], 0, 1e9, 0, &ok);
    c.transactionsFailed = whole(o["transactions_failed"], 0, 1e9, 0, &ok);
    c.timeouts = whole(o["timeouts"], 0, 1e9, 0, &ok);
    c.crcErrors = whole(o["crc_errors"], 0, 1e9, 0, &ok);
    c.exceptions = whole(o["exceptions"], 0, 1e9, 0, &ok);
    c.otherFailures = whole(o["other_failures"], 0, 1e9, 0, &ok);
    // A call written before findings were judged has none: nothing to do.
    const QJsonObject health = o["health"].toObject();
    const auto list = [&ok](const QJsonValue& v, std::vector<Finding>* out) {
        const QJsonArray a = v.toArray();
        if (a.size() > 64) ok = false;
        for (const QJsonValue& e : a) {
            if (auto f = findingFromJson(e.toObject())) out->push_back(std::move(*f));
            else ok = false;
        }
    };
    list(health["open"], &c.health.open);
    list(health["opened"], &c.health.opened);
    list(health["cleared"], &c.health.cleared);
    for (const QJsonValue& k : health["judged"].toArray()) {
        const QString kindWord = k.toString();
        if (kindWord.isEmpty() || kindWord.size() > 64) ok = false;
        else c.health.judged.push_back(kindWord.toStdString());
    }
    if (!ok) return std::nullopt;
    return c;
}

QString callToInflux(const CallResult& c)
{
    const QString station = tagValue(QString::fromStdString(c.station));
    QString out;
    if (const auto at = nanoseconds(c.started.toMSecsSinceEpoch())) {
        // In one pass: a name holding "%1" must not take a number's place.
        out = QStringLiteral("zrv_call,station=%1,outcome=%2 device=%3i,seconds=%4,records=%5i,tx_ok=%6i,tx_failed=%7i")
                  .arg(station, QLatin1String(outcomeName(c.outcome)), QString::number(c.deviceNumber),
                       QString::number(c.seconds, 'f', 3), QString::number(c.records.size()),
                       QString::number(c.transactionsOk), QString::number(c.transactionsFailed));
        out += QStringLiteral(",timeouts=%1i,crc_errors=%2i,exceptions=%3i").arg(c.timeouts).arg(c.crcErrors).arg(c.exceptions);
        if (c.recordsLost) out += QStringLiteral(",records_lost=%1i").arg(c.recordsLost);
        if (c.measurements) {
            const Measurements& m = *c.measurements;
            out += floatFields({{"p1", m.p1}, {"p2", m.p2}, {"tg", m.tg}, {"qi", m.qi}}, true);
        }
        if (c.clockOffsetS) out += QStringLiteral(",clock_offset_s=%1i").arg(*c.clockOffsetS);
        if (c.hasProfile) out += QStringLiteral(",setpoint_differences=%1i").arg(c.setpointDifferences.size());
        out += QStringLiteral(" %1\n").arg(*at);
    }
    for (const journal::RecordData& r : c.records) {
        const QString iso = stampIso(r.stamp);
        if (iso.isEmpty()) continue;  // no time of its own to land at
        const QDateTime local = QDateTime::fromString(iso, Qt::ISODate);
        const auto at = nanoseconds(QDateTime(local.date(), local.time(), Qt::LocalTime).toMSecsSinceEpoch());
        if (!at) continue;
        const QString values = floatFields({{"p1", r.p1}, {"p2", r.p2}, {"t", r.t}, {"q", r.q}}, false);
        out += QStringLiteral("zrv_journal,station=%1,device=%2 %3%4entries=%5i,start=%6i,stamp=%7 %8\n")
                   .arg(station, QString::number(c.deviceNumber), values,
                        values.isEmpty() ? QString() : QStringLiteral(","), QString::number(r.entries),
                        QString::number(r.key.start), fieldString(stampKey(r.key)), QString::number(*at));
    }
    return out;
}

}  // namespace zrv::collect
