#pragma once
// "Управление": valve states, opening, power source and mode; the valve,
// step and mode commands under external control.

#ifndef ZRV_UI_MONITOR
#error "a window of another subsystem includes this one: windows know the session, never each other; shell/Terminal wires them"
#endif

#include "session/Session.h"
#include "windowbase/ChildForm.h"

#include <QColor>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>

#include <array>
#include <atomic>
#include <cstdint>

// A filled circle; drawn by hand, so it names itself for screen readers.
class TShape : public QWidget {
    Q_OBJECT
public:
    // `name` is for code and tests, `caption` what a screen reader says.
    TShape(const QString& name, const QString& caption, QWidget* parent = nullptr);
    void setBrushColor(const QColor& c);
    QColor brushColor() const { return m_color; }

protected:
    void paintEvent(QPaintEvent*) override;

private:
    QColor m_color = Qt::white;
};

class TFront_Panel : public TChildForm {
    Q_OBJECT
public:
    TFront_Panel(QMdiArea* area, const zrv::Settings& settings, zrv::Session& session);

    QLabel* StaticText1 = nullptr;
    QLabel* Percent = nullptr;
    QWidget* Panel1 = nullptr;
    std::array<TShape*, zrv::reg::kValveCount> I{};
    std::array<QPushButton*, zrv::reg::kValveCount> V{};
    QPushButton* StepUp = nullptr;
    QPushButton* StepDown = nullptr;
    QLabel* StaticText3 = nullptr;
    QLabel* Sourse = nullptr;
    QComboBox* Mode = nullptr;
    QLabel* StaticText2 = nullptr;

    void DisableButtons();
    void EnableButtonsForMode();
    void ShowValveStates(const zrv::PollSnapshot& s);
    void ShowOpening(const zrv::PollSnapshot& s);
    void ShowPowerSource(const zrv::PollSnapshot& s);
    // Disconnection: all eight indicators silver.
    void paintIndicatorsSilver();
    // The polling step's read-back: selects the entry at the image's mode,
    // or none, without counting as an operator's change.
    void selectMode(int mode);
    // What a polling step found, in the order the step reports it.
    void ShowPolled(const zrv::PollSnapshot& s);
    void SessionStateChange(const zrv::SessionState& state);

public slots:
    void ValveClick(int valve);  // V1Click .. V8Click
    void StepUpClick();
    void StepDownClick();
    void ModeChange(int index);

private:
    zrv::Session& m_session;
    bool m_programmaticMode = false;
    bool m_commandsOn = false;  // the last state was external control
};
