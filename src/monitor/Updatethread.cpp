#include "Updatethread.h"

#include "link/ModbusTransact.h"
#include "monitor/Front_panel_form.h"
#include "monitor/Measure_form.h"
#include "monitor/ValveLogic.h"
#include "shell/Main_form.h"
#include "shell/PostToWindow.h"

using zrv::ModbusTransact;

TUpdate1::TUpdate1(TMain* main, TMeasure* measure, TFront_Panel* panel)
    : m_main(main), m_measure(measure), m_panel(panel)
{
    setObjectName("Updatethread");
}

TUpdate1* TUpdate1::start(TMain* main, TMeasure* measure, TFront_Panel* panel)
{
    auto* worker = new TUpdate1(main, measure, panel);
    connect(worker, &QThread::finished, worker, &QObject::deleteLater);
    worker->QThread::start();
    return worker;
}

void TUpdate1::Execute()
{
    const zrv::RegisterImage& img = zrv::registerImage();
    ModbusTransact(1, 0, zrv::reg::kCoilCount);
    ModbusTransact(4, 0, zrv::reg::kLiveInputCount);
    ModbusTransact(2, 0, zrv::reg::kDiscreteCount);
    ModbusTransact(3, zrv::reg::kZrvFactor1, zrv::reg::kValveCount);

    const int number = img.deviceNumber();
    postToWindow(m_main, [main = m_main, number] { main->setDeviceStatus(QStringLiteral("Обнаружен ZRV-%1").arg(number)); });
    if (m_measure) postToWindow(m_measure, [m = m_measure] { m->refreshFromImage(); });
    if (!m_panel) return;
    postToWindow(m_panel, [p = m_panel] {
        p->ShowValveStates();
        p->ShowOpening();
        p->ShowPowerSource();
    });

    const zrv::ValveHoldOffStep hold = zrv::runValveHoldOff(m_panel->ValveHoldOff, img);
    if (hold.disableButtons) postToWindow(m_panel, [p = m_panel] { p->DisableButtons(); });
    if (hold.enableButtonsForMode) postToWindow(m_panel, [p = m_panel] { p->EnableButtonsForMode(); });

    if (zrv::runModeHoldOff(m_panel->ModeHoldOff)) {
        ModbusTransact(3, zrv::reg::kMode, 1);
        postToWindow(m_panel, [p = m_panel] { p->selectModeFromImage(); });
    }
}
