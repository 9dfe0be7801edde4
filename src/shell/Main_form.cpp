#include "Main_form.h"

#include "windowbase/ChildForm.h"
#include "windowbase/MessageBox.h"
#include "windowbase/Preferences.h"
#include "windowbase/Product.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMdiSubWindow>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>

#include <cstdio>

TMain::TMain(zrv::Session& session, QWidget* parent) : QMainWindow(parent), m_session(session)
{
    setObjectName("Main_form");
    setWindowTitle(QStringLiteral("Терминал ZRV ") + QString::fromUtf8(kModel));

    m_mdi = new QMdiArea(this);
    m_mdi->setObjectName("ClientArea");
    setCentralWidget(m_mdi);

    StatusBar1 = statusBar();
    StatusBar1->setObjectName("StatusBar1");
    StatusPanel0 = new QLabel(QStringLiteral("Устройство не обнаружено"));
    StatusPanel0->setObjectName("StatusPanel0");
    // Screen readers speak a label's name instead of its text, so the
    // panels keep no name of their own: their text is what an operator hears.
    // The same holds for every value field of the terminal; accessible names,
    // where set, are captions for people, never object names.
    StatusPanel0->setAccessibleDescription(QStringLiteral("Состояние устройства"));
    StatusPanel0->setMinimumWidth(150);
    StatusPanel1 = new QLabel(QStringLiteral("Успешных транзакций 0/сбоев 0"));
    StatusPanel1->setObjectName("StatusPanel1");
    StatusPanel1->setAccessibleDescription(QStringLiteral("Счётчики транзакций"));
    StatusPanel1->setMinimumWidth(200);
    for (QLabel* panel : {StatusPanel0, StatusPanel1}) {
        panel->setFrameShape(QFrame::Panel);
        panel->setFrameShadow(QFrame::Sunken);
    }
    StatusBar1->addWidget(StatusPanel0);
    StatusBar1->addWidget(StatusPanel1, 1);

    buildMenus();

    // The session paces the polling; its timer keeps the frame's old name.
    Timer1 = m_session.pollingTimer();
    Timer2 = new QTimer(this);
    Timer2->setObjectName("Timer2");
    Timer2->setInterval(200);
    connect(Timer2, &QTimer::timeout, this, &TMain::Timer2Timer);
    Timer2->start();

    // Only the size comes from the file; the window is always centred.
    zrv::SettingsParse parsed = zrv::SettingsFile::read();
    settings = parsed.settings;
    if (parsed.malformed) {
        settingsProblem = QStringLiteral("Файл настроек %1 содержит неверное значение \"%2\" и не будет "
                                         "использован; приняты настройки по умолчанию.")
                              .arg(QString::fromUtf8(zrv::SettingsFile::kFileName),
                                   parsed.badValue.empty() ? QStringLiteral("(пусто)")
                                                           : QString::fromUtf8(parsed.badValue.c_str()));
    }
    int width = zrv::SettingsFile::kDefaultMainWidth;
    int height = zrv::SettingsFile::kDefaultMainHeight;
    if (settings.loaded) {
        width = settings.values[zrv::kSlotMainWidth];
        height = settings.values[zrv::kSlotMainHeight];
    }
    // Guard against sizes no window can take; the file is operator-editable.
    width = std::clamp(width, 200, 10000);
    height = std::clamp(height, 150, 10000);
    resize(width, height);
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    move(screen.width() / 2 - width / 2, screen.height() / 2 - height / 2);

    N8->setEnabled(false);
    N4->setEnabled(false);
    NewRecordsF->setEnabled(false);
    // Off unless the operator chose it; a line that needs the silence rule
    // must never get the fast one by surprise.
    const bool fast = zrv::prefs::value(QLatin1String(zrv::prefs::kFastFraming), false).toBool();
    FastF->setChecked(fast);
    zrv::Session::Options options = m_session.options();
    options.fastFraming = fast;
    m_session.setOptions(options);

    const auto found = [this](const zrv::PollSnapshot& s) {
        setDeviceStatus(QStringLiteral("Обнаружен ZRV-%1").arg(s.deviceNumber));
    };
    connect(&m_session, &zrv::Session::stateChanged, this,
            [this, found](const zrv::SessionState& state, const zrv::SessionState& before) {
                SessionStateChange(state);
                if (zrv::deviceFound(state, before)) found(zrv::snapshotOf(m_session.image()));
            });
    connect(&m_session, &zrv::Session::polled, this, found);
    connect(&m_session, &zrv::Session::transaction, this, [this] {
        const zrv::LinkCounters& c = m_session.counters();
        setLinkStatus(QString::fromStdString(zrv::transactionStatusText(c.successes.load(std::memory_order_relaxed),
                                                                        c.failures.load(std::memory_order_relaxed))));
    });
}

