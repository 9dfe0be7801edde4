#pragma once
// The common ground of the window tests: a working folder for zrvterm.ini, a
// ports folder where the simulator links COM1, message boxes recorded instead
// of shown, and the simulated device itself.

#include "SimServer.h"

#include <QObject>
#include <QStringList>
#include <QTemporaryDir>

#include <memory>
#include <string>

class SimulatedTerminal : public QObject {
protected:
    // Once per test run: working folder, ports folder, message recorder.
    bool prepareProcess();
    // A simulated device on COM1; returns the error text, empty on success.
    std::string startSim(zrvsim::SimOptions options = {});
    // Presses Connect; polling is then driven by hand, step by step.
    void connectDevice();
    // One polling step, as a Timer1 tick makes it, waited for.
    void pollStep();
    // Windows first, then the device.
    void shutDown();

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
    std::unique_ptr<zrvsim::SimServer> m_sim;
};
