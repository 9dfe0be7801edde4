#include "MessageBox.h"

#include "text/ReplaceFile.h"

#include <QAbstractButton>
#include <QMessageBox>

namespace {
MessageBoxHandler& handler()
{
    static MessageBoxHandler h;
    return h;
}
QuestionHandler& questionHandler()
{
    static QuestionHandler h;
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

bool AskQuestion(const QString& text, const QString& title)
{
    if (questionHandler()) return questionHandler()(text, title);
    QMessageBox box(QMessageBox::Question, title, text, QMessageBox::Yes | QMessageBox::No);
    box.setDefaultButton(QMessageBox::No);
    box.setEscapeButton(QMessageBox::No);
    box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
    box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
    return box.exec() == QMessageBox::Yes;
}

void setQuestionHandler(QuestionHandler h) { questionHandler() = std::move(h); }