void TMain::setViewWindows(QMdiSubWindow* select, QMdiSubWindow* measure, QMdiSubWindow* frontPanel,
                           QMdiSubWindow* sets, QMdiSubWindow* log)
{
    m_select = select;
    m_measure = measure;
    m_frontPanel = frontPanel;
    m_sets = sets;
    m_log = log;
}

void TMain::SessionStateChange(const zrv::SessionState& state)
{
    // The clock and the journal need the line to themselves: offered only
    // while nothing else runs.
    const bool free = state.idle();
    if (state.connection == zrv::Connection::HangingUp) setDeviceStatus(QStringLiteral("Устройство не обнаружено"));
    N8->setEnabled(free);
    N4->setEnabled(free);
    NewRecordsF->setEnabled(free);
}

void TMain::buildMenus()
{
    const auto item = [this](QMenu* menu, const QString& caption, const char* name) {
        QAction* a = menu->addAction(caption);
        a->setObjectName(name);
        return a;
    };
    QMenuBar* bar = menuBar();
    bar->setObjectName("MainMenu1");

    QMenu* n1 = bar->addMenu(QStringLiteral("Файл"));
    n1->setObjectName("N1");
    N10 = item(n1, QStringLiteral("Открыть..."), "N10");
    N9 = item(n1, QStringLiteral("Сохранить..."), "N9");
    N2 = item(n1, QStringLiteral("Выход"), "N2");
    connect(N2, &QAction::triggered, this, &TMain::N2Click);
    ChangeLogF = item(n1, QStringLiteral("Журнал изменений..."), "ChangeLogF");

    QMenu* n3 = bar->addMenu(QStringLiteral("Вид"));
    n3->setObjectName("N3");
    SelectF = item(n3, QStringLiteral("Выбор устройства"), "SelectF");
    MeasureF = item(n3, QStringLiteral("Измерения"), "MeasureF");
    Front_PanelF = item(n3, QStringLiteral("Управление"), "Front_PanelF");
    SetsF = item(n3, QStringLiteral("Уставки"), "SetsF");
    LogF = item(n3, QStringLiteral("Журнал"), "LogF");
    TrafficF = item(n3, QStringLiteral("Монитор обмена"), "TrafficF");
    TrendsF = item(n3, QStringLiteral("Графики"), "TrendsF");
    StationsF = item(n3, QStringLiteral("Станции"), "StationsF");
    for (QAction* a : {SelectF, MeasureF, Front_PanelF, SetsF, LogF, TrafficF, TrendsF, StationsF}) a->setCheckable(true);
    SelectF->setChecked(true);
    MeasureF->setChecked(true);
    Front_PanelF->setChecked(true);
    connect(SelectF, &QAction::triggered, this, &TMain::SelectFClick);
    connect(MeasureF, &QAction::triggered, this, &TMain::MeasureFClick);
    connect(Front_PanelF, &QAction::triggered, this, &TMain::Front_PanelFClick);
    connect(SetsF, &QAction::triggered, this, &TMain::SetsFClick);
    connect(LogF, &QAction::triggered, this, &TMain::LogFClick);
    // The tool windows are not part of the operator's usual screen: hidden
    // until asked for, hidden again when put aside.
    connect(TrafficF, &QAction::triggered, this, [this](bool on) { showOrPutAside(m_traffic, on); });
    connect(TrendsF, &QAction::triggered, this, [this](bool on) { showOrPutAside(m_trends, on); });
    connect(StationsF, &QAction::triggered, this, [this](bool on) { showOrPutAside(m_stations, on); });
    connect(ChangeLogF, &QAction::triggered, this, [this] { showOrPutAside(m_changeLog, true); });

    QMenu* n7 = bar->addMenu(QStringLiteral("Функции"));
    n7->setObjectName("N7");
    N8 = item(n7, QStringLiteral("Установить Время"), "N8");
    N4 = item(n7, QStringLiteral("Считать Журнал"), "N4");
    connect(N8, &QAction::triggered, this, &TMain::N8Click);
    connect(N4, &QAction::triggered, this, &TMain::N4Click);
    NewRecordsF = item(n7, QStringLiteral("Считать новые записи"), "NewRecordsF");
    FastF = item(n7, QStringLiteral("Быстрый обмен"), "FastF");
    FastF->setCheckable(true);
    connect(NewRecordsF, &QAction::triggered, this, &TMain::newRecordsRequested);
    connect(FastF, &QAction::triggered, this, &TMain::FastFClick);

    QMenu* n5 = bar->addMenu(QStringLiteral("Окно"));
    n5->setObjectName("N5");
    N12 = item(n5, QStringLiteral("Каскад"), "N12");
    connect(N12, &QAction::triggered, this, &TMain::N12Click);

    QMenu* n6 = bar->addMenu(QStringLiteral("Помощь"));
    n6->setObjectName("N6");
    N11 = item(n6, QStringLiteral("О программе"), "N11");
    connect(N11, &QAction::triggered, this, &TMain::N11Click);
}

