#pragma once
// "Измерения": the six measured values, refreshed by every polling step.

#ifndef ZRV_UI_MONITOR
#error "a window of another subsystem includes this one: windows know the session, never each other; shell/Terminal wires them"
#endif

#include "session/Session.h"
#include "windowbase/ChildForm.h"

#include <QLabel>

class TMeasure : public TChildForm {
    Q_OBJECT
public:
    TMeasure(QMdiArea* area, const zrv::Settings& settings, zrv::Session& session);

    QLabel* P1 = nullptr;
    QLabel* P2 = nullptr;
    QLabel* Tg = nullptr;
    QLabel* Qi = nullptr;
    QLabel* Mq = nullptr;
    QLabel* Vbat = nullptr;

    // Redraws the six fields from one poll's values.
    void showPoll(const zrv::PollSnapshot& s);
    // Sets every field to "0" (disconnection).
    void resetFields();

private:
    zrv::Session& m_session;
};
