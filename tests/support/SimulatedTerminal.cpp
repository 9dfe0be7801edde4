#include "SimulatedTerminal.h"

#include "connection/Select_form.h"
#include "session/Session.h"
#include "shell/Main_form.h"
#include "shell/MessageBox.h"

#include <QCoreApplication>
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

void SimulatedTerminal::createTerminal()
{
    m_terminal = std::make_unique<Terminal>();
    // Polling is driven step by step by the tests: the timer still runs and
    // stops as the session says, but its ticks ask for nothing.
    QObject::disconnect(m_terminal->main->Timer1, &QTimer::timeout, m_terminal->main, nullptr);
    m_terminal->main->show();
}

void SimulatedTerminal::settle()
{
    ::settle(session());
}

void SimulatedTerminal::connectDevice()
{
    QTest::mouseClick(t().select->Connect, Qt::LeftButton);
    settle();
}

void SimulatedTerminal::pollStep()
{
    t().main->Timer1Timer();
    settle();
}

void SimulatedTerminal::shutDown()
{
    m_terminal.reset();
    m_sim.reset();
}
