// The desktop shell.
#pragma once

#include <string>

namespace platform {

// Opens a file (or a web address) with the desktop's default program through xdg-open,
// without waiting for it. False when the opener could not be started.
bool OpenWithDefaultProgram(const std::string& target);

} // namespace platform
