#pragma once
// Who may read the console from another machine: a users file of
// "name:hash" lines, the hashes from crypt(3)'s key derivation functions
// (yescrypt as mkpasswd makes it, bcrypt, or SHA-512 crypt), never a
// password. And the slowing of an address that keeps guessing.

#include <QByteArray>
#include <QHash>
#include <QString>

#include <chrono>
#include <map>
#include <optional>
#include <string>

namespace zrv::web {

class Users {
public:
    // Nothing and why: the file missing, readable by others than its owner
    // (with the chmod that mends it), a line that is no user, a hash of no
    // accepted kind, or no user at all.
    static std::optional<Users> load(const std::string& path, std::string* why);
    // Whether the name and password match. Slow by design (the KDF):
    // called off the server's event loop.
    bool check(const std::string& name, const std::string& password) const;
    std::size_t size() const { return m_hashes.size(); }

private:
    std::map<std::string, std::string> m_hashes;
};

// Failed logins by address: after `kFreeFailures` within the window, every
// try is refused for a while, the right password too, so that guessing goes
// no faster than that.
class LoginThrottle {
public:
    static constexpr int kFreeFailures = 5;
    static constexpr std::chrono::seconds kWindow{600};
    static constexpr std::chrono::seconds kLockout{60};

    // Seconds still to wait before this address may try; 0 when it may.
    int waitS(const QString& address, qint64 nowMs) const;
    void failed(const QString& address, qint64 nowMs);
    void succeeded(const QString& address);

private:
    struct Record {
        int failures = 0;
        qint64 firstMs = 0, lockedUntilMs = 0;
    };
    QHash<QString, Record> m_records;
};

// The name and password of "Basic ..."; nothing for anything else.
std::optional<std::pair<std::string, std::string>> basicCredentials(const QByteArray& header);

}  // namespace zrv::web
