#include "AccessibilityAudit.h"

#include <QAbstractButton>
#include <QAccessible>
#include <QComboBox>
#include <QDateTimeEdit>
#include <QLabel>
#include <QLineEdit>
#include <QSet>
#include <QWidget>

QString spokenName(QWidget* widget)
{
    QAccessibleInterface* a = QAccessible::queryAccessibleInterface(widget);
    return a ? a->text(QAccessible::Name) : QString();
}

QStringList accessibilityProblems(QWidget* window)
{
    QList<QWidget*> widgets = window->findChildren<QWidget*>();
    widgets.prepend(window);
    QSet<QString> objectNames;
    for (QWidget* w : widgets)
        if (!w->objectName().isEmpty() && !w->objectName().startsWith(QLatin1String("qt_")))
            objectNames.insert(w->objectName());

    QStringList problems;
    for (QWidget* w : widgets) {
        if (w->objectName().startsWith(QLatin1String("qt_"))) continue;
        const QString name = spokenName(w);
        const QString who = QStringLiteral("%1 (%2)").arg(w->objectName(), QLatin1String(w->metaObject()->className()));
        QString ownText;
        if (auto* l = qobject_cast<QLabel*>(w)) ownText = l->text();
        else if (auto* b = qobject_cast<QAbstractButton*>(w)) ownText = b->text();
        ownText.remove(QLatin1Char('&'));
        // A caption that happens to equal an identifier ("Connect") is still
        // the caption; a name that is not the widget's own text is not.
        if (!name.isEmpty() && objectNames.contains(name) && name != ownText) {
            problems << who + QStringLiteral(": named by an identifier, \"%1\"").arg(name);
            continue;
        }
        bool showsText = false;
        if (auto* l = qobject_cast<QLabel*>(w)) showsText = !l->text().isEmpty();
        else if (auto* b = qobject_cast<QAbstractButton*>(w)) showsText = !b->text().isEmpty();
        else if (qobject_cast<QLineEdit*>(w) && !qobject_cast<QAbstractSpinBox*>(w->parentWidget()) &&
                 !qobject_cast<QComboBox*>(w->parentWidget()))
            showsText = true;
        else if (qobject_cast<QComboBox*>(w) || qobject_cast<QDateTimeEdit*>(w))
            showsText = true;
        if (showsText && name.trimmed().isEmpty()) problems << who + QStringLiteral(": shows text but has no name");
    }
    return problems;
}
