#include "Readlog.h"

#include "journal/JournalReading.h"
#include "journal/Log_form.h"
#include "journal/Logprocessform.h"
#include "journal/ReportBuilder.h"
#include "link/ModbusTransact.h"
#include "link/ReadAllTables.h"
#include "link/Select_form.h"
#include "monitor/Front_panel_form.h"
#include "shell/Forms.h"
#include "shell/Main_form.h"
#include "shell/PostToWindow.h"

#include <QCoreApplication>

using zrv::ModbusTransact;

namespace {

QPointer<TReadLog>& readerRef()
{
    static QPointer<TReadLog> reader;
    return reader;
}


void setSelectAndPanelCommands(bool enabled)
{
    if (TSelect* s = forms().select) {
        s->Monitoring->setEnabled(enabled);
        s->ExtControl->setEnabled(enabled);
        s->Disconnect->setEnabled(enabled);
    }
}

}  // namespace

TReadLog* ReadLogThread() { return readerRef().data(); }

TReadLog::TReadLog(TMain* main) : m_main(main)
{
    setObjectName("Readlog");
    connect(this, &QThread::finished, this, &QObject::deleteLater);
}

void TReadLog::Execute()
{
    TMain* main = m_main;
    TLogView* view = forms().logView;
    TLogProgress* progress = forms().logProgress;

    zrv::ReadAllTables();
    postToWindow(view, [view] { view->setStatusText(QStringLiteral("Идет загрузка...")); });

    zrv::journal::ReportBuilder builder;
    const QString header =
        QString::fromStdString(builder.header(zrv::registerImage(), zrv::modbusLink().slaveAddress()));
    postToWindow(view, [view, header] { view->appendPiece(header); });

    zrv::journal::JournalHooks hooks;
    hooks.readInputs = [](uint16_t start, uint16_t count) { ModbusTransact(4, start, count); };
    hooks.stopRequested = [this] { return isInterruptionRequested(); };
    hooks.showProgress = [progress, main](uint16_t wordsRead, int32_t recordsRead) {
        // The window thread draws it while this thread waits; at close the
        // window thread lets these calls through while it waits for us.
        QMetaObject::invokeMethod(
            progress,
            [progress, main, wordsRead, recordsRead] {
                progress->ProgressBar1->setValue(wordsRead);
                progress->ReadCaption->setText(QStringLiteral("Прочитано записей: "));
                progress->ReadCount->setText(QString::number(recordsRead));
                progress->repaint();
                main->repaint();
            },
            Qt::BlockingQueuedConnection);
    };
    hooks.append = [view](const std::string& piece) {
        const QString text = QString::fromStdString(piece);
        postToWindow(view, [view, text] { view->appendPiece(text); });
    };
    const int32_t recordsRead = zrv::journal::readRecords(RecordEnd, RecordStart, zrv::registerImage(), builder, hooks);

    const QString summary = QString::fromStdString(builder.summary(recordsRead));
    postToWindow(main, [main, progress, view, summary] {
        progress->hide();
        main->Timer1->start();
        view->setStatusText(summary);
        setSelectAndPanelCommands(true);
        if (TFront_Panel* p = forms().frontPanel) p->EnableButtonsForMode();
        main->journalReading = false;
    });
}

void N4Click(TMain* main)
{
    if (main->journalReading) return;
    main->beginPollingPause();
    main->journalReading = true;
    auto* reader = new TReadLog(main);
    readerRef() = reader;

    ModbusTransact(4, zrv::reg::kInJournalWritePos, 1);
    reader->RecordEnd = zrv::registerImage().input(zrv::reg::kInJournalWritePos);
    ModbusTransact(4, reader->RecordEnd, 1);
    reader->RecordStart = zrv::registerImage().input(reader->RecordEnd);

    TLogView* view = forms().logView;
    view->showNormal();
    view->Log->clear();
    TLogProgress* progress = forms().logProgress;
    progress->ProgressBar1->setValue(0);
    progress->ReadCount->setText(QStringLiteral("0"));
    progress->show();
    setSelectAndPanelCommands(false);
    if (TFront_Panel* p = forms().frontPanel) p->DisableButtons();
    reader->start();
}

void stopJournalReaderAndWait()
{
    TReadLog* reader = ReadLogThread();
    if (!reader) return;
    reader->requestInterruption();
    while (!reader->wait(20)) QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::MetaCall);
}
