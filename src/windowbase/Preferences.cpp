#include "Preferences.h"

#include <QDir>
#include <QFileInfo>
#include <QSettings>

namespace zrv::prefs {

QString path()
{
    QString base = qEnvironmentVariable("XDG_CONFIG_HOME");
    if (base.isEmpty()) base = QDir::homePath() + QStringLiteral("/.config");
    return base + QStringLiteral("/zrvterm/zrvterm.conf");
}

QVariant value(const QString& key, const QVariant& fallback)
{
    const QSettings s(path(), QSettings::IniFormat);
    return s.value(key, fallback);
}

void setValue(const QString& key, const QVariant& value)
{
    QSettings s(path(), QSettings::IniFormat);
    s.setValue(key, value);
    s.sync();
    // A preference that cannot be kept costs the operator a tick, not work:
    // it is said on stderr and the program goes on.
    if (s.status() != QSettings::NoError)
        qWarning("zrvterm: %s could not be written", qPrintable(path()));
}

namespace {
// "journal/ZRV-<n>/records" and ".../file".
QString journalKey(unsigned deviceNumber, const char* what)
{
    return QStringLiteral("journal/ZRV-%1/%2").arg(deviceNumber).arg(QLatin1String(what));
}
}  // namespace

void rememberSavedReport(unsigned deviceNumber, const QString& records, const QString& path)
{
    setValue(journalKey(deviceNumber, "records"), records);
    setValue(journalKey(deviceNumber, "file"), QFileInfo(path).absoluteFilePath());
}

QString savedReportRecords(unsigned deviceNumber) { return value(journalKey(deviceNumber, "records")).toString(); }

std::optional<SavedReport> savedReportAt(const QString& path)
{
    QSettings s(zrv::prefs::path(), QSettings::IniFormat);
    s.beginGroup(QStringLiteral("journal"));
    const QString absolute = QFileInfo(path).absoluteFilePath();
    for (const QString& device : s.childGroups()) {
        if (!device.startsWith(QLatin1String("ZRV-")) || s.value(device + QStringLiteral("/file")).toString() != absolute)
            continue;
        bool ok = false;
        const unsigned n = device.mid(4).toUInt(&ok);
        if (ok) return SavedReport{n, s.value(device + QStringLiteral("/records")).toString()};
    }
    return std::nullopt;
}

}  // namespace zrv::prefs
