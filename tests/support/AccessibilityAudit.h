#pragma once
// What a screen reader would make of a window: every widget's accessible
// interface, checked for names that are program identifiers and for controls
// that show text but have no name.

#include <QStringList>

class QWidget;

// One line per problem, naming the widget; empty when the window is sound.
QStringList accessibilityProblems(QWidget* window);

// The text a screen reader speaks as the widget's name.
QString spokenName(QWidget* widget);
