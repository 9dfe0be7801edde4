#pragma once
// "Уставки": the setpoints and parameters as a two-column table on five tabs,
// read from the device and written back after the checks.

#ifndef ZRV_UI_SETPOINTS
#error "a window of another subsystem includes this one: windows know the session, never each other; shell/Terminal wires them"
#endif

#include "session/Session.h"
#include "windowbase/ChildForm.h"

#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QTabBar>
#include <QTableWidget>

#include <functional>
#include <optional>

class QDialog;

class TSets : public TChildForm {
    Q_OBJECT
public:
    TSets(QMdiArea* area, const zrv::Settings& settings, zrv::Session& session);

    QWidget* Tab = nullptr;        // the tab control's area
    QTabBar* TabBar = nullptr;     // its five tabs
    QTabBar* TabSet = nullptr;     // PA, QA, QM on the first two tabs
    QTableWidget* Table = nullptr;
    QPushButton* Upload = nullptr;
    QPushButton* Download = nullptr;
    // "Файл": the set kept in a file and taken back from one.
    QToolButton* FileMenu = nullptr;
    QAction* SaveToFile = nullptr;    // "Сохранить в файл..."
    QAction* LoadFromFile = nullptr;  // "Загрузить из файла..."
    QAction* CompareWithFile = nullptr;  // "Сравнить с файлом..."
    // While a transfer runs: which attempt it is at, and a stop that ends the
    // connection as Stop does (a silent device takes 104 attempts, ~52 s).
    QLabel* TransferState = nullptr;
    QPushButton* TransferStop = nullptr;

    // Writes the set to a file; a message says why it could not.
    bool saveSetpointFile(const QString& path);
    // Reads a set from a file into the draft as if typed and marks the rows
    // that differ from the device's last read. A damaged file changes nothing.
    bool loadSetpointFile(const QString& path);
    // Lists the rows whose value on the device, as last read, differs from
    // the file's, in a window of its own (null when the file is refused).
    QDialog* compareWithSetpointFile(const QString& path);
    // Asks for a file name; tests put their own answer here.
    std::function<QString(bool forSaving)> chooseFile;
    // The file the comparison offers first (a station's approved profile);
    // empty for none.
    void offerSetpointFile(const QString& path) { m_offeredFile = path; }
    QString offeredSetpointFile() const { return m_offeredFile; }
    // Whether a row of the current view is marked as differing.
    bool rowMarked(int row) const;

    // Set while the rows are replaced; edits arriving meanwhile are ignored.
    bool Rebuilding = false;

    // Refills the rows of the current tab and sub-tab from the register image.
    void BuildTable();
    // The value cell's editor of a row (1 = first row).
    QLineEdit* valueEditor(int row) const;

public slots:
    void TabChange(int index);
    void TabSetChange(int index);
    void SetEditText(int row, const QString& text);
    void UploadClick();
    void DownloadClick();
    // The session's answers to the two transfers.
    void ReadDone(const std::optional<zrv::setpoints::SetpointSet>& set);
    void WriteDone(bool written, const QString& refusal);
    void SessionStateChange(const zrv::SessionState& state);
    void TransferAttempt(int attempt, int attempts);

signals:
    // "Остановить" during a transfer; the wiring ends the connection.
    void stopRequested();

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Up and Down move the open editor between rows; Tab leaves the table.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QString m_offeredFile;
    void fillRows(int tab, int subTab, bool bySubTabChange);
    // Marks row n of the view when it differs from the device's last read.
    void paintMark(int n, const zrv::setpoints::Row& row);
    // The differences of the draft from the device, on the rows shown.
    void refreshMarks();
    bool connected() const;
    void rememberDeviceSet();
    bool differs(int reg, bool isFloat, bool isWeight) const;

    zrv::Session& m_session;
    bool m_edited = false;  // an edit since the last transfer
    bool m_writing = false;  // the transfer running is the write
    // The set as the device last gave it or took it, and what a loaded
    // file changed against it.
    zrv::setpoints::SetpointSet m_deviceSet;
    std::optional<zrv::setpoints::SetpointDifferences> m_marks;
    void valueTyped(QLineEdit* editor);
};
