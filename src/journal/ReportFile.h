#pragma once
// Report files: code page 1251 text with CR LF line ends.

#include <string>
#include <vector>

namespace zrv::journal {

// Lines as the viewer holds them, each written followed by CR LF, in CP1251.
// Written to a temporary file beside the target and renamed over it, so a
// failed save leaves any earlier file whole. False with `error` set when the
// file could not be written.
bool saveReport(const std::string& path, const std::vector<std::string>& utf8Lines, std::string* error);

// The file's lines (CR LF, LF or CR ends; a final line end closes the last
// line) converted from CP1251. Refuses files above `maxBytes`.
bool loadReport(const std::string& path, std::vector<std::string>* utf8Lines, std::string* error,
                std::size_t maxBytes = 64u << 20);

}  // namespace zrv::journal
