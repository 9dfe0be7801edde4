// Any bytes through the report file's encoding, both ways. CP1251 text comes
// back byte for byte (but for the one unassigned byte); valid UTF-8 of
// characters the code page has comes back unchanged; anything else shows
// where it went wrong with "?" and never turns into a real character.

#include "FuzzCheck.h"
#include "text/Cp1251.h"

#include <string_view>

using namespace zrv::text;

namespace {

// Strict UTF-8, written apart from the converter: shortest forms only, no
// surrogates, nothing past U+10FFFF.
bool strictUtf8(std::string_view s)
{
    for (std::size_t i = 0; i < s.size();) {
        const auto b = static_cast<unsigned char>(s[i]);
        std::size_t n = 0;
        char32_t c = 0, least = 0;
        if (b < 0x80) n = 1, c = b;
        else if (b >= 0xC2 && b <= 0xDF) n = 2, c = b & 0x1F, least = 0x80;
        else if (b >= 0xE0 && b <= 0xEF) n = 3, c = b & 0x0F, least = 0x800;
        else if (b >= 0xF0 && b <= 0xF4) n = 4, c = b & 0x07, least = 0x10000;
        else return false;
        if (i + n > s.size()) return false;
        for (std::size_t k = 1; k < n; ++k) {
            const auto cb = static_cast<unsigned char>(s[i + k]);
            if ((cb & 0xC0) != 0x80) return false;
            c = (c << 6) | (cb & 0x3F);
        }
        if (c < least || (c >= 0xD800 && c <= 0xDFFF) || c > 0x10FFFF) return false;
        i += n;
    }
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string bytes(reinterpret_cast<const char*>(data), size);
    std::string expected = bytes;
    for (char& c : expected)
        if (static_cast<unsigned char>(c) == 0x98) c = '?';
    FUZZ_CHECK(utf8ToCp1251(cp1251ToUtf8(bytes)) == expected);

    const std::string cp = utf8ToCp1251(bytes);
    FUZZ_CHECK(cp.size() <= bytes.size());
    FUZZ_CHECK(utf8ToCp1251(cp1251ToUtf8(cp)) == cp);
    if (cp1251ToUtf8(cp) != bytes) {
        // Not all of it came through: it was not strict UTF-8 of CP1251
        // characters, and the loss shows.
        FUZZ_CHECK(cp.find('?') != std::string::npos);
    } else {
        FUZZ_CHECK(strictUtf8(bytes));
    }
    if (!strictUtf8(bytes)) FUZZ_CHECK(cp.find('?') != std::string::npos);
    return 0;
}
