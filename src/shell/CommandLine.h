#pragma once
// What zrvterm takes on its command line: --help and --version answer and
// end without a display; --user-data keeps the working files in the user's
// data folder (the desktop menu starts it so). Qt's own options (-platform,
// -display ...) pass through to the application.

#include <QString>
#include <QStringList>

struct CommandLine {
    enum Action { Run, ShowHelp, ShowVersion } action = Run;
    bool userData = false;
    QString text;  // the help or the version
};

CommandLine parseCommandLine(const QStringList& arguments);

// $XDG_DATA_HOME/zrvterm (~/.local/share/zrvterm), made if missing; empty
// with `why` set when it cannot be.
QString userDataFolder(QString* why);
