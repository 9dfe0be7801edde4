#pragma once
// The operating system's reasons, in the operator's language. strerror()
// speaks the C locale's English, and an operator who reads "No such file or
// directory" in the middle of a Russian sentence has to translate it first.

#include <string>

namespace zrv::text {

// The reason for an errno value in Russian; a rare one the table lacks keeps
// the system's own words after a Russian lead-in, so nothing is hidden.
std::string systemErrorText(int errnum);

// Reads a whole regular file of at most `maxBytes` bytes. On failure `error`
// says why in Russian and false comes back.
bool readSmallFile(const std::string& path, std::size_t maxBytes, std::string* bytes, std::string* error);

}  // namespace zrv::text
