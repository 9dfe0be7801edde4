#include "About.h"

#include "text/Version.h"
#include "windowbase/ChildForm.h"
#include "windowbase/Product.h"

#include <QFrame>
#include <QLabel>
#include <QPushButton>
#include <QVBoxLayout>

TAbout_Form::TAbout_Form(QWidget* main) : QDialog(main, Qt::Tool | Qt::WindowStaysOnTopHint)
{
    setObjectName("About");
    setWindowTitle(QStringLiteral("О Программе"));
    auto* panel = new QFrame;
    panel->setObjectName("Panel1");
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    auto* lines = new QVBoxLayout(panel);
    const QString texts[] = {
        QStringLiteral("MODBUS-терминал регулятора ZRV %1").arg(QString::fromUtf8(kModel)),
        QStringLiteral("Разработка: команда zrvterm"),
        QStringLiteral("Выпуск 2026 года"),
        QStringLiteral("Версия %1").arg(QString::fromUtf8(kZrvVersion)),
        QStringLiteral("Программирование: команда zrvterm"),
        QStringLiteral("Связь: через трекер задач проекта zrvterm"),
    };
    int n = 1;
    for (const QString& t : texts) {
        auto* label = new QLabel(t);
        label->setObjectName(QStringLiteral("Label%1").arg(n++));
        lines->addWidget(label);
    }
    auto* cancel = new QPushButton(QStringLiteral("Отмена"));
    cancel->setObjectName("BitBtn1");
    connect(cancel, &QPushButton::clicked, this, &QDialog::reject);
    auto* box = new QVBoxLayout(this);
    box->addWidget(panel);
    box->addWidget(cancel, 0, Qt::AlignHCenter);
    resize(sizeHint().expandedTo(QSize(330, 0)));
    // Placed once, at start-up; it does not follow the main window.
    placeAboveMainCentre(this, main);
}
