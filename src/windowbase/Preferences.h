#pragma once
// The operator's preferences beyond zrvterm.ini: the fast exchange tick, the
// traffic monitor's and the trend window's choices, the records of the
// journal reports last saved. They live in $XDG_CONFIG_HOME/zrvterm/
// zrvterm.conf (~/.config/zrvterm/zrvterm.conf), so that zrvterm.ini keeps
// exactly the lines other installations and tools expect.

#include <QString>
#include <QVariant>

#include <optional>

namespace zrv::prefs {

QString path();
QVariant value(const QString& key, const QVariant& fallback = {});
void setValue(const QString& key, const QVariant& value);

// Keys.
inline constexpr char kFastFraming[] = "link/fastFraming";
inline constexpr char kMonitorErrorsOnly[] = "monitor/errorsOnly";
inline constexpr char kTrendSpan[] = "trends/span";
// The journal report last saved for a device: its file and the records it
// held (as journal::formatRecordKeys writes them).
struct SavedReport {
    unsigned deviceNumber = 0;
    QString records;
};
void rememberSavedReport(unsigned deviceNumber, const QString& records, const QString& path);
QString savedReportRecords(unsigned deviceNumber);
// The device whose last saved report is the file at `path`, if any.
std::optional<SavedReport> savedReportAt(const QString& path);

}  // namespace zrv::prefs
