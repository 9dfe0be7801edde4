#pragma once
// "Чтение журнала": progress of a journal reading, with its stop button.

#ifndef ZRV_UI_JOURNAL
#error "a window of another subsystem includes this one: windows know the session, never each other; shell/Terminal wires them"
#endif

#include "session/Session.h"

#include <QDialog>
#include <QLabel>
#include <QProgressBar>
#include <QPushButton>

class TLogProgress : public QDialog {
    Q_OBJECT
public:
    TLogProgress(QWidget* main, zrv::Session& session);

    QProgressBar* ProgressBar1 = nullptr;
    QLabel* ReadCaption = nullptr;
    QLabel* ReadCount = nullptr;
    QPushButton* BitBtn1 = nullptr;

    // A journal reading, whoever asked for it: shown until it ends (a
    // reading that was not made shows nothing).
    void follow(zrv::JournalReply* reading);

public slots:
    // Stop: the reader ends after its current request; the controls come back.
    void BitBtn1Click();

protected:
    void reject() override {}  // no close box; only the stop button ends it

private:
    zrv::Session& m_session;
};
