#pragma once
// Windows code page 1251, the encoding of the journal report files.

#include <string>
#include <string_view>

namespace zrv::text {

// UTF-8 to CP1251; a character the code page lacks becomes '?'. Invalid
// UTF-8 bytes become '?' as well.
std::string utf8ToCp1251(std::string_view utf8);

// CP1251 to UTF-8; the one unassigned byte (0x98) becomes U+FFFD.
std::string cp1251ToUtf8(std::string_view cp1251);

}  // namespace zrv::text
