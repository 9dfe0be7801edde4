#pragma once
// "Журнал событий": the journal report, read from the device or from a file.

#include "shell/ChildForm.h"

#include <QPlainTextEdit>

class TLogView : public TChildForm {
    Q_OBJECT
public:
    explicit TLogView(TMain* main);

    QPlainTextEdit* Log = nullptr;
};
