#pragma once
// Files that hold a secret (a password, a private key, a roster with a
// password in it) must be the owner's alone, as ssh demands of a key: one
// that group or others may read is refused, with the chmod that fixes it.

#include <string>

namespace zrv::fleet {

// True when only the owner may read and write `path`; else false and why,
// with the fix. A file that cannot be looked at gives false and the reason.
bool privateFile(const std::string& path, std::string* why);

// Reads a secret from a private file: its first line, without the line end.
bool readSecretFile(const std::string& path, std::string* secret, std::string* why);

}  // namespace zrv::fleet
