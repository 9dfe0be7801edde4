#include "SimulatedTerminal.h"
#include "support/SessionProbe.h"

#include "connection/ui/Select_form.h"
#include "session/Session.h"
#include "shell/Main_form.h"
#include "windowbase/MessageBox.h"

#include <QCoreApplication>
#include <QDir>
#include <QtTest>

bool SimulatedTerminal::prepareProcess()
{
    if (!m_dir.isValid()) return false;
    QDir::setCurrent(m_dir.path());
    qputenv("XDG_CONFIG_HOME", (m_dir.path() + "/cfg").toUtf8());
    setMessageBoxHandler([this](const QString& text, const QString& title) { m_messages << title + ": " + text; });
    setQuestionHandler([this](const QString& text, const QString&) {
        m_questions << text;
        return m_answer;
    });
    return true;
}

std::string SimulatedTerminal::startSim(zrvsim::SimOptions options)
{
    options.comNumber = 1;
    m_messages.clear();
    m_questions.clear();
    m_answer = false;
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
    zrv::SessionProbe::setPollsItself(session(), false);
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

int SimulatedTerminal::closeTheProgram(const std::function<void()>& close)
{
    m_terminal->onClosed = [] { QCoreApplication::exit(0); };
    QTimer::singleShot(0, m_terminal->main, close);
    QTimer watchdog;
    watchdog.setSingleShot(true);
    QObject::connect(&watchdog, &QTimer::timeout, [] { QCoreApplication::exit(1); });
    watchdog.start(5000);
    const int status = QCoreApplication::exec();
    // The closed main window was the last one: Qt has posted itself a quit,
    // which a later test's event loop would take as its own.
    QCoreApplication::removePostedEvents(QCoreApplication::instance(), QEvent::Quit);
    m_terminal.reset();
    return status;
}

bool SimulatedTerminal::lastRequestIsStop()
{
    const auto requests = m_sim->requests();
    if (requests.empty()) return false;
    const zrvsim::Frame& f = requests.back().frame;
    return f.size() == 8 && f[1] == 5 && f[2] == 0 && f[3] == 15 && f[4] == 0 && f[5] == 0;
}

void SimulatedTerminal::shutDown()
{
    m_terminal.reset();
    m_sim.reset();
}
