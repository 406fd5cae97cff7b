// File names as callers send them.
#pragma once

#include <string>

namespace engine {

// Turns backslashes into slashes (dictionaries written on Windows name
// files as DATA\ORDERS.DAT) and rejects empty or overlong names. A status.
int NormalizePath(std::string* path);

}  // namespace engine
