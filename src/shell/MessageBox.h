#pragma once
// Modal message boxes with one OK button and no owner window. Tests replace
// the handler to see what an operator would be shown without blocking.

#include <QString>

#include <functional>

using MessageBoxHandler = std::function<void(const QString& text, const QString& title)>;

// Shows the text under the title and waits for OK.
void ShowMessage(const QString& text, const QString& title);

// Replaces what ShowMessage does; an empty handler restores the real box.
void setMessageBoxHandler(MessageBoxHandler handler);
