#include "Secrets.h"

#include "text/SystemError.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>

namespace zrv::fleet {

bool privateFile(const std::string& path, std::string* why)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        if (why) *why = path + ": " + text::systemErrorText(errno);
        return false;
    }
    if ((st.st_mode & 077) != 0) {
        char mode[8];
        std::snprintf(mode, sizeof mode, "%04o", unsigned(st.st_mode & 07777));
        if (why)
            *why = path + ": хранит секрет, но доступен группе или другим (права " + mode + "); исправьте: chmod 600 " +
                   path;
        return false;
    }
    return true;
}

bool readSecretFile(const std::string& path, std::string* secret, std::string* why)
{
    if (!privateFile(path, why)) return false;
    std::string bytes, problem;
    if (!text::readSmallFile(path, 4096, &bytes, &problem)) {
        if (why) *why = path + ": " + problem;
        return false;
    }
    const std::size_t end = bytes.find_first_of("\r\n");
    *secret = bytes.substr(0, end);
    if (secret->empty()) {
        if (why) *why = path + ": файл пуст";
        return false;
    }
    return true;
}

}  // namespace zrv::fleet
