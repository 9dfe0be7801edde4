#pragma once
// A child window of the main frame: placed from the settings at creation,
// minimised rather than closed by its close box, and able to report its
// place for the settings file.

#include "windowbase/SettingsFile.h"

#include <QMdiSubWindow>

class QMdiArea;

class TChildForm : public QMdiSubWindow {
    Q_OBJECT
public:
    // `resizable` false gives a fixed single border, as for the measurement
    // window and the control panel.
    // The window joins the frame's area at once.
    TChildForm(QMdiArea* area, const QString& caption, const QString& name, bool resizable);

    // Minimised or normal at (left, top) of the frame's client area.
    void applyPlacement(const zrv::ChildPlacement& placement);
    // Left, top and state (0 normal, 1 minimised, 2 maximised).
    zrv::WindowPlace place() const;

    // The content area that the window's own components go into.
    QWidget* content() const { return m_content; }
    // Windows beyond the operator's usual screen: the close box hides them
    // instead of minimising them.
    void setHiddenWhenClosed(bool hidden) { m_hideOnClose = hidden; }
    // A tool window (traffic monitor, trends, stations, change record):
    // `size` at `at` when shown, hidden until asked for, hidden again by its
    // close box.
    void setAsideAsTool(QSize size, QPoint at);

    // Makes the window exactly as big as its content's client size.
    void setClientSize(int width, int height);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QWidget* m_content;
    bool m_resizable;
    bool m_hideOnClose = false;
};

// Shows a tool window within the frame's area, however small the frame was
// made, raised and with the focus; or puts it aside (hidden).
void showOrPutAside(QMdiSubWindow* window, bool show);

// Places a top-level window once: centred horizontally on the main window and
// 100 pixels above its centre, halves truncated toward zero.
void placeAboveMainCentre(QWidget* window, const QWidget* main);
