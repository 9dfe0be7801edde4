#include "Measure_form.h"

#include "text/NumberText.h"

#include <QGridLayout>

namespace {

struct FieldSpec {
    const char* name;
    const char* caption;  // blanks and Cyrillic letters as the device's documents write them
    const char* unit;     // rich text: the raised digits
    const char* spoken;   // what the field is, for a screen reader
};

constexpr FieldSpec kFields[] = {
    {"P1", "Давление на входе     Р1=", "кгс/см<sup>2</sup>", "Давление на входе P1"},
    {"P2", "Давление на выходе  Р2=", "кгс/см<sup>2</sup>", "Давление на выходе P2"},
    {"Tg", "Температура газа      Тг =", "град. С", "Температура газа"},
    {"Qi", "Расход газа                Qи =", "тыс. нм<sup>3</sup>/ч", "Расход газа"},
    {"Mq", "Коэффициет расхода Mq=", "", "Коэффициент расхода"},
    {"Vbat", "Напряжение батареи  V =", "В", "Напряжение батареи"},
};

}  // namespace

TMeasure::TMeasure(QMdiArea* area, const zrv::Settings& settings, zrv::Session& session)
    : TChildForm(area, QStringLiteral("Измерения"), "Measure_form", false), m_session(session)
{
    auto* grid = new QGridLayout(content());
    grid->setContentsMargins(8, 8, 8, 8);
    grid->setHorizontalSpacing(6);
    grid->setVerticalSpacing(6);
    QLabel** fields[] = {&P1, &P2, &Tg, &Qi, &Mq, &Vbat};
    int row = 0;
    for (const FieldSpec& f : kFields) {
        auto* caption = new QLabel(QString::fromUtf8(f.caption));
        caption->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        caption->setObjectName(QStringLiteral("Label") + f.name);
        auto* value = new QLabel(QStringLiteral("0"));
        value->setObjectName(f.name);
        value->setAccessibleDescription(QString::fromUtf8(f.spoken));
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        value->setFrameShape(QFrame::Panel);
        value->setFrameShadow(QFrame::Sunken);
        // Wide enough for the longest text a float can give ("-3.403E38"),
        // so no value stretches the window.
        value->setFixedWidth(72);
        auto* unit = new QLabel(QString::fromUtf8(f.unit));
        unit->setTextFormat(Qt::RichText);
        unit->setObjectName(QStringLiteral("Unit") + f.name);
        grid->addWidget(caption, row, 0);
        grid->addWidget(value, row, 1);
        grid->addWidget(unit, row, 2);
        caption->setBuddy(value);
        *fields[row] = value;
        ++row;
    }
    grid->setColumnMinimumWidth(2, 64);
    setClientSize(content()->sizeHint().width(), content()->sizeHint().height());
    applyPlacement(zrv::placementFor(zrv::ChildWindow::Measure, settings));
    connect(&m_session, &zrv::Session::polled, this, &TMeasure::showPoll);
    connect(&m_session, &zrv::Session::stateChanged, this, [this](const zrv::SessionState& state) {
        if (state.connection == zrv::Connection::HangingUp) resetFields();
    });
}

void TMeasure::showPoll(const zrv::PollSnapshot& s)
{
    using zrv::text::formatFixed;
    const zrv::Measurements& m = s.measurements;
    // Precision 4 throughout; decimals per field; the flow in thousands.
    P1->setText(QString::fromStdString(formatFixed(m.p1, 4, 2)));
    P2->setText(QString::fromStdString(formatFixed(m.p2, 4, 2)));
    Tg->setText(QString::fromStdString(formatFixed(m.tg, 4, 1)));
    Qi->setText(QString::fromStdString(formatFixed(double(m.qi) * 0.001, 4, 1)));
    Vbat->setText(QString::fromStdString(formatFixed(m.vbat, 4, 1)));
    Mq->setText(QString::fromStdString(formatFixed(m.mq, 4, 4)));
}

void TMeasure::resetFields()
{
    for (QLabel* f : {P1, P2, Tg, Qi, Vbat, Mq}) f->setText(QStringLiteral("0"));
}
