#pragma once
// "Монитор обмена": every transaction of the session as one row, newest at
// the bottom, for the engineer who needs to see which requests fail and how.
// The rows arrive through the session's trace signal, which the I/O thread
// hands over without waiting; the window keeps the newest 10,000.

#ifndef ZRV_UI_DIAGNOSTICS
#error "a window of another subsystem includes this one: windows know the session, never each other; shell/Terminal wires them"
#endif

#include "diagnostics/TrafficLog.h"
#include "session/Session.h"
#include "windowbase/ChildForm.h"

#include <QAbstractTableModel>
#include <QCheckBox>
#include <QLabel>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTableView>

#include <deque>
#include <functional>

namespace zrv::diagnostics {

class TrafficModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit TrafficModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

    void append(TrafficRow row);
    void clear();
    const TrafficLog& log() const { return m_log; }

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    static constexpr int kOutcomeRole = Qt::UserRole + 1;

private:
    TrafficLog m_log;
};

}  // namespace zrv::diagnostics

class TTrafficMonitor : public TChildForm {
    Q_OBJECT
public:
    TTrafficMonitor(QMdiArea* area, zrv::Session& session);

    QTableView* Table = nullptr;
    QCheckBox* ErrorsOnly = nullptr;  // "Только ошибки"
    QPushButton* Pause = nullptr;     // "Пауза", a toggle
    QPushButton* Clear = nullptr;     // "Очистить"
    QPushButton* Save = nullptr;      // "Сохранить..."
    QLabel* Counts = nullptr;

    zrv::diagnostics::TrafficModel& model() { return m_model; }
    // Rows as the table shows them now (the filter applied).
    int shownRows() const { return m_filter.rowCount(); }

    // Takes one transaction; while paused it waits (bounded like the table)
    // and comes in when the pause ends.
    void takeRecord(const zrv::TransactionRecord& record);
    // Writes the rows shown, one a line; a message says why it could not.
    bool saveTo(const QString& path);

    // Asks for the file name; tests put their own answer here.
    std::function<QString()> chooseFile;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void setPaused(bool paused);
    // The rows kept while paused or hidden go into the table.
    void takeHeld();
    void showCounts();

    zrv::diagnostics::TrafficModel m_model;
    QSortFilterProxyModel m_filter;
    std::deque<zrv::diagnostics::TrafficRow> m_held;  // while paused or hidden
    bool m_paused = false;
};
