#include "Sets_form.h"

#include "shell/Main_form.h"

TSets::TSets(TMain* main) : TChildForm(main, QStringLiteral("Уставки"), "Sets_form", true)
{
    content()->setMinimumSize(332, 257);
    Upload = new QPushButton(QStringLiteral("Загрузить из ZRV"), content());
    Upload->setObjectName("Upload");
    Upload->setGeometry(8, 224, 137, 25);
    Upload->setEnabled(false);
    Download = new QPushButton(QStringLiteral("Загрузить в  ZRV"), content());
    Download->setObjectName("Download");
    Download->setGeometry(195, 224, 129, 25);
    Download->setEnabled(false);
    resize(sizeHint());
    setMinimumSize(100, 210);
    setMaximumSize(350, 500);
    applyPlacement(zrv::placementFor(zrv::ChildWindow::Sets, main->settings));
}

void TSets::BuildTable() {}
