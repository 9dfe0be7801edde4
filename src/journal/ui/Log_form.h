#pragma once
// "Журнал событий": the journal report, as it is read from the device or as
// a .log file opened again; saved as a .log file.

#ifndef ZRV_UI_JOURNAL
#error "a window of another subsystem includes this one: windows know the session, never each other; shell/Terminal wires them"
#endif

#include "session/Replies.h"
#include "windowbase/ChildForm.h"

#include <QAction>
#include <QLabel>
#include <QPlainTextEdit>
#include <QToolBar>

#include <functional>
#include <optional>

class TLogView : public TChildForm {
    Q_OBJECT
public:
    TLogView(QMdiArea* area, const zrv::Settings& settings);

    QToolBar* ToolBar1 = nullptr;
    QAction* FileOpen1 = nullptr;
    QAction* FileSaveAs1 = nullptr;
    QPlainTextEdit* Log = nullptr;
    QLabel* StatusBar1 = nullptr;  // the status line's one field

    // A journal reading, whoever asked for it, shown as it comes (a reading
    // that was not made leaves the viewer as it is).
    void follow(zrv::JournalReply* reading);
    // Appends one piece of report text on its own lines, followed by one
    // line end.
    void appendPiece(const QString& piece);
    void setStatusText(const QString& text) { StatusBar1->setText(text); }
    // The text area's lines as it holds them (not as wrapped for display).
    QStringList lines() const;

    // After the open dialog was accepted: clear, remember, load, show the path.
    void ToolButton1Click(const QString& path);
    // After the save dialog was accepted: remember, write, show the path.
    void ToolButton2Click(const QString& path);

    // Writes the report as a table (the save dialog's "CSV (*.csv)").
    void exportCsv(const QString& path);

    // Asks for a file name (the dialogs); tests put their own answer here.
    // A saving answer ending in ".csv" asks for the table.
    std::function<QString(bool forSaving)> chooseFile;

    // The records of the report held here, or else of the report last saved
    // for this device: where "Считать новые записи" stops. Empty when no
    // report of the device is known.
    zrv::journal::RecordKeys knownRecords(unsigned deviceNumber) const;

    // The report file last opened or saved, for the settings file.
    const std::string& journalFileName() const { return m_journalFileName; }

protected:
    void resizeEvent(QResizeEvent* event) override;

private:
    QString askForFile(bool forSaving);
    void takeRecordKeys(unsigned deviceNumber, const zrv::journal::RecordKeys& keys, bool newOnly);
    void readingCutShort(const QString& why);
    // The records of the report in the viewer, when it came from a reading
    // or from a saved file the preferences know.
    zrv::journal::RecordKeys m_keys;
    std::optional<unsigned> m_keysDevice;
    std::string m_journalFileName;
    QString m_openDirectory;
    QString m_saveDirectory;
};
