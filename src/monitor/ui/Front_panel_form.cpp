#include "Front_panel_form.h"

#include "monitor/ValveLogic.h"
#include "windowbase/MessageBox.h"

#include <QAccessibleWidget>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QPainter>
#include <QVBoxLayout>

namespace {

// The indicators are drawn by hand; screen readers get them as indicators
// whose description says what the colour means.
class ShapeAccessible : public QAccessibleWidget {
public:
    explicit ShapeAccessible(TShape* shape) : QAccessibleWidget(shape, QAccessible::Indicator) {}
    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name) return widget()->accessibleName();
        if (t != QAccessible::Description) return QAccessibleWidget::text(t);
        const QColor c = static_cast<TShape*>(widget())->brushColor();
        if (c == QColor(0, 255, 0)) return QStringLiteral("открыт");
        if (c == QColor(255, 0, 0)) return QStringLiteral("закрыт");
        if (c == QColor(0, 0, 0)) return QStringLiteral("состояние не определено");
        if (c == QColor(192, 192, 192)) return QStringLiteral("нет связи");
        return QString();
    }
};

QAccessibleInterface* shapeAccessibleFactory(const QString& className, QObject* object)
{
    if (className == QLatin1String("TShape") && object && object->isWidgetType())
        return new ShapeAccessible(static_cast<TShape*>(object));
    return nullptr;
}

}  // namespace

TShape::TShape(const QString& name, const QString& caption, QWidget* parent) : QWidget(parent)
{
    static const bool factoryInstalled = [] {
        QAccessible::installFactory(shapeAccessibleFactory);
        return true;
    }();
    (void)factoryInstalled;
    setObjectName(name);
    setAccessibleName(caption);
    setFixedSize(22, 22);
}

void TShape::setBrushColor(const QColor& c)
{
    if (c == m_color) return;
    m_color = c;
    update();
}

void TShape::paintEvent(QPaintEvent*)
{
    QPainter p(this);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(m_color);
    p.drawEllipse(QRectF(1.5, 1.5, width() - 3, height() - 3));
}

TFront_Panel::TFront_Panel(QMdiArea* area, const zrv::Settings& settings, zrv::Session& session)
    : TChildForm(area, QStringLiteral("Управление"), "Front_panel_form", false), m_session(session)
{
    StaticText1 = new QLabel(QStringLiteral("Раскрытие:"));
    StaticText1->setObjectName("StaticText1");
    Percent = new QLabel(QStringLiteral("0 %"));
    Percent->setObjectName("Percent");
    Percent->setAccessibleDescription(QStringLiteral("Раскрытие"));
    StaticText1->setBuddy(Percent);
    Percent->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    Percent->setFrameShape(QFrame::Panel);
    Percent->setFrameShadow(QFrame::Sunken);
    Percent->setFixedWidth(80);

    Panel1 = new QFrame;
    Panel1->setObjectName("Panel1");
    static_cast<QFrame*>(Panel1)->setFrameShape(QFrame::Panel);
    static_cast<QFrame*>(Panel1)->setFrameShadow(QFrame::Sunken);
    Panel1->setAutoFillBackground(true);
    QPalette pal = Panel1->palette();
    pal.setColor(QPalette::Window, pal.color(QPalette::Button));
    Panel1->setPalette(pal);
    auto* valves = new QGridLayout(Panel1);
    valves->setContentsMargins(6, 6, 6, 6);
    valves->setHorizontalSpacing(4);
    for (int i = 0; i < zrv::reg::kValveCount; ++i) {
        I[std::size_t(i)] = new TShape(QStringLiteral("I%1").arg(i + 1), QStringLiteral("Клапан %1").arg(i + 1));
        V[std::size_t(i)] = new QPushButton(QString::number(i + 1));
        V[std::size_t(i)]->setObjectName(QStringLiteral("V%1").arg(i + 1));
        V[std::size_t(i)]->setFixedWidth(26);
        V[std::size_t(i)]->setEnabled(false);
        valves->addWidget(I[std::size_t(i)], 0, i, Qt::AlignHCenter);
        valves->addWidget(V[std::size_t(i)], 1, i, Qt::AlignHCenter);
        connect(V[std::size_t(i)], &QPushButton::clicked, this, [this, i] { ValveClick(i + 1); });
    }
    StepUp = new QPushButton(QStringLiteral("+1"));
    StepUp->setObjectName("StepUp");
    StepDown = new QPushButton(QStringLiteral("-1"));
    StepDown->setObjectName("StepDown");
    for (QPushButton* b : {StepUp, StepDown}) {
        b->setFixedWidth(34);
        b->setEnabled(false);
    }
    valves->addWidget(StepUp, 0, 8);
    valves->addWidget(StepDown, 1, 8);
    connect(StepUp, &QPushButton::clicked, this, &TFront_Panel::StepUpClick);
    connect(StepDown, &QPushButton::clicked, this, &TFront_Panel::StepDownClick);

    StaticText3 = new QLabel(QStringLiteral("Источник питания:"));
    StaticText3->setObjectName("StaticText3");
    Sourse = new QLabel(QStringLiteral("Сеть"));
    Sourse->setObjectName("Sourse");
    Sourse->setAccessibleDescription(QStringLiteral("Источник питания"));
    Sourse->setFrameShape(QFrame::Panel);
    Sourse->setFrameShadow(QFrame::Sunken);
    Sourse->setMinimumWidth(170);
    StaticText3->setBuddy(Sourse);
    StaticText2 = new QLabel(QStringLiteral("Режим:"));
    StaticText2->setObjectName("StaticText2");
    Mode = new QComboBox;
    Mode->setObjectName("Mode");
    // A list to choose from: typed text could name no mode at all.
    Mode->setEditable(false);
    Mode->addItems({QStringLiteral("Ручное управление"), QStringLiteral("Шаговое управление"),
                    QStringLiteral("Регулятор давления"), QStringLiteral("Регулятор расхода"),
                    QStringLiteral("Ограничитель расхода")});
    Mode->setEnabled(false);
    StaticText2->setBuddy(Mode);

    auto* top = new QHBoxLayout;
    top->addWidget(StaticText1);
    top->addWidget(Percent);
    top->addStretch();
    auto* source = new QHBoxLayout;
    source->addWidget(StaticText3);
    source->addWidget(Sourse, 1);
    auto* mode = new QHBoxLayout;
    mode->addWidget(StaticText2);
    mode->addWidget(Mode, 1);
    auto* box = new QVBoxLayout(content());
    box->setContentsMargins(8, 8, 8, 8);
    box->addLayout(top);
    box->addWidget(Panel1);
    box->addLayout(source);
    box->addLayout(mode);

    m_programmaticMode = true;
    Mode->setCurrentIndex(0);
    m_programmaticMode = false;
    connect(Mode, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (!m_programmaticMode) ModeChange(index);
    });

    connect(&m_session, &zrv::Session::stateChanged, this,
            [this](const zrv::SessionState& state, const zrv::SessionState& before) {
                SessionStateChange(state);
                if (!zrv::deviceFound(state, before)) return;
                const zrv::PollSnapshot s = zrv::snapshotOf(m_session.image());
                ShowValveStates(s);
                if (s.externalControl) EnableButtonsForMode();
            });
    connect(&m_session, &zrv::Session::polled, this, &TFront_Panel::ShowPolled);

    setClientSize(content()->sizeHint().width(), content()->sizeHint().height());
    applyPlacement(zrv::placementFor(zrv::ChildWindow::FrontPanel, settings));
}

