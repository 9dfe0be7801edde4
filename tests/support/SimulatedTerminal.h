#pragma once
// The common ground of the end-to-end window tests: a working folder for
// zrvterm.ini, a ports folder where the simulator links COM1, message boxes
// recorded instead of shown, the simulated device and the whole terminal.

#include "SimServer.h"
#include "shell/Terminal.h"
#include "support/Settle.h"

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include <functional>
#include <memory>
#include <string>

class SimulatedTerminal : public QObject {
protected:
    // Once per test run: working folder, ports folder, message recorder.
    bool prepareProcess();
    // A simulated device on COM1; returns the error text, empty on success.
    std::string startSim(zrvsim::SimOptions options = {});
    // The terminal's windows and session, the main window shown.
    void createTerminal();
    // Presses Connect and waits for the outcome; polling is then driven by
    // hand, step by step.
    void connectDevice();
    // One polling step, as a Timer1 tick asks for it, waited for.
    void pollStep();
    // Waits for the session and delivers its results.
    void settle();
    // Windows first, then the device.
    void shutDown();
    // Closes the program as the operator would (`close` presses "Выход" or the
    // close box) and runs its event loop as main() does: 0 once the close
    // has ended it, 1 if it still runs after 5 s. Then the terminal is gone
    // (its I/O thread finished) and the device's last requests can be read.
    int closeTheProgram(const std::function<void()>& close);
    // Whether the last request the device saw is Stop's "coil 15 off".
    bool lastRequestIsStop();

    Terminal& t() { return *m_terminal; }
    zrv::Session& session() { return m_terminal->session(); }
    const zrv::RegisterImage& image() { return m_terminal->session().image(); }

    template <typename F>
    void device(F&& f)
    {
        m_sim->withDevice([&](zrvsim::DeviceModel& d, zrvsim::ModbusSlave& s) {
            f(d, s);
            return 0;
        });
    }

    QTemporaryDir m_dir;
    QStringList m_messages;  // "title: text" of every message box
    QStringList m_questions;  // the text of every yes-or-no question
    bool m_answer = false;    // what the operator answers to them
    std::unique_ptr<zrvsim::SimServer> m_sim;
    std::unique_ptr<Terminal> m_terminal;
};
