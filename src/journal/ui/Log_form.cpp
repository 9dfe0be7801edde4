#include "Log_form.h"

#include "journal/JournalCsv.h"
#include "journal/ReportFile.h"
#include "windowbase/MessageBox.h"
#include "windowbase/Preferences.h"

#include <QFileDialog>
#include <QFileInfo>
#include <QResizeEvent>
#include <QStyle>
#include <QTextBlock>

TLogView::TLogView(QMdiArea* area, const zrv::Settings& settings)
    : TChildForm(area, QStringLiteral("Журнал событий"), "Log_form", true), m_journalFileName(settings.journalFileName)
{
    QWidget* client = content();
    ToolBar1 = new QToolBar(client);
    ToolBar1->setObjectName("ToolBar1");
    ToolBar1->setIconSize(QSize(16, 16));
    FileOpen1 = ToolBar1->addAction(style()->standardIcon(QStyle::SP_DialogOpenButton), QStringLiteral("&Open..."));
    FileOpen1->setObjectName("FileOpen1");
    FileOpen1->setToolTip(QStringLiteral("Open"));
    FileOpen1->setStatusTip(QStringLiteral("Opens an existing file"));
    FileOpen1->setShortcut(QKeySequence(QStringLiteral("Ctrl+O")));
    FileSaveAs1 = ToolBar1->addAction(style()->standardIcon(QStyle::SP_DialogSaveButton), QStringLiteral("Save &As..."));
    FileSaveAs1->setObjectName("FileSaveAs1");
    FileSaveAs1->setToolTip(QStringLiteral("Save As"));
    FileSaveAs1->setStatusTip(QStringLiteral("Saves the active file with a new name"));

    Log = new QPlainTextEdit(client);
    Log->setObjectName("Log");
    Log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    StatusBar1 = new QLabel(client);
    StatusBar1->setObjectName("StatusBar1");
    StatusBar1->setFrameShape(QFrame::Panel);
    StatusBar1->setFrameShadow(QFrame::Sunken);

    connect(FileOpen1, &QAction::triggered, this, [this] {
        const QString path = askForFile(false);
        if (!path.isEmpty()) ToolButton1Click(path);
    });
    connect(FileSaveAs1, &QAction::triggered, this, [this] {
        const QString path = askForFile(true);
        if (path.isEmpty()) return;
        if (path.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
            exportCsv(path);
        else
            ToolButton2Click(path);
    });

    // Both dialogs start where the last report was opened or saved.
    const QString remembered = QString::fromUtf8(m_journalFileName.c_str());
    if (!remembered.isEmpty()) m_openDirectory = m_saveDirectory = QFileInfo(remembered).absolutePath();

    setClientSize(400, 435);
    applyPlacement({0, 0, true, false});
}

void TLogView::follow(zrv::JournalReply* reading)
{
    if (reading->refused()) return;
    // The viewer emptied, then the report as it comes.
    showNormal();
    Log->clear();
    connect(reading, &zrv::JournalReply::status, this, &TLogView::setStatusText);
    connect(reading, &zrv::JournalReply::piece, this, &TLogView::appendPiece);
    connect(reading, &zrv::JournalReply::finished, this, [this](const zrv::JournalEnd& end) {
        takeRecordKeys(end.deviceNumber, end.keys, end.newOnly);
        setStatusText(end.summary);
        if (!end.cutShort.isEmpty()) readingCutShort(end.cutShort);
    });
}

void TLogView::resizeEvent(QResizeEvent* event)
{
    TChildForm::resizeEvent(event);
    if (!Log) return;
    const int w = content()->width();
    ToolBar1->setGeometry(0, 0, w, 23);
    // The text area keeps the window's outer height less 75 pixels.
    Log->setGeometry(0, 23, w, std::max(0, height() - 75));
    StatusBar1->setGeometry(0, content()->height() - 19, w, 19);
}

void TLogView::appendPiece(const QString& piece)
{
    QString text = piece;
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Log->appendPlainText(text);
}

QStringList TLogView::lines() const
{
    QStringList out;
    const QTextDocument* doc = Log->document();
    if (doc->isEmpty()) return out;
    for (QTextBlock b = doc->begin(); b.isValid(); b = b.next()) out << b.text();
    return out;
}

QString TLogView::askForFile(bool forSaving)
{
    if (chooseFile) return chooseFile(forSaving);
    const QString logFilter = QStringLiteral("LOG File (*.log)");
    const QString csvFilter = QStringLiteral("CSV (*.csv)");
    QFileDialog dialog(this);
    dialog.setWindowTitle(forSaving ? QStringLiteral("Сохранить журнал как...") : QStringLiteral("Открыть файл журнала..."));
    dialog.setNameFilters(forSaving ? QStringList{logFilter, csvFilter} : QStringList{logFilter});
    dialog.setDefaultSuffix(QStringLiteral("log"));
    dialog.setDirectory(forSaving ? m_saveDirectory : m_openDirectory);
    dialog.setAcceptMode(forSaving ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
    dialog.setFileMode(forSaving ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
    dialog.setOption(QFileDialog::DontConfirmOverwrite, false);
    dialog.setSizeGripEnabled(true);
    // The default suffix follows the chosen filter, so "журнал" becomes
    // журнал.csv when the table was asked for.
    connect(&dialog, &QFileDialog::filterSelected, &dialog, [&dialog, csvFilter](const QString& f) {
        dialog.setDefaultSuffix(f == csvFilter ? QStringLiteral("csv") : QStringLiteral("log"));
    });
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return {};
    QString chosen = dialog.selectedFiles().first();
    if (forSaving && dialog.selectedNameFilter() == csvFilter && !chosen.endsWith(QLatin1String(".csv"), Qt::CaseInsensitive))
        chosen += QStringLiteral(".csv");
    return chosen;
}

void TLogView::ToolButton1Click(const QString& path)
{
    Log->clear();
    m_journalFileName = path.toStdString();
    // A report file saved here before still tells which records it holds.
    m_keys.clear();
    m_keysDevice.reset();
    if (const auto saved = zrv::prefs::savedReportAt(path)) {
        m_keys = zrv::journal::parseRecordKeys(saved->records.toStdString());
        m_keysDevice = saved->deviceNumber;
    }
    std::vector<std::string> lines;
    std::string error;
    if (zrv::journal::loadReport(path.toStdString(), &lines, &error)) {
        QStringList text;
        for (const std::string& l : lines) text << QString::fromUtf8(l.c_str());
        // Each line was closed by its line end; the last one gives no extra line.
        Log->setPlainText(text.join(QLatin1Char('\n')));
    } else {
        ShowMessage(QStringLiteral("Не удалось открыть файл %1: %2").arg(path, QString::fromStdString(error)),
                    QStringLiteral("Ошибка"));
    }
    setStatusText(path);
    m_openDirectory = QFileInfo(path).absolutePath();
}

void TLogView::ToolButton2Click(const QString& path)
{
    m_journalFileName = path.toStdString();
    std::vector<std::string> out;
    for (const QString& l : lines()) out.push_back(l.toStdString());
    std::string error;
    if (!zrv::journal::saveReport(path.toStdString(), out, &error)) {
        ShowMessage(QStringLiteral("Не удалось сохранить журнал в файл %1: %2").arg(path, QString::fromStdString(error)),
                    QStringLiteral("Ошибка"));
    } else if (m_keysDevice && !m_keys.empty()) {
        // The device's records as of this report: a later "Считать новые
        // записи" reads only what came after them.
        zrv::prefs::rememberSavedReport(*m_keysDevice, QString::fromStdString(zrv::journal::formatRecordKeys(m_keys)),
                                        path);
    }
    setStatusText(path);
    m_saveDirectory = QFileInfo(path).absolutePath();
}

void TLogView::exportCsv(const QString& path)
{
    std::vector<std::string> out;
    for (const QString& l : lines()) out.push_back(l.toStdString());
    // The remembered journal path stays the .log report's: a table cannot be
    // opened back into the viewer.
    SaveFileOrSay(path, zrv::journal::journalCsv(out), QStringLiteral("Не удалось сохранить журнал в файл"));
    setStatusText(path);
    m_saveDirectory = QFileInfo(path).absolutePath();
}

void TLogView::takeRecordKeys(unsigned deviceNumber, const zrv::journal::RecordKeys& keys, bool newOnly)
{
    // A report of only the new records still stands on the older ones.
    const zrv::journal::RecordKeys older = newOnly ? knownRecords(deviceNumber) : zrv::journal::RecordKeys{};
    m_keys = zrv::journal::mergeRecordKeys(keys, older, zrv::journal::kKeysKept);
    m_keysDevice = deviceNumber;
}

void TLogView::readingCutShort(const QString& why)
{
    // Between the oldest record shown and the ones held before lie records
    // nobody has read: this report marks no place to read new records from.
    m_keys.clear();
    m_keysDevice.reset();
    ShowMessage(QStringLiteral("Журнал не удалось считать до конца (%1). В отчёте только записи, "
                               "считанные полностью.")
                    .arg(why),
                QStringLiteral("Ошибка"));
}

zrv::journal::RecordKeys TLogView::knownRecords(unsigned deviceNumber) const
{
    if (m_keysDevice == deviceNumber && !m_keys.empty()) return m_keys;
    return zrv::journal::parseRecordKeys(zrv::prefs::savedReportRecords(deviceNumber).toStdString());
}
