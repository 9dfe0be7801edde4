#pragma once
// The multi-document frame: menus, the two-panel status bar, the polling timer
// and the view timer, the settings, the polling pause and the close sequence.

#include "shell/SettingsFile.h"

#include <QLabel>
#include <QMainWindow>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <functional>

class QMdiArea;
class QMdiSubWindow;

class TMain : public QMainWindow {
    Q_OBJECT
public:
    // The device's model designation, in the title and the About box.
    static constexpr const char* kModel = "DGR-8";

    explicit TMain(QWidget* parent = nullptr);
    ~TMain() override;

    QMdiArea* mdiArea() const { return m_mdi; }

    // Components, by their layout names.
    QStatusBar* StatusBar1 = nullptr;
    QLabel* StatusPanel0 = nullptr;  // device state
    QLabel* StatusPanel1 = nullptr;  // transaction counters
    QTimer* Timer1 = nullptr;        // one polling step per tick
    QTimer* Timer2 = nullptr;        // keeps the view ticks in step
    QAction* N10 = nullptr;          // "Открыть..."
    QAction* N9 = nullptr;           // "Сохранить..."
    QAction* N2 = nullptr;           // "Выход"
    QAction* SelectF = nullptr;
    QAction* MeasureF = nullptr;
    QAction* Front_PanelF = nullptr;
    QAction* SetsF = nullptr;
    QAction* LogF = nullptr;
    QAction* N8 = nullptr;   // "Установить Время"
    QAction* N4 = nullptr;   // "Считать Журнал"
    QAction* N12 = nullptr;  // "Каскад"
    QAction* N11 = nullptr;  // "О программе"

    // The values read from zrvterm.ini at construction.
    zrv::Settings settings;
    // Why the file was not used, when it was malformed; empty otherwise.
    QString settingsProblem;

    // Status panels; window thread only.
    void setDeviceStatus(const QString& text) { StatusPanel0->setText(text); }
    void setLinkStatus(const QString& text) { StatusPanel1->setText(text); }

    // Polling. The factory starts one polling step and returns its worker.
    void setPollingWorkerFactory(std::function<QThread*()> factory) { m_pollingFactory = std::move(factory); }
    QThread* pollingWorker() const { return m_pollingWorker.data(); }
    // Waits until the running polling step, if any, has ended, then lets its
    // window updates take effect, so that nothing it posted lands later.
    void waitForPollingWorker();
    // The polling pause: Timer1 off and the running step awaited ...
    void beginPollingPause();
    // ... and Timer1 on again.
    void endPollingPause() { Timer1->start(); }
    template <typename F>
    void withPollingPause(F&& transactions)
    {
        beginPollingPause();
        transactions();
        endPollingPause();
    }

    // Journal reading (filled by the journal window): start, and stop-and-wait
    // for the close sequence.
    std::function<void()> startJournalReading;
    std::function<void()> stopJournalReader;
    bool journalReading = false;

    // What the close handler writes.
    zrv::SettingsSnapshot settingsSnapshot() const;
    // Writes zrvterm.ini from the live windows.
    void Exit();
    // Ends the polling and any journal reading, so no worker outlives the
    // windows it updates.
    void stopWorkers();

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

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    void toggleView(QAction* item, QMdiSubWindow* window, bool ticked);
    void buildMenus();

    QMdiArea* m_mdi = nullptr;
    QPointer<QThread> m_pollingWorker;
    std::function<QThread*()> m_pollingFactory;
    bool m_closed = false;
};
