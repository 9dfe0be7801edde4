#include "ChangeRecord.h"

#include "text/SystemError.h"

#include <fcntl.h>
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

namespace zrv {

namespace {

std::string stamp(std::time_t t, bool utc)
{
    std::tm tm{};
    if (utc) ::gmtime_r(&t, &tm);
    else ::localtime_r(&t, &tm);
    char buf[32];
    std::strftime(buf, sizeof buf, utc ? "%Y-%m-%dT%H:%M:%SZ" : "%Y-%m-%dT%H:%M:%S", &tm);
    return buf;
}

std::string loginName()
{
    if (const passwd* pw = ::getpwuid(::geteuid())) return pw->pw_name;
    return std::to_string(::geteuid());
}

std::string hostName()
{
    char buf[256] = {};
    if (::gethostname(buf, sizeof buf - 1) != 0) return {};
    return buf;
}

}  // namespace

std::string jsonString(const std::string& s)
{
    std::string out = "\"";
    for (const char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char u[8];
                std::snprintf(u, sizeof u, "\\u%04x", unsigned(c));
                out += u;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

std::string changeLine(const ChangeEntry& e)
{
    const std::time_t t = std::chrono::system_clock::to_time_t(e.at);
    const auto orNull = [](const std::string& v) { return v.empty() ? std::string("null") : v; };
    return "{\"local\":" + jsonString(stamp(t, false)) + ",\"utc\":" + jsonString(stamp(t, true)) +
           ",\"user\":" + jsonString(loginName()) + ",\"host\":" + jsonString(hostName()) +
           ",\"port\":" + jsonString(e.port) + ",\"device\":" + std::to_string(e.device) +
           ",\"what\":" + jsonString(e.what) + ",\"before\":" + orNull(e.before) + ",\"after\":" + orNull(e.after) +
           ",\"outcome\":" + jsonString(e.outcome) + "}";
}

bool appendChange(const std::string& path, const std::string& line, std::string* why)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0) {
        if (why) *why = path + ": " + text::systemErrorText(errno);
        return false;
    }
    // One write, so that the line lands whole even beside another writer.
    const std::string bytes = line + "\n";
    const ssize_t n = ::write(fd, bytes.data(), bytes.size());
    int failure = n < 0 ? errno : (std::size_t(n) != bytes.size() ? EIO : 0);
    if (!failure && ::fsync(fd) != 0) failure = errno;
    if (::close(fd) != 0 && !failure) failure = errno;
    if (failure) {
        if (why) *why = path + ": " + text::systemErrorText(failure);
        return false;
    }
    return true;
}

}  // namespace zrv
