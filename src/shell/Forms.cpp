#include "Forms.h"

#include "About.h"
#include "Main_form.h"
#include "MessageBox.h"
#include "clock/Time_form.h"
#include "journal/Log_form.h"
#include "journal/Logprocessform.h"
#include "journal/Readlog.h"
#include "link/ModbusTransact.h"
#include "link/Select_form.h"
#include "modem/Modem.h"
#include "monitor/Front_panel_form.h"
#include "monitor/Measure_form.h"
#include "monitor/Updatethread.h"
#include "setpoints/Sets_form.h"

#include <QApplication>

Forms& forms()
{
    static Forms f;
    return f;
}

void createForms()
{
    // The children stand side by side at fixed default places; that layout
    // needs a compact dialog font (Arial-metric), not the wide desktop one.
    QFont font(QStringLiteral("Liberation Sans"), 8);
    font.setStyleHint(QFont::SansSerif);
    QApplication::setFont(font);

    Forms& f = forms();
    f.main = new TMain;
    f.sets = new TSets(f.main);
    f.frontPanel = new TFront_Panel(f.main);
    f.measure = new TMeasure(f.main);
    f.select = new TSelect(f.main);
    f.about = new TAbout_Form(f.main);
    f.connectModem = new TConnectModem(f.main);
    f.timeZRV = new TTimeZRV(f.main);
    f.logView = new TLogView(f.main);
    f.logProgress = new TLogProgress(f.main);

    // The counters' text comes from whichever thread transacted; the status
    // bar is changed on the window thread only.
    TMain* main = f.main;
    zrv::modbusLink().setStatusSink([main](const std::string& text) {
        const QString t = QString::fromStdString(text);
        QMetaObject::invokeMethod(main, [main, t] { main->setLinkStatus(t); }, Qt::QueuedConnection);
    });
    TConnectModem* modem = f.connectModem;
    f.select->dialModem = [modem] { return modem->runDialogue(); };
    f.select->hangUpModem = [modem] { modem->HangUp(); };
    main->startJournalReading = [main] { N4Click(main); };
    main->stopJournalReader = [] { stopJournalReaderAndWait(); };
    main->setPollingWorkerFactory([&f]() -> QThread* { return TUpdate1::start(f.main, f.measure, f.frontPanel); });
}

void destroyForms()
{
    Forms& f = forms();
    if (!f.main) return;
    f.main->stopWorkers();
    zrv::modbusLink().setStatusSink(nullptr);
    zrv::modbusLink().closePort();
    // The main window owns the dialogs and, through its frame, the children.
    delete f.main;
    f = Forms{};
}
