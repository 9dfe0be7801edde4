#pragma once
// "Уставки": the setpoints and parameters as a two-column table on five tabs,
// read from the device and written back after the checks.

#include "session/Session.h"
#include "shell/ChildForm.h"

#include <QPushButton>
#include <QTabBar>
#include <QTableWidget>

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
    void ReadDone(bool ok);
    void WriteDone(const QString& message);
    void SessionStateChange(zrv::LinkState state);

protected:
    void resizeEvent(QResizeEvent* event) override;
    // Up and Down move the open editor between rows; Tab leaves the table.
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void fillRows(int tab, int subTab, bool bySubTabChange);
    bool connected() const;
    zrv::Session& m_session;
    bool m_edited = false;  // an edit since the last transfer
    void valueTyped(QLineEdit* editor);
};
