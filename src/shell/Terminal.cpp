#include "Terminal.h"

#include <QDir>
#include "windowbase/MessageBox.h"

#include "About.h"
#include "Main_form.h"
#include "clock/ui/Time_form.h"
#include "connection/ui/Select_form.h"
#include "diagnostics/ui/Traffic_form.h"
#include "diagnostics/ui/Trends_form.h"
#include "journal/ReportBuilder.h"
#include "journal/ui/Log_form.h"
#include "journal/ui/Logprocessform.h"
#include "modem/ui/Modem.h"
#include "monitor/ui/Front_panel_form.h"
#include "monitor/ui/Measure_form.h"
#include "setpoints/ui/Sets_form.h"
#include "stations/ui/Stations_form.h"

#include <QApplication>

Terminal::Terminal() : m_session(std::make_unique<zrv::Session>())
{
    // The children stand side by side at fixed default places; that layout
    // needs a compact dialog font (Arial-metric), not the wide desktop one.
    QFont font(QStringLiteral("Liberation Sans"), 8);
    font.setStyleHint(QFont::SansSerif);
    QApplication::setFont(font);

    zrv::Session& s = *m_session;
    // Every write to a device is recorded beside zrvterm.ini (the data
    // folder when started from the menu).
    zrv::Session::Options options = s.options();
    options.changeRecordPath = QDir::current().absoluteFilePath(QStringLiteral("changes.jsonl"));
    s.setOptions(options);
    QObject::connect(&s, &zrv::Session::changeRecorded, [](const QString& why) {
        if (why.isEmpty()) return;
        ShowMessage(QStringLiteral("Изменение не записано в журнал изменений: %1\nКоманда прибору отправлена.").arg(why),
                    QStringLiteral("Журнал изменений"));
    });
    main = new TMain(s);
    const zrv::Settings& settings = main->settings;
    QMdiArea* area = main->mdiArea();
    sets = new TSets(area, settings, s);
    frontPanel = new TFront_Panel(area, settings, s);
    measure = new TMeasure(area, settings, s);
    select = new TSelect(area, settings, s);
    about = new TAbout_Form(main);
    connectModem = new TConnectModem(main, settings, s);
    timeZRV = new TTimeZRV(main, s);
    logView = new TLogView(area, settings);
    logProgress = new TLogProgress(main, s);
    // Diagnostics, beyond the operator's usual windows: hidden until asked for.
    traffic = new TTrafficMonitor(area, s);
    trends = new TTrends(area, s);

    main->setViewWindows(select, measure, frontPanel, sets, logView);
    main->setDiagnosticWindows(traffic, trends);
    stations = new TStations(area, s);
    changeLog = new TChangeLog(area, s);
    main->setFleetWindows(stations, changeLog);
    // A station chosen fills "Выбор устройства" and the modem's number the
    // way the operator would; connecting stays the operator's press.
    stations->fillSelection = [this](const StationChoice& c) -> QString {
        QString why;
        if (!select->choose(c.com, c.address, !c.phone.isEmpty(), &why)) return why;
        if (!c.phone.isEmpty()) connectModem->setNumber(c.phone);
        select->showNormal();
        select->raise();
        return {};
    };
    // The comparison offers the approved profile of the station connected.
    TStations* fleet = stations;
    TSelect* chooser = select;
    TSets* setsWindow = sets;
    QObject::connect(&s, &zrv::Session::stateChanged, sets,
                     [fleet, chooser, setsWindow](const zrv::SessionState& state, const zrv::SessionState& before) {
                         if (!zrv::deviceFound(state, before)) return;
                         setsWindow->offerSetpointFile(fleet->profileFor(chooser->comIndex() + 1, chooser->slaveAddress()));
                     });
    // A connection through the modem dials in its dialogue; what the
    // hang-up says stands where the device's status does.
    TConnectModem* dialogue = connectModem;
    QObject::connect(select, &TSelect::connecting, dialogue, [dialogue](zrv::ConnectReply* r) { dialogue->follow(r); });
    TMain* mainWindow = main;
    QObject::connect(select, &TSelect::disconnecting, mainWindow, [mainWindow](zrv::DisconnectReply* r) {
        QObject::connect(r, &zrv::DisconnectReply::status, mainWindow, &TMain::setDeviceStatus);
    });
    main->settingsSource = [this] { return settingsSnapshot(); };
    TTimeZRV* clock = timeZRV;
    QObject::connect(main, &TMain::clockWindowRequested, clock, [clock] { clock->run(); });
    // Whoever asked, a reading shows in the viewer and its progress box.
    TLogView* viewer = logView;
    TLogProgress* progress = logProgress;
    const auto readJournal = [viewer, progress, &s](const zrv::journal::Read& request) {
        zrv::JournalReply* reading = s.ask(request);
        viewer->follow(reading);
        progress->follow(reading);
    };
    QObject::connect(main, &TMain::journalRequested, viewer, [readJournal] { readJournal({}); });
    QObject::connect(main, &TMain::newRecordsRequested, viewer, [viewer, readJournal, &s] {
        readJournal(zrv::journal::Read{viewer->knownRecords(zrv::journal::reportDeviceNumber(s.image()))});
    });
    QObject::connect(sets, &TSets::stopRequested, select, &TSelect::DisconnectClick);
    QObject::connect(main, &TMain::closed, main, [this] {
        endConnection();
        if (onClosed) onClosed();
    });
    TAbout_Form* box = about;
    QObject::connect(main, &TMain::aboutRequested, box, [box] {
        box->show();
        box->raise();
    });
}

Terminal::~Terminal()
{
    if (!main) return;
    m_session->stop();
    m_session->shutdown();
    // The main window owns the dialogs and, through its frame, the children.
    delete main;
    main = nullptr;
}

void Terminal::connectAtStart(int com, int address, const QString& modemNumber)
{
    if (!select->choose(com, address, !modemNumber.isEmpty())) return;
    if (!modemNumber.isEmpty()) {
        connectModem->setNumber(modemNumber);
        connectModem->dialWhenShown();
    }
    select->ConnectClick();
}

void Terminal::endConnection()
{
    using S = zrv::Connection;
    switch (m_session->state().connection) {
    case S::Disconnected:
    case S::HangingUp:
        return;
    case S::Dialling:
        // Stop is not offered while dialling; the dialogue's cancel is.
        m_session->ask(zrv::modem::CancelDial{});
        return;
    default:
        select->DisconnectClick();
    }
}

zrv::SettingsSnapshot Terminal::settingsSnapshot() const
{
    zrv::SettingsSnapshot s;
    s.select = select->place();
    s.modemEnable = select->modemChosen();
    s.comIndex = select->comIndex();
    s.addressIndex = select->addressIndex();
    s.measure = measure->place();
    s.sets = sets->place();
    s.frontPanel = frontPanel->place();
    s.phoneNumber = connectModem->number().toStdString();
    s.journalFileName = logView->journalFileName();
    return s;
}
