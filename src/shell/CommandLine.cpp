#include "CommandLine.h"

#include "link/PortMap.h"
#include "text/Version.h"

#include <QCommandLineParser>
#include <QDir>
#include <QRegularExpression>
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
    "Ports COM1..COM32: an entry named COMn in $XDG_CONFIG_HOME/zrvterm/ports\n"
    "(~/.config/zrvterm/ports), either a link to any tty or a small file\n"
    "'tcp HOST PORT' for a serial device server; otherwise COM1..16 are\n"
    "/dev/ttyS0..15, COM17..24 /dev/ttyUSB0..7, COM25..32 /dev/ttyACM0..7.\n"
    "\n"
    "Ctrl-C, SIGTERM and SIGHUP close it as \"Выход\" does: the connection is\n"
    "ended as Stop ends it and zrvterm.ini is written; a second signal while\n"
    "it closes ends it at once.\n";


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
    const QCommandLineOption connectTo(QStringLiteral("connect"),
                                       QStringLiteral("Choose the port COMn (COM1..COM32) and connect at start."),
                                       QStringLiteral("COMn"));
    const QCommandLineOption address(QStringLiteral("address"),
                                     QStringLiteral("With --connect: the device's MODBUS address, 1..128 (default 1)."),
                                     QStringLiteral("N"));
    const QCommandLineOption modem(QStringLiteral("modem"),
                                   QStringLiteral("With --connect: dial NUMBER through the modem on that port."),
                                   QStringLiteral("NUMBER"));
    parser.addOption(help);
    parser.addOption(version);
    parser.addOption(userData);
    parser.addOption(connectTo);
    parser.addOption(address);
    parser.addOption(modem);
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
    } else {
        const auto refuse = [&out](const QString& why) {
            out.action = CommandLine::Refuse;
            out.text = QStringLiteral("zrvterm: %1 (zrvterm --help says more)\n").arg(why);
        };
        if (parser.isSet(connectTo)) {
            out.connectCom = zrv::comNumberFromName(parser.value(connectTo).toStdString()).value_or(0);
            if (out.connectCom == 0)
                refuse(QStringLiteral("--connect takes a port COM1..COM%1, not '%2'")
                           .arg(zrv::kComPortCount)
                           .arg(parser.value(connectTo)));
        } else if (parser.isSet(address) || parser.isSet(modem)) {
            refuse(QStringLiteral("--address and --modem go with --connect"));
        }
        if (parser.isSet(address)) {
            bool ok = false;
            out.connectAddress = parser.value(address).toInt(&ok);
            if (!ok || out.connectAddress < 1 || out.connectAddress > 128)
                refuse(QStringLiteral("--address takes 1..128, not '%1'").arg(parser.value(address)));
        }
        if (parser.isSet(modem)) {
            out.modemNumber = parser.value(modem).trimmed();
            // What the modem's ATDP takes; anything else would go out as typed.
            static const QRegularExpression dialable(QStringLiteral("^[0-9*#,wW-]{1,40}$"));
            if (!dialable.match(out.modemNumber).hasMatch())
                refuse(QStringLiteral("--modem takes a phone number of digits, not '%1'").arg(parser.value(modem)));
        }
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
