#include "CommandLine.h"

#include "text/Version.h"

#include <QCommandLineParser>
#include <QDir>
#include <QStandardPaths>

namespace {

const char* const kHelpTail =
    "\n"
    "Where it keeps its files: zrvterm.ini (port, address, modem, window places,\n"
    "phone number, last report) and the journal reports it offers to save are\n"
    "kept in the current folder when started from a terminal, and in\n"
    "$XDG_DATA_HOME/zrvterm (~/.local/share/zrvterm) with --user-data, as the\n"
    "desktop menu starts it.\n"
    "\n"
    "Ports COM1..COM32: a link named COMn in $XDG_CONFIG_HOME/zrvterm/ports\n"
    "(~/.config/zrvterm/ports) to any tty; otherwise COM1..16 are /dev/ttyS0..15,\n"
    "COM17..24 /dev/ttyUSB0..7, COM25..32 /dev/ttyACM0..7.\n";

}  // namespace

CommandLine parseCommandLine(const QStringList& arguments)
{
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("zrvterm %1: the operator's terminal for the ZRV gas pressure and flow regulator,\n"
                       "over MODBUS RTU at 9600 baud, directly or through a dialled modem.")
            .arg(QString::fromUtf8(kZrvVersion)));
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")},
                                  QStringLiteral("Show this text and end."));
    const QCommandLineOption version(QStringLiteral("version"), QStringLiteral("Show the version and end."));
    const QCommandLineOption userData(QStringLiteral("user-data"),
                                      QStringLiteral("Keep zrvterm.ini and the reports in $XDG_DATA_HOME/zrvterm."));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(userData);
    // Anything else (Qt's own -platform, -display ... with their values) is
    // for QApplication, which comes later.
    parser.parse(arguments);

    CommandLine out;
    out.userData = parser.isSet(userData);
    if (parser.isSet(help)) {
        out.action = CommandLine::ShowHelp;
        // Parsed before the application exists, so Qt does not know our name.
        out.text = parser.helpText().replace(QStringLiteral("<executable_name>"), QStringLiteral("zrvterm")) +
                   QString::fromUtf8(kHelpTail);
    } else if (parser.isSet(version)) {
        out.action = CommandLine::ShowVersion;
        out.text = QStringLiteral("zrvterm %1\n").arg(QString::fromUtf8(kZrvVersion));
    }
    return out;
}

QString userDataFolder(QString* why)
{
    QString base = qEnvironmentVariable("XDG_DATA_HOME");
    if (base.isEmpty() || !QDir::isAbsolutePath(base)) base = QDir::homePath() + QStringLiteral("/.local/share");
    const QString folder = base + QStringLiteral("/zrvterm");
    if (!QDir().mkpath(folder)) {
        if (why) *why = QStringLiteral("cannot make the folder %1").arg(folder);
        return {};
    }
    return folder;
}
