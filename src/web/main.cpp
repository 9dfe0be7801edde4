// zrvweb: the fleet in a browser, read from the collector's store.

#include "fleet/FleetStatus.h"
#include "fleet/Paths.h"
#include "fleet/Roster.h"
#include "text/SystemError.h"
#include "web/WebServer.h"

#include <QCoreApplication>
#include <QFile>
#include <QSocketNotifier>
#include <QSslCertificate>
#include <QSslKey>

#include <systemd/sd-daemon.h>

#include <sys/signalfd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <string>

using namespace zrv;

namespace {

const char kUsage[] =
    "zrvweb: the fleet of ZRV regulators in a browser, read-only, from zrvcollect's store\n"
    "\n"
    "usage: zrvweb (--store STORE | --roster FILE) [options]\n"
    "  --store STORE      an SQLite file or postgresql://... (a role that may only SELECT is enough)\n"
    "  --roster FILE      the collectors' roster: its stations are the fleet, its store is read\n"
    "  --listen ADDR:PORT where to listen (127.0.0.1:8080); any address but loopback needs\n"
    "                     --tls-cert, --tls-key and --users\n"
    "  --tls-cert FILE    the server's certificate (PEM, its chain after it)\n"
    "  --tls-key FILE     its private key (PEM), readable by nobody else\n"
    "  --users FILE       NAME:HASH lines (mkpasswd's yescrypt), mode 600: only these may read\n"
    "  --poll SECONDS     how often the store is asked for new calls (2)\n"
    "  --help             this text\n";

int refuse(const std::string& why)
{
    std::fprintf(stderr, "zrvweb: %s\n", why.c_str());
    return 2;
}

std::optional<QByteArray> readSmall(const std::string& path, const char* option, bool secret, std::string* why)
{
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) {
        *why = std::string(option) + " " + path + ": " + text::systemErrorText(errno);
        return std::nullopt;
    }
    if (secret && (st.st_mode & 004)) {
        *why = std::string(option) + " " + path + ": ключ читают все; исправьте: chmod 600 " + path;
        return std::nullopt;
    }
    QFile f(QString::fromStdString(path));
    if (st.st_size > 1024 * 1024 || !f.open(QIODevice::ReadOnly)) {
        *why = std::string(option) + " " + path + ": не читается";
        return std::nullopt;
    }
    return f.readAll();
}

std::optional<QSslConfiguration> tlsFrom(const std::string& certPath, const std::string& keyPath, std::string* why)
{
    const auto cert = readSmall(certPath, "--tls-cert", false, why);
    if (!cert) return std::nullopt;
    const auto keyData = readSmall(keyPath, "--tls-key", true, why);
    if (!keyData) return std::nullopt;
    const QList<QSslCertificate> chain = QSslCertificate::fromData(*cert, QSsl::Pem);
    if (chain.isEmpty()) {
        *why = "--tls-cert " + certPath + ": не сертификат PEM";
        return std::nullopt;
    }
    QSslKey key;
    for (QSsl::KeyAlgorithm a : {QSsl::Rsa, QSsl::Ec})
        if (key.isNull()) key = QSslKey(*keyData, a, QSsl::Pem);
    if (key.isNull()) {
        *why = "--tls-key " + keyPath + ": не закрытый ключ PEM (RSA или EC, без пароля)";
        return std::nullopt;
    }
    QSslConfiguration c = QSslConfiguration::defaultConfiguration();
    c.setLocalCertificateChain(chain);
    c.setPrivateKey(key);
    c.setPeerVerifyMode(QSslSocket::VerifyNone);
    c.setProtocol(QSsl::TlsV1_2OrLater);
    return c;
}

}  // namespace

