#pragma once
// "Уставки": the setpoints and parameters as a two-column table on five tabs.

#include "shell/ChildForm.h"

#include <QPushButton>

class TSets : public TChildForm {
    Q_OBJECT
public:
    explicit TSets(TMain* main);

    QPushButton* Upload = nullptr;
    QPushButton* Download = nullptr;

    // Refills the rows of the current tab from the register image.
    void BuildTable();
};
