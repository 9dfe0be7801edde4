#pragma once
// "Станции": the collector's roster, one row a station, with what the
// collector's store says of its last call, and the changes this terminal made
// there. A double click or Enter on a row chooses the station in "Выбор
// устройства" (the wiring does that; connecting stays the operator's press).

#ifndef ZRV_UI_STATIONS
#error "a window of another subsystem includes this one: windows know the session, never each other; shell/Terminal wires them"
#endif

#include "fleet/FleetStatus.h"
#include "fleet/Roster.h"
#include "session/ChangeLog.h"
#include "session/Session.h"
#include "windowbase/ChildForm.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDateTime>
#include <QLabel>
#include <QPushButton>
#include <QTableWidget>

#include <functional>
#include <map>

class TStationHistory;

// What choosing a station asks of "Выбор устройства" and the modem window.
struct StationChoice {
    QString name;
    int com = 0;
    int address = 1;
    QString phone;    // empty: direct, no modem
    QString profile;  // the approved setpoints, when the roster names them
};

class TStations : public TChildForm {
    Q_OBJECT
public:
    TStations(QMdiArea* area, zrv::Session& session);

    QLabel* RosterPath = nullptr;
    QPushButton* OpenRoster = nullptr;  // "Открыть список станций..."
    QPushButton* Refresh = nullptr;     // "Обновить"
    QCheckBox* AttentionOnly = nullptr;
    QCheckBox* FindingsOnly = nullptr;  // "Только с замечаниями"
    QTableWidget* Table = nullptr;
    QLabel* StoreState = nullptr;
    QPushButton* Choose = nullptr;      // "Выбрать", as a double click does
    QPushButton* ShowHistory = nullptr; // "История...": the chosen row's station
    QLabel* ChoiceState = nullptr;
    QLabel* ChangesCaption = nullptr;
    QTableWidget* Changes = nullptr;    // the chosen row's station's last changes

    // The table's columns.
    enum Column { Name, Port, Address, Phone, LastCall, Outcome, ClockOffset, Differences, NewRecords, Findings, kColumns };

    // Reads the roster (remembered in zrvterm.conf when it could be read)
    // and the store beside it; false when the roster was refused, which the
    // window then says.
    bool openRoster(const QString& path);
    // The store and the change record read anew.
    void refresh();
    // The table row that shows a station; -1 when none does.
    int rowOf(const QString& stationName) const;
    // Chooses the station shown in `row`, as a double click does; false
    // (and the window says why) when it could not be chosen.
    bool chooseRow(int row);
    // The profile of the roster station that COMn and the address lead to;
    // empty when none. Reads the remembered roster if the window has not.
    QString profileFor(int com, int address);
    // The history of the station shown in `row`, in its own window (made on
    // first use); false when the row names none or no store is known.
    bool showHistory(int row);
    TStationHistory* history() const { return m_history; }

    // Fills "Выбор устройства" (and the modem window's number); an empty
    // answer when done, else why not. The wiring sets it.
    std::function<QString(const StationChoice&)> fillSelection;
    // Asks for a roster file; tests put their own answer here.
    std::function<QString()> chooseFile;

signals:
    // The store and the change record have been read and shown.
    void refreshed();

protected:
    void showEvent(QShowEvent* event) override;

private:
    // The roster of the last session, or the packaged collector's; true when
    // one was opened now.
    bool openRememberedRoster();
    void fillTable();
    void applyFilter();
    void showChanges();
    const zrv::fleet::Station* stationAt(int row) const;
    // The ports-folder entry this window made last (zrvterm.conf).
    std::optional<zrv::fleet::OwnEntry> ownEntry() const;
    void setOwnEntry(const std::optional<zrv::fleet::OwnEntry>& entry);

    zrv::Session& m_session;
    QString m_rosterPath;
    bool m_triedRemembered = false;
    QString m_rosterProblem;  // the roster on disk was refused: why
    QString m_callsStore;     // the store m_calls were read from
    QDateTime m_callsReadAt;
    zrv::fleet::Roster m_roster;
    std::map<std::string, zrv::fleet::LastCall> m_calls;
    zrv::fleet::StationFindings m_findings;  // open, as read with the calls
    std::string m_source;                    // the store read: a file or a PostgreSQL URL
    TStationHistory* m_history = nullptr;
    // The change record's newest rows by port, newest first, as last read:
    // on a refresh and after each write, not on every row moved to.
    std::map<QString, std::vector<zrv::ChangeRow>> m_changes;
    unsigned m_generation = 0;  // of the reads asked for; only the last one is shown
};

// "Журнал изменений": every write this terminal made to a device, from
// changes.jsonl, newest first, with a filter by device.
class TChangeLog : public TChildForm {
    Q_OBJECT
public:
    TChangeLog(QMdiArea* area, zrv::Session& session);

    QComboBox* DeviceFilter = nullptr;
    QTableWidget* Table = nullptr;
    QLabel* Summary = nullptr;

    // The file read anew (aside from the window thread).
    void reload();

    // The newest rows a table holds at once.
    static constexpr std::size_t kShownRows = 2000;

signals:
    void reloaded();

protected:
    void showEvent(QShowEvent* event) override;

private:
    void showRows();
    zrv::Session& m_session;
    zrv::ChangeLog m_log;
    QString m_path;
    unsigned m_generation = 0;
};