void TFront_Panel::DisableButtons()
{
    for (QPushButton* b : V) b->setEnabled(false);
    StepUp->setEnabled(false);
    StepDown->setEnabled(false);
}

void TFront_Panel::EnableButtonsForMode()
{
    const zrv::ButtonStates s = zrv::buttonsForMode(Mode->currentIndex());
    for (QPushButton* b : V) b->setEnabled(s.valves);
    StepUp->setEnabled(s.steps);
    StepDown->setEnabled(s.steps);
}

void TFront_Panel::ShowValveStates(const zrv::PollSnapshot& s)
{
    for (std::size_t i = 0; i < s.valves.size(); ++i) {
        const zrv::ValveColour c = s.valves[i];
        I[i]->setBrushColor(c == zrv::ValveColour::Open     ? QColor(0, 255, 0)
                                         : c == zrv::ValveColour::Closed ? QColor(255, 0, 0)
                                                                         : QColor(0, 0, 0));
    }
}

void TFront_Panel::ShowOpening(const zrv::PollSnapshot& s) { Percent->setText(QString::fromStdString(s.opening)); }

void TFront_Panel::ShowPowerSource(const zrv::PollSnapshot& s)
{
    Sourse->setText(s.mainsPower ? QStringLiteral("Сеть") : QStringLiteral("Аккумуляторная батарея"));
}

void TFront_Panel::paintIndicatorsSilver()
{
    for (TShape* s : I) s->setBrushColor(QColor(192, 192, 192));
}

void TFront_Panel::selectMode(int mode)
{
    m_programmaticMode = true;
    Mode->setCurrentIndex(mode < Mode->count() ? mode : -1);
    m_programmaticMode = false;
}

void TFront_Panel::ShowPolled(const zrv::PollSnapshot& s)
{
    ShowValveStates(s);
    ShowOpening(s);
    ShowPowerSource(s);
    // The buttons follow the device's coil 15, as the polling step reads it.
    if (s.hold == zrv::CommandHold::Held) DisableButtons();
    if (s.hold == zrv::CommandHold::Released) EnableButtonsForMode();
    if (s.modeReadBack) selectMode(s.mode);
}

void TFront_Panel::SessionStateChange(const zrv::SessionState& state)
{
    using C = zrv::Connection;
    // External control chosen here, with nothing else on the line.
    const bool on = state.idle() && state.externalControl;
    if (state.connection == C::HangingUp || state.connection == C::Disconnected) paintIndicatorsSilver();
    Mode->setEnabled(on);
    if (on && !m_commandsOn)
        EnableButtonsForMode();
    else if (!on)
        DisableButtons();
    m_commandsOn = on;
}

void TFront_Panel::ValveClick(int valve)
{
    if (!m_session.commandsAllowed()) return;
    m_session.ask(zrv::ToggleValve{valve});
    DisableButtons();
}

void TFront_Panel::StepUpClick()
{
    if (!m_session.commandsAllowed()) return;
    m_session.ask(zrv::Step{true});
    DisableButtons();
}

void TFront_Panel::StepDownClick()
{
    if (!m_session.commandsAllowed()) return;
    m_session.ask(zrv::Step{false});
    DisableButtons();
}

void TFront_Panel::ModeChange(int)
{
    // Only under external control as chosen here, and not while a journal
    // reading has the line: the next polling step puts the device's mode
    // back into the list.
    const zrv::SessionState s = m_session.state();
    if (!s.idle() || !s.externalControl) return;
    connect(m_session.ask(zrv::SetMode{Mode->currentIndex()}), &zrv::CommandReply::done, this, [this](bool ok) {
        if (!ok)
            ShowMessage(QStringLiteral("Сбой при установке режима"), QStringLiteral("Ошибка"));
        else if (m_session.commandsAllowed())
            EnableButtonsForMode();
    });
}
