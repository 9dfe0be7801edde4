#include "MessageBox.h"

#include "text/ReplaceFile.h"

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

bool SaveFileOrSay(const QString& path, std::string_view bytes, const QString& failure)
{
    std::string error;
    if (zrv::text::replaceFile(path.toStdString(), bytes, &error)) return true;
    ShowMessage(QStringLiteral("%1 %2: %3").arg(failure, path, QString::fromStdString(error)), QStringLiteral("Ошибка"));
    return false;
}

void setMessageBoxHandler(MessageBoxHandler h) { handler() = std::move(h); }
