#include "SimulatedTerminal.h"

#include "link/Select_form.h"
#include "shell/Forms.h"
#include "shell/Main_form.h"
#include "shell/MessageBox.h"

#include <QDir>
#include <QtTest>

bool SimulatedTerminal::prepareProcess()
{
    if (!m_dir.isValid()) return false;
    QDir::setCurrent(m_dir.path());
    qputenv("XDG_CONFIG_HOME", (m_dir.path() + "/cfg").toUtf8());
    setMessageBoxHandler([this](const QString& text, const QString& title) { m_messages << title + ": " + text; });
    return true;
}

std::string SimulatedTerminal::startSim(zrvsim::SimOptions options)
{
    options.comNumber = 1;
    m_messages.clear();
    m_sim = std::make_unique<zrvsim::SimServer>(options);
    std::string error;
    m_sim->start(&error);
    return error;
}

void SimulatedTerminal::connectDevice()
{
    QTest::mouseClick(forms().select->Connect, Qt::LeftButton);
    forms().main->Timer1->stop();
}

void SimulatedTerminal::pollStep()
{
    forms().main->Timer1Timer();
    forms().main->waitForPollingWorker();
}

void SimulatedTerminal::shutDown()
{
    destroyForms();
    m_sim.reset();
}
