#pragma once
// The logic's texts are UTF-8 std::string; a window shows them as QString.

#include <QString>

#include <string>

namespace zrv {

inline QString uiText(const std::string& s) { return QString::fromUtf8(s.data(), qsizetype(s.size())); }

}  // namespace zrv
