#include "ChildForm.h"

#include <QCloseEvent>
#include <QLayout>
#include <QMdiArea>

TChildForm::TChildForm(QMdiArea* area, const QString& caption, const QString& name, bool resizable)
    : QMdiSubWindow(nullptr), m_content(new QWidget), m_resizable(resizable)
{
    setObjectName(name);
    setWindowTitle(caption);
    Qt::WindowFlags flags = Qt::SubWindow | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                            Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint;
    if (resizable) flags |= Qt::WindowMaximizeButtonHint;
    setWindowFlags(flags);
    setWidget(m_content);
    setAttribute(Qt::WA_DeleteOnClose, false);
    setOption(QMdiSubWindow::RubberBandResize, false);
    area->addSubWindow(this);
}

void placeAboveMainCentre(QWidget* window, const QWidget* main)
{
    const int left = main->x() + main->width() / 2 - window->width() / 2;
    const int top = main->y() + main->height() / 2 - window->height() / 2 - 100;
    window->move(left, top);
}

void TChildForm::setClientSize(int width, int height)
{
    m_content->setFixedSize(width, height);
    // The frame and title bar are this window's own margins around the content.
    const QMargins m = contentsMargins() + (layout() ? layout()->contentsMargins() : QMargins());
    const QSize outer(width + m.left() + m.right(), height + m.top() + m.bottom());
    if (m_resizable)
        resize(outer);
    else
        setFixedSize(outer);
}

void TChildForm::applyPlacement(const zrv::ChildPlacement& p)
{
    move(p.left, p.top);
    if (p.minimized)
        showMinimized();
    else
        showNormal();
}

zrv::WindowPlace TChildForm::place() const
{
    const int state = isMinimized() ? 1 : isMaximized() ? 2 : 0;
    return {x(), y(), state};
}

void TChildForm::closeEvent(QCloseEvent* event)
{
    // A child of the frame lives as long as the program: its close box only
    // puts it aside, as minimising does.
    event->ignore();
    if (m_hideOnClose)
        hide();
    else
        showMinimized();
}

void TChildForm::setAsideAsTool(QSize size, QPoint at)
{
    setHiddenWhenClosed(true);
    resize(size);
    move(at);
    hide();
}

void showOrPutAside(QMdiSubWindow* w, bool show)
{
    if (!w) return;
    if (!show) {
        w->hide();
        return;
    }
    if (QMdiArea* area = w->mdiArea()) {
        const QSize room = area->viewport()->size();
        w->resize(w->size().boundedTo(room));
        if (!QRect(QPoint(0, 0), room).contains(w->geometry())) w->move(0, 0);
    }
    w->showNormal();
    w->raise();
    if (w->widget()) w->widget()->setFocus();
}
