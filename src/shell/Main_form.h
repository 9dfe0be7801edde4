#pragma once
// The multi-document frame: menus, the two-panel status bar, the polling timer
// and the view timer, the settings and the close.

#include "session/Session.h"
#include "windowbase/SettingsFile.h"

#include <QLabel>
#include <QMainWindow>
#include <QTimer>

#include <functional>

class QMdiArea;
class QMdiSubWindow;

class TMain : public QMainWindow {
    Q_OBJECT
public:
    explicit TMain(zrv::Session& session, QWidget* parent = nullptr);

    QMdiArea* mdiArea() const { return m_mdi; }

    // Components, by their layout names.
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel0 = nullptr;  // device state
    QLabel* StatusPanel1 = nullptr;  // transaction counters
    const QTimer* Timer1 = nullptr;  // the session's: one polling step per tick
    QTimer* Timer2 = nullptr;        // keeps the view ticks in step
    QAction* N10 = nullptr;          // "Открыть..."
    QAction* N9 = nullptr;           // "Сохранить..."
    QAction* N2 = nullptr;           // "Выход"
    QAction* ChangeLogF = nullptr;   // "Журнал изменений..."
    QAction* SelectF = nullptr;
    QAction* MeasureF = nullptr;
    QAction* Front_PanelF = nullptr;
    QAction* SetsF = nullptr;
    QAction* LogF = nullptr;
    QAction* N8 = nullptr;   // "Установить Время"
    QAction* N4 = nullptr;   // "Считать Журнал"
    QAction* TrafficF = nullptr;     // "Монитор обмена"
    QAction* TrendsF = nullptr;      // "Графики"
    QAction* StationsF = nullptr;    // "Станции"
    QAction* NewRecordsF = nullptr;  // "Считать новые записи"
    QAction* FastF = nullptr;        // "Быстрый обмен", a tick
    QAction* N12 = nullptr;  // "Каскад"
    QAction* N11 = nullptr;  // "О программе"

    // The values read from zrvterm.ini at construction.
    zrv::Settings settings;
    // Why the file was not used, when it was malformed; empty otherwise.
    QString settingsProblem;

    // Status panels; window thread only.
    void setDeviceStatus(const QString& text) { StatusPanel0->setText(text); }
    void setLinkStatus(const QString& text) { StatusPanel1->setText(text); }

    // The child windows that the "Вид" items show and put aside.
    void setViewWindows(QMdiSubWindow* select, QMdiSubWindow* measure, QMdiSubWindow* frontPanel, QMdiSubWindow* sets,
                        QMdiSubWindow* log);
    // The diagnostic windows, shown and put aside by their own "Вид" items.
    void setDiagnosticWindows(QMdiSubWindow* traffic, QMdiSubWindow* trends);
    // The fleet's roster and the record of changes made to devices.
    void setFleetWindows(QMdiSubWindow* stations, QMdiSubWindow* changeLog);
    // What the close handler writes; the wiring gathers it from the windows.
    std::function<zrv::SettingsSnapshot()> settingsSource;

    // Writes zrvterm.ini from the live windows; false (after saying why) when
    // the file could not be written.
    bool Exit();

    // Which commands apply, from the connection's state.
    void SessionStateChange(const zrv::SessionState& state);

signals:
    void clockWindowRequested();  // shown modally while the signal is handled
    void aboutRequested();
    // The wiring asks for the reading and hands its reply to the windows
    // that show one; it knows which records are held.
    void journalRequested();
    void newRecordsRequested();
    // The window has closed and zrvterm.ini is written: the connection is to
    // end and the program with it.
    void closed();

public slots:
    void Timer1Timer();
    void Timer2Timer();
    void N8Click();
    void N4Click();
    void N11Click();
    void N12Click();
    void N2Click() { close(); }
    void SelectFClick(bool ticked);
    void MeasureFClick(bool ticked);
    void Front_PanelFClick(bool ticked);
    void SetsFClick(bool ticked);
    void LogFClick(bool ticked);
    void FastFClick(bool ticked);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void toggleView(QAction* item, QMdiSubWindow* window, bool ticked);
    void buildMenus();

    zrv::Session& m_session;
    QMdiArea* m_mdi = nullptr;
    QMdiSubWindow* m_select = nullptr;
    QMdiSubWindow* m_measure = nullptr;
    QMdiSubWindow* m_frontPanel = nullptr;
    QMdiSubWindow* m_sets = nullptr;
    QMdiSubWindow* m_log = nullptr;
    QMdiSubWindow* m_traffic = nullptr;
    QMdiSubWindow* m_trends = nullptr;
    QMdiSubWindow* m_stations = nullptr;
    QMdiSubWindow* m_changeLog = nullptr;
    bool m_closed = false;
};
