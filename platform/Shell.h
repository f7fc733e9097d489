// The desktop shell and the file-system places the program uses.
#pragma once

#include <string>

namespace platform {

// Opens a file (or a web address) with the desktop's default program through xdg-open,
// without waiting for it. False when the opener could not be started.
bool OpenWithDefaultProgram(const std::string& target);

// The user's temporary folder: $TMPDIR when it names a folder, else /tmp; no trailing
// slash.
std::string TemporaryFolder();

} // namespace platform
