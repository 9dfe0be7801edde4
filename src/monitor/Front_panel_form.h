#pragma once
// "Управление": valve states, opening, power source and mode; the valve,
// step and mode commands under external control.

#include "shell/ChildForm.h"

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
    explicit TFront_Panel(TMain* main);

    QLabel* StaticText1 = nullptr;
    QLabel* Percent = nullptr;
    QWidget* Panel1 = nullptr;
    std::array<TShape*, 8> I{};
    std::array<QPushButton*, 8> V{};
    QPushButton* StepUp = nullptr;
    QPushButton* StepDown = nullptr;
    QLabel* StaticText3 = nullptr;
    QLabel* Sourse = nullptr;
    QComboBox* Mode = nullptr;
    QLabel* StaticText2 = nullptr;

    // Polling steps to wait after a valve or step command, and during which
    // the mode is not read back after a mode change. Changed only by the
    // handlers inside a polling pause or by the polling step while it runs.
    std::atomic<uint8_t> ValveHoldOff{0};
    std::atomic<uint8_t> ModeHoldOff{0};

    void DisableButtons();
    void EnableButtonsForMode();
    void ShowValveStates();
    void ShowOpening();
    void ShowPowerSource();
    // Disconnection: all eight indicators silver.
    void paintIndicatorsSilver();
    // The polling step's read-back: selects the entry at the image's mode,
    // or none, without counting as an operator's change.
    void selectModeFromImage();

public slots:
    void ValveClick(int valve);  // V1Click .. V8Click
    void StepUpClick();
    void StepDownClick();
    void ModeChange(int index);

private:
    void step(bool up);
    bool m_programmaticMode = false;
};
