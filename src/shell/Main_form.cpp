#include "Main_form.h"

#include "About.h"
#include "Forms.h"
#include "MessageBox.h"
#include "clock/Time_form.h"
#include "journal/Log_form.h"
#include "link/Select_form.h"
#include "modem/Modem.h"
#include "monitor/Front_panel_form.h"
#include "monitor/Measure_form.h"
#include "setpoints/Sets_form.h"

#include <QApplication>
#include <QCloseEvent>
#include <QMdiArea>
#include <QMenuBar>
#include <QScreen>
#include <QStatusBar>

TMain::TMain(QWidget* parent) : QMainWindow(parent)
{
    setObjectName("Main_form");
    setWindowTitle(QStringLiteral("Терминал ZRV ") + kModel);

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

    Timer1 = new QTimer(this);
    Timer1->setObjectName("Timer1");
    Timer1->setInterval(1000);
    connect(Timer1, &QTimer::timeout, this, &TMain::Timer1Timer);
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
}

TMain::~TMain() { stopWorkers(); }

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

    QMenu* n3 = bar->addMenu(QStringLiteral("Вид"));
    n3->setObjectName("N3");
    SelectF = item(n3, QStringLiteral("Выбор устройства"), "SelectF");
    MeasureF = item(n3, QStringLiteral("Измерения"), "MeasureF");
    Front_PanelF = item(n3, QStringLiteral("Управление"), "Front_PanelF");
    SetsF = item(n3, QStringLiteral("Уставки"), "SetsF");
    LogF = item(n3, QStringLiteral("Журнал"), "LogF");
    for (QAction* a : {SelectF, MeasureF, Front_PanelF, SetsF, LogF}) a->setCheckable(true);
    SelectF->setChecked(true);
    MeasureF->setChecked(true);
    Front_PanelF->setChecked(true);
    connect(SelectF, &QAction::triggered, this, &TMain::SelectFClick);
    connect(MeasureF, &QAction::triggered, this, &TMain::MeasureFClick);
    connect(Front_PanelF, &QAction::triggered, this, &TMain::Front_PanelFClick);
    connect(SetsF, &QAction::triggered, this, &TMain::SetsFClick);
    connect(LogF, &QAction::triggered, this, &TMain::LogFClick);

    QMenu* n7 = bar->addMenu(QStringLiteral("Функции"));
    n7->setObjectName("N7");
    N8 = item(n7, QStringLiteral("Установить Время"), "N8");
    N4 = item(n7, QStringLiteral("Считать Журнал"), "N4");
    connect(N8, &QAction::triggered, this, &TMain::N8Click);
    connect(N4, &QAction::triggered, this, &TMain::N4Click);

    QMenu* n5 = bar->addMenu(QStringLiteral("Окно"));
    n5->setObjectName("N5");
    N12 = item(n5, QStringLiteral("Каскад"), "N12");
    connect(N12, &QAction::triggered, this, &TMain::N12Click);

    QMenu* n6 = bar->addMenu(QStringLiteral("Помощь"));
    n6->setObjectName("N6");
    N11 = item(n6, QStringLiteral("О программе"), "N11");
    connect(N11, &QAction::triggered, this, &TMain::N11Click);
}

void TMain::waitForPollingWorker()
{
    if (m_pollingWorker) m_pollingWorker->wait();
    // The step's window updates were posted to this thread; deliver them now
    // so that none of them lands after what the caller does next.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}

void TMain::beginPollingPause()
{
    Timer1->stop();
    waitForPollingWorker();
}

void TMain::Timer1Timer()
{
    waitForPollingWorker();
    if (m_pollingFactory) m_pollingWorker = m_pollingFactory();
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

void TMain::SelectFClick(bool t) { toggleView(SelectF, forms().select, t); }
void TMain::MeasureFClick(bool t) { toggleView(MeasureF, forms().measure, t); }
void TMain::Front_PanelFClick(bool t)
{
    toggleView(Front_PanelF, forms().frontPanel, t);
}
void TMain::SetsFClick(bool t) { toggleView(SetsF, forms().sets, t); }
void TMain::LogFClick(bool t) { toggleView(LogF, forms().logView, t); }

void TMain::Timer2Timer()
{
    const auto sync = [](QAction* item, QMdiSubWindow* window) {
        if (window) item->setChecked(!window->isMinimized());
    };
    sync(SelectF, forms().select);
    sync(MeasureF, forms().measure);
    sync(SetsF, forms().sets);
    sync(Front_PanelF, forms().frontPanel);
    sync(LogF, forms().logView);
}

void TMain::N8Click()
{
    TTimeZRV* clock = forms().timeZRV;
    // The clock window transacts; a journal reading owns the port meanwhile.
    if (!clock || journalReading) return;
    beginPollingPause();
    clock->Timer1->start();
    clock->exec();
    Timer1->start();
}

void TMain::N4Click()
{
    if (startJournalReading && !journalReading) startJournalReading();
}

void TMain::N11Click()
{
    if (TAbout_Form* about = forms().about) {
        about->show();
        about->raise();
    }
}

void TMain::N12Click() { m_mdi->cascadeSubWindows(); }

zrv::SettingsSnapshot TMain::settingsSnapshot() const
{
    zrv::SettingsSnapshot s;
    const Forms& f = forms();
    if (f.select) {
        s.select = f.select->place();
        s.modemEnable = f.select->ModemEnable->isChecked();
        s.comIndex = f.select->NameCOM->currentIndex();
        s.addressIndex = f.select->Address->currentIndex();
    }
    if (f.measure) s.measure = f.measure->place();
    if (f.sets) s.sets = f.sets->place();
    if (f.frontPanel) s.frontPanel = f.frontPanel->place();
    s.mainHeight = height();
    s.mainWidth = width();
    if (f.connectModem) s.phoneNumber = f.connectModem->Number->text().toStdString();
    s.journalFileName = settings.journalFileName;
    return s;
}

void TMain::Exit() { zrv::SettingsFile::write(zrv::SettingsFile::compose(settingsSnapshot())); }

void TMain::stopWorkers()
{
    Timer1->stop();
    if (stopJournalReader) stopJournalReader();
    if (m_pollingWorker) m_pollingWorker->wait();
}

void TMain::closeEvent(QCloseEvent* event)
{
    if (!m_closed) {
        m_closed = true;
        Exit();
        stopWorkers();
    }
    event->accept();
}
