#include "Log_form.h"

#include "shell/Main_form.h"

#include <QVBoxLayout>

TLogView::TLogView(TMain* main) : TChildForm(main, QStringLiteral("Журнал событий"), "Log_form", true)
{
    Log = new QPlainTextEdit;
    Log->setObjectName("Log");
    Log->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Log->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    Log->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    auto* box = new QVBoxLayout(content());
    box->setContentsMargins(0, 0, 0, 0);
    box->addWidget(Log);
    content()->setMinimumSize(400, 435);
    resize(sizeHint());
    content()->setMinimumSize(0, 0);
    // The viewer starts minimised; "Вид" / "Журнал" brings it up.
    applyPlacement({0, 0, true, false});
}
