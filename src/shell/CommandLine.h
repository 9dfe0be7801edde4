#pragma once
// What zrvterm takes on its command line: --help and --version answer and
// end without a display; --user-data keeps the working files in the user's
// data folder (the desktop menu starts it so); --connect picks a port (with
// --address and --modem) and connects at start, as a station's shortcut
// would. Qt's own options (-platform, -display ...) pass through to the
// application.

#include <QString>
#include <QStringList>

struct CommandLine {
    enum Action { Run, ShowHelp, ShowVersion, Refuse } action = Run;
    bool userData = false;
    // --connect: the port's number (1..32), 0 when not asked; the address
    // (1..128) and the number to dial, empty for a direct line.
    int connectCom = 0;
    int connectAddress = 1;
    QString modemNumber;
    QString text;  // the help, the version, or why the line was refused
};

CommandLine parseCommandLine(const QStringList& arguments);

// $XDG_DATA_HOME/zrvterm (~/.local/share/zrvterm), made if missing; empty
// with `why` set when it cannot be.
QString userDataFolder(QString* why);
