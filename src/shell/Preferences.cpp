#include "Preferences.h"

#include <QDir>
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

QString journalKey(unsigned deviceNumber, const char* what)
{
    return QStringLiteral("journal/ZRV-%1/%2").arg(deviceNumber).arg(QLatin1String(what));
}

}  // namespace zrv::prefs
