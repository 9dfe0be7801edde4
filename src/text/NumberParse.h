#pragma once
// Operator-typed numbers: decimal text with "." as the separator, as the
// terminal reads every number an operator types.

#include <optional>
#include <string>
#include <string_view>

namespace zrv::text {

// A decimal number: optional blanks, an optional sign, digits with at most
// one ".", an optional exponent ("e" or "E", sign, digits), optional blanks.
// A value beyond single precision (or "NAN", "INF") is refused, so nothing
// typed can become infinity in a float register. On failure `error` says
// "'<text>' is not a valid floating point value".
std::optional<float> parseFloat(std::string_view text, std::string* error = nullptr);

// A whole decimal number in the signed 32-bit range; on failure `error` says
// "'<text>' is not a valid integer value".
std::optional<int32_t> parseInteger(std::string_view text, std::string* error = nullptr);

}  // namespace zrv::text
