#pragma once
// "О Программе": the program's name, maker, version and contacts.

#include <QDialog>

class TMain;

class TAbout_Form : public QDialog {
    Q_OBJECT
public:
    explicit TAbout_Form(TMain* main);
};

// Places a top-level window once: centred horizontally on the main window and
// 100 pixels above its centre, halves truncated toward zero.
void placeAboveMainCentre(QWidget* window, const TMain* main);
