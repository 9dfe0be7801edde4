#include "MessageBox.h"

#include <QMessageBox>

namespace {
MessageBoxHandler& handler()
{
    static MessageBoxHandler h;
    return h;
}
}  // namespace

void ShowMessage(const QString& text, const QString& title)
{
    if (handler()) {
        handler()(text, title);
        return;
    }
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok);
    box.exec();
}

void setMessageBoxHandler(MessageBoxHandler h) { handler() = std::move(h); }
