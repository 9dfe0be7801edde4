#include "ChangeLog.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

namespace zrv {

namespace {

constexpr qsizetype kLongestChangeLine = 64 * 1024;

QString jsonText(const QJsonValue& v)
{
    if (v.isUndefined() || v.isNull()) return {};
    if (v.isString()) return v.toString();
    if (v.isObject()) return QString::fromUtf8(QJsonDocument(v.toObject()).toJson(QJsonDocument::Compact));
    if (v.isArray()) return QString::fromUtf8(QJsonDocument(v.toArray()).toJson(QJsonDocument::Compact));
    if (v.isBool()) return v.toBool() ? QStringLiteral("true") : QStringLiteral("false");
    // Register values are integers; a fraction would be the file's own.
    const double d = v.toDouble();
    return d == double(qint64(d)) ? QString::number(qint64(d)) : QString::number(d);
}

}  // namespace

ChangeLog readChangeLog(const QString& path, qint64 maxBytes)
{
    ChangeLog log;
    QFile f(path);
    if (!f.exists()) return log;
    if (!f.open(QIODevice::ReadOnly)) {
        log.problem = path + QStringLiteral(": ") + f.errorString();
        return log;
    }
    const qint64 size = f.size();
    if (size > maxBytes) {
        // The newest part: from the first line that starts in it.
        f.seek(size - maxBytes);
        f.readLine(maxBytes);
        log.cutShort = true;
    }
    const QByteArray bytes = f.read(maxBytes);
    for (const QByteArray& line : bytes.split('\n')) {
        if (line.trimmed().isEmpty()) continue;
        // A change is a short line (a whole set of setpoints is a few
        // kilobytes); one of megabytes is damage, set aside like the rest.
        if (line.size() > kLongestChangeLine) {
            ++log.unreadable;
            continue;
        }
        QJsonParseError error{};
        const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
        const QJsonObject o = doc.object();
        if (error.error != QJsonParseError::NoError || !doc.isObject() || !o.value(QLatin1String("what")).isString()) {
            ++log.unreadable;
            continue;
        }
        ChangeRow r;
        r.local = o.value(QLatin1String("local")).toString();
        r.utc = o.value(QLatin1String("utc")).toString();
        r.user = o.value(QLatin1String("user")).toString();
        r.host = o.value(QLatin1String("host")).toString();
        r.port = o.value(QLatin1String("port")).toString();
        const double device = o.value(QLatin1String("device")).toDouble(0);
        r.device = device >= 0 && device <= 0xFFFF ? unsigned(device) : 0;
        r.what = o.value(QLatin1String("what")).toString();
        r.before = jsonText(o.value(QLatin1String("before")));
        r.after = jsonText(o.value(QLatin1String("after")));
        r.outcome = o.value(QLatin1String("outcome")).toString();
        log.rows.push_back(std::move(r));
    }
    return log;
}

QString changeWhatText(const QString& what)
{
    if (what.startsWith(QLatin1String("valve "))) return QStringLiteral("клапан ") + what.mid(6);
    if (what == QLatin1String("step")) return QStringLiteral("шаг");
    if (what == QLatin1String("mode")) return QStringLiteral("режим");
    if (what == QLatin1String("external control")) return QStringLiteral("внешнее управление");
    if (what == QLatin1String("setpoints")) return QStringLiteral("уставки");
    if (what == QLatin1String("clock")) return QStringLiteral("часы");
    return what;
}

}  // namespace zrv
