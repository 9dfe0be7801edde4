#include "ReportFile.h"

#include "text/Cp1251.h"
#include "text/ReplaceFile.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zrv::journal {

bool saveReport(const std::string& path, const std::vector<std::string>& lines, std::string* error)
{
    std::string bytes;
    for (const std::string& line : lines) bytes += text::utf8ToCp1251(line) + "\r\n";
    return text::replaceFile(path, bytes, error);
}

bool loadReport(const std::string& path, std::vector<std::string>* lines, std::string* error, std::size_t maxBytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        if (error) *error = std::strerror(errno);
        return false;
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        if (error) *error = "not a regular file";
        return false;
    }
    if (std::size_t(st.st_size) > maxBytes) {
        ::close(fd);
        if (error) *error = "the file is too large to show (" + std::to_string(st.st_size) + " bytes)";
        return false;
    }
    std::string bytes;
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            bytes.append(buf, std::size_t(n));
            if (bytes.size() > maxBytes) break;
        } else if (n == 0 || errno != EINTR) {
            break;
        }
    }
    ::close(fd);
    lines->clear();
    std::string current;
    bool open = false;  // a line has started and not been ended
    for (std::size_t i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (c == '\r' || c == '\n') {
            lines->push_back(text::cp1251ToUtf8(current));
            current.clear();
            open = false;
            if (c == '\r' && i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else {
            // A zero byte would cut the text in the viewer; show it as a gap.
            current += c == '\0' ? ' ' : c;
            open = true;
        }
    }
    if (open) lines->push_back(text::cp1251ToUtf8(current));
    return true;
}

}  // namespace zrv::journal
