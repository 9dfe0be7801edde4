#include "ReportFile.h"

#include "text/Cp1251.h"
#include "text/ReplaceFile.h"
#include "text/SystemError.h"

namespace zrv::journal {

bool saveReport(const std::string& path, const std::vector<std::string>& lines, std::string* error)
{
    std::string bytes;
    for (const std::string& line : lines) bytes += text::utf8ToCp1251(line) + "\r\n";
    return text::replaceFile(path, bytes, error);
}

bool loadReport(const std::string& path, std::vector<std::string>* lines, std::string* error, std::size_t maxBytes)
{
    std::string bytes;
    if (!text::readSmallFile(path, maxBytes, &bytes, error)) return false;
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