void TMain::Timer1Timer()
{
    // Asks for one step; a step still queued or running takes this tick's place.
    m_session.ask(zrv::Poll{});
}

void TMain::toggleView(QAction* item, QMdiSubWindow* window, bool nowTicked)
{
    if (!window) return;
    // The action has already flipped its tick: unticked now means it was
    // ticked, so the window goes aside.
    if (!nowTicked) {
        item->setChecked(false);
        window->showMinimized();
    } else {
        window->showNormal();
        item->setChecked(true);
    }
}

void TMain::SelectFClick(bool t) { toggleView(SelectF, m_select, t); }
void TMain::MeasureFClick(bool t) { toggleView(MeasureF, m_measure, t); }
void TMain::Front_PanelFClick(bool t) { toggleView(Front_PanelF, m_frontPanel, t); }
void TMain::SetsFClick(bool t) { toggleView(SetsF, m_sets, t); }
void TMain::LogFClick(bool t) { toggleView(LogF, m_log, t); }

void TMain::Timer2Timer()
{
    const auto sync = [](QAction* item, QMdiSubWindow* window) {
        if (window) item->setChecked(!window->isMinimized());
    };
    const auto syncShown = [](QAction* item, QMdiSubWindow* window) {
        if (window) item->setChecked(window->isVisible() && !window->isMinimized());
    };
    syncShown(TrafficF, m_traffic);
    syncShown(TrendsF, m_trends);
    syncShown(StationsF, m_stations);
    sync(SelectF, m_select);
    sync(MeasureF, m_measure);
    sync(SetsF, m_sets);
    sync(Front_PanelF, m_frontPanel);
    sync(LogF, m_log);
}

void TMain::N8Click()
{
    if (!m_session.state().idle()) return;
    // The clock window holds polling while it is shown.
    emit clockWindowRequested();
}

void TMain::N4Click() { emit journalRequested(); }

void TMain::N11Click() { emit aboutRequested(); }

void TMain::FastFClick(bool ticked)
{
    zrv::Session::Options o = m_session.options();
    o.fastFraming = ticked;
    m_session.setOptions(o);
    zrv::prefs::setValue(QLatin1String(zrv::prefs::kFastFraming), ticked);
}

void TMain::setDiagnosticWindows(QMdiSubWindow* traffic, QMdiSubWindow* trends)
{
    m_traffic = traffic;
    m_trends = trends;
}

void TMain::setFleetWindows(QMdiSubWindow* stations, QMdiSubWindow* changeLog)
{
    m_stations = stations;
    m_changeLog = changeLog;
}

void TMain::N12Click() { m_mdi->cascadeSubWindows(); }

bool TMain::Exit()
{
    zrv::SettingsSnapshot live;
    if (settingsSource) live = settingsSource();
    live.mainHeight = height();
    live.mainWidth = width();
    std::string why;
    if (zrv::SettingsFile::write(zrv::SettingsFile::compose(live), zrv::SettingsFile::kFileName, &why)) return true;
    // The operator's port, address, phone number and layout would be gone
    // at the next start without a word; the old file stays as it was.
    const QString text = QStringLiteral("Не удалось сохранить файл настроек %1: %2")
                             .arg(QString::fromUtf8(zrv::SettingsFile::kFileName), QString::fromStdString(why));
    std::fprintf(stderr, "zrvterm: %s\n", qPrintable(text));
    ShowMessage(text, QStringLiteral("Ошибка"));
    return false;
}

void TMain::closeEvent(QCloseEvent* event)
{
    if (!m_closed) {
        m_closed = true;
        Exit();
        event->accept();
        emit closed();
        return;
    }
    event->accept();
}
