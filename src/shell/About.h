#pragma once
// "О Программе": the program's name, maker, version and contacts.

#include <QDialog>


class TAbout_Form : public QDialog {
    Q_OBJECT
public:
    explicit TAbout_Form(QWidget* main);
};

