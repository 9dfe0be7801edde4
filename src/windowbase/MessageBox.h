#pragma once
// Modal message boxes with one OK button and no owner window. Tests replace
// the handler to see what an operator would be shown without blocking.

#include <QString>

#include <functional>
#include <string_view>

using MessageBoxHandler = std::function<void(const QString& text, const QString& title)>;

// Shows the text under the title and waits for OK.
void ShowMessage(const QString& text, const QString& title);

// Writes a file the operator asked for, whole or not at all (any earlier
// file stays as it was). On failure shows "<failure> <path>: <why>" under
// "Ошибка" and returns false.
bool SaveFileOrSay(const QString& path, std::string_view bytes, const QString& failure);

// Replaces what ShowMessage does; an empty handler restores the real box.
void setMessageBoxHandler(MessageBoxHandler handler);

using QuestionHandler = std::function<bool(const QString& text, const QString& title)>;

// Asks a yes-or-no question, "Нет" by default; true for "Да".
bool AskQuestion(const QString& text, const QString& title);

// Replaces what AskQuestion does; an empty handler restores the real box.
void setQuestionHandler(QuestionHandler handler);
