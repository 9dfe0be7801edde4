#pragma once
// The operator's preferences beyond zrvterm.ini: the fast exchange tick, the
// traffic monitor's and the trend window's choices, the records of the
// journal reports last saved. They live in $XDG_CONFIG_HOME/zrvterm/
// zrvterm.conf (~/.config/zrvterm/zrvterm.conf), so that zrvterm.ini keeps
// exactly the lines other installations and tools expect.

#include <QString>
#include <QVariant>

namespace zrv::prefs {

QString path();
QVariant value(const QString& key, const QVariant& fallback = {});
void setValue(const QString& key, const QVariant& value);

// Keys.
inline constexpr char kFastFraming[] = "link/fastFraming";
inline constexpr char kMonitorErrorsOnly[] = "monitor/errorsOnly";
inline constexpr char kTrendSpan[] = "trends/span";
// "journal/ZRV-<n>/records" and ".../file": the report last saved for a device.
QString journalKey(unsigned deviceNumber, const char* what);

}  // namespace zrv::prefs