int main(int argc, char** argv)
{
    // TERM and INT are read as events of the loop, not run in a handler.
    sigset_t stops;
    sigemptyset(&stops);
    sigaddset(&stops, SIGTERM);
    sigaddset(&stops, SIGINT);
    pthread_sigmask(SIG_BLOCK, &stops, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    QCoreApplication app(argc, argv);
    web::WebOptions options;
    std::string store, rosterPath, cert, key, users, listen = "127.0.0.1:8080";
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        const QString a = args[i];
        const auto value = [&](std::string& into) {
            if (i + 1 >= args.size()) return false;
            into = args[++i].toStdString();
            return true;
        };
        bool ok = true;
        if (a == QLatin1String("--help")) {
            std::fputs(kUsage, stdout);
            return 0;
        } else if (a == QLatin1String("--store")) ok = value(store);
        else if (a == QLatin1String("--roster")) ok = value(rosterPath);
        else if (a == QLatin1String("--listen")) ok = value(listen);
        else if (a == QLatin1String("--tls-cert")) ok = value(cert);
        else if (a == QLatin1String("--tls-key")) ok = value(key);
        else if (a == QLatin1String("--users")) ok = value(users);
        else if (a == QLatin1String("--poll")) {
            std::string s;
            ok = value(s);
            bool number = false;
            const double seconds = QString::fromStdString(s).toDouble(&number);
            if (!number || seconds < 0.2 || seconds > 3600) return refuse("--poll: от 0.2 до 3600 секунд");
            options.poll = std::chrono::milliseconds(qint64(seconds * 1000));
        } else {
            std::fputs(kUsage, stderr);
            return refuse("неизвестный параметр " + a.toStdString());
        }
        if (!ok) return refuse(a.toStdString() + ": нужно значение");
    }
    std::string why;
    if (!rosterPath.empty()) {
        auto roster = fleet::loadRoster(rosterPath, &why);
        if (!roster) return refuse(why);
        if (store.empty()) store = fleet::rosterStorePath(*roster, rosterPath, &why);
        if (store.empty()) return refuse(why);
        options.roster = std::move(*roster);
    }
    if (store.empty()) return refuse("нужен --store или --roster (zrvweb --help)");
    options.source = store;

    // "HOST:PORT", "[V6]:PORT" or ":PORT".
    const std::size_t colon = listen.rfind(':');
    std::string host = colon == std::string::npos ? "127.0.0.1" : listen.substr(0, colon);
    const std::string port = colon == std::string::npos ? listen : listen.substr(colon + 1);
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']') host = host.substr(1, host.size() - 2);
    bool portOk = false;
    const uint portNumber = QString::fromStdString(port).toUInt(&portOk);
    if (!portOk || portNumber > 65535) return refuse("--listen " + listen + ": нужен порт от 0 до 65535 (АДРЕС:ПОРТ)");
    options.port = quint16(portNumber);
    if (host.empty() || host == "localhost") options.host = QHostAddress(QHostAddress::LocalHost);
    else if (!options.host.setAddress(QString::fromStdString(host))) return refuse("--listen " + listen + ": не адрес IP");

    if (cert.empty() != key.empty()) return refuse("--tls-cert и --tls-key задаются вместе");
    if (!options.host.isLoopback()) {
        // The fleet's names, lines and findings go to whoever reaches the
        // address: not in clear, and not to anyone.
        std::string missing;
        if (cert.empty()) missing += " --tls-cert и --tls-key";
        if (users.empty()) missing += std::string(missing.empty() ? "" : ",") + " --users";
        if (!missing.empty())
            return refuse("адрес " + host + " не петлевой: нужны" + missing +
                          " (шифрование и пароли), иначе слушается только 127.0.0.1");
    }
    if (!cert.empty()) {
        options.tls = tlsFrom(cert, key, &why);
        if (!options.tls) return refuse(why);
    }
    if (!users.empty()) {
        options.users = web::Users::load(users, &why);
        if (!options.users) return refuse(why);
    }

    web::WebServer server(options);
    if (!server.listen(&why)) return refuse(why);
    std::fprintf(stderr, "zrvweb: %s://%s:%u/ читает %s\n", options.tls ? "https" : "http",
                 options.host.toString().toUtf8().constData(), unsigned(server.port()), fleet::shownSource(store).c_str());
    std::fflush(stderr);
    QObject::connect(&server, &web::WebServer::firstRead, &app, [] { sd_notify(0, "READY=1"); });

    const int fd = signalfd(-1, &stops, SFD_CLOEXEC | SFD_NONBLOCK);
    QSocketNotifier stop(fd, QSocketNotifier::Read);
    QObject::connect(&stop, &QSocketNotifier::activated, &app, [fd] {
        signalfd_siginfo info{};
        while (::read(fd, &info, sizeof info) == sizeof info) {}
        sd_notify(0, "STOPPING=1");
        QCoreApplication::quit();
    });
    const int status = app.exec();
    ::close(fd);
    return status;
}
