#include "Users.h"

#include "text/SystemError.h"

#include <crypt.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <memory>

namespace zrv::web {

namespace {

// The key derivation functions crypt(3) offers that are worth the name:
// yescrypt, gost-yescrypt, scrypt, bcrypt, SHA-512 crypt.
bool acceptedHash(const std::string& h)
{
    for (const char* prefix : {"$y$", "$gy$", "$7$", "$2b$", "$2y$", "$6$"})
        if (h.rfind(prefix, 0) == 0) return h.size() > std::strlen(prefix) + 8;
    return false;
}

}  // namespace

std::optional<Users> Users::load(const std::string& path, std::string* why)
{
    const auto fail = [&](const std::string& w) -> std::optional<Users> {
        if (why) *why = "--users " + path + ": " + w;
        return std::nullopt;
    };
    struct stat st{};
    if (::stat(path.c_str(), &st) != 0) return fail(text::systemErrorText(errno));
    if (!S_ISREG(st.st_mode)) return fail("не файл");
    if (st.st_mode & 077) return fail("файл читают не только его владелец; исправьте: chmod 600 " + path);
    std::ifstream in(path);
    if (!in) return fail("не открывается");
    Users users;
    std::string line;
    int number = 0;
    while (std::getline(in, line)) {
        ++number;
        if (number > 10000 || line.size() > 4096) return fail("слишком большой для списка пользователей");
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.empty() || line[0] == '#') continue;
        const std::size_t colon = line.find(':');
        if (colon == 0 || colon == std::string::npos)
            return fail("строка " + std::to_string(number) + ": нужно ИМЯ:ХЭШ");
        const std::string name = line.substr(0, colon), hash = line.substr(colon + 1);
        if (!acceptedHash(hash))
            return fail("строка " + std::to_string(number) + ": не хэш пароля (нужен yescrypt, bcrypt или SHA-512 crypt, "
                        "например из mkpasswd)");
        users.m_hashes[name] = hash;
    }
    if (users.m_hashes.empty()) return fail("ни одного пользователя");
    return users;
}

bool Users::check(const std::string& name, const std::string& password) const
{
    const auto it = m_hashes.find(name);
    // An unknown name costs as much as a known one, so that a guess does not
    // learn which names exist.
    static const std::string decoy = "$y$j9T$0123456789abcdefghijkl$0123456789abcdefghijklmnopqrstuvwxyzABCD";
    const std::string& hash = it == m_hashes.end() ? decoy : it->second;
    auto data = std::make_unique<crypt_data>();
    std::memset(data.get(), 0, sizeof(crypt_data));
    const char* result = crypt_r(password.c_str(), hash.c_str(), data.get());
    if (!result || result[0] == '*') return false;
    return it != m_hashes.end() && std::strlen(result) == hash.size() && std::memcmp(result, hash.data(), hash.size()) == 0;
}

int LoginThrottle::waitS(const QString& address, qint64 nowMs) const
{
    const auto it = m_records.find(address);
    if (it == m_records.end() || it->lockedUntilMs <= nowMs) return 0;
    return int((it->lockedUntilMs - nowMs + 999) / 1000);
}

void LoginThrottle::failed(const QString& address, qint64 nowMs)
{
    // A bound on what is remembered: a flood from many addresses forgets
    // the oldest rather than growing without end.
    if (m_records.size() > 100000) m_records.clear();
    Record& r = m_records[address];
    const qint64 window = std::chrono::milliseconds(kWindow).count();
    if (nowMs - r.firstMs > window) r = Record{0, nowMs, 0};
    if (++r.failures >= kFreeFailures) r.lockedUntilMs = nowMs + std::chrono::milliseconds(kLockout).count();
}

void LoginThrottle::succeeded(const QString& address) { m_records.remove(address); }

std::optional<std::pair<std::string, std::string>> basicCredentials(const QByteArray& header)
{
    const QByteArray h = header.trimmed();
    if (!h.startsWith("Basic ") && !h.startsWith("basic ")) return std::nullopt;
    const auto decoded = QByteArray::fromBase64Encoding(h.mid(6).trimmed(), QByteArray::AbortOnBase64DecodingErrors);
    if (!decoded) return std::nullopt;
    const QByteArray& pair = decoded.decoded;
    const qsizetype colon = pair.indexOf(':');
    if (colon <= 0) return std::nullopt;
    return std::make_pair(pair.left(colon).toStdString(), pair.mid(colon + 1).toStdString());
}

}  // namespace zrv::web
