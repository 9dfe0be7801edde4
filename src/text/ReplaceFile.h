#pragma once
// Replacing a file the operator cares about (the settings, a saved report)
// without ever leaving it half written.

#include <string>
#include <string_view>

namespace zrv::text {

// Writes the bytes to a temporary file beside `path`, flushes it to disk and
// renames it over `path`. On any failure the temporary file is removed, any
// earlier file at `path` stays whole, `error` says why, and false comes back.
bool replaceFile(const std::string& path, std::string_view bytes, std::string* error = nullptr);

}  // namespace zrv::text
