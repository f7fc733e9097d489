// The subcommands of brimvale-cli. Each one gets the arguments after its name and
// answers an exit status: 0 success, 1 a file could not be read or written (the text on
// stderr), 2 a usage error.
#pragma once

#include <string>

namespace cli {

constexpr int EXIT_OK = 0;
constexpr int EXIT_FAILED = 1;
constexpr int EXIT_USAGE = 2;

using CommandFunction = int (*)(int argc, char** argv);

struct Command {
    const char* name;
    CommandFunction run;
    const char* usage; // the argument synopsis shown by --help
    const char* summary;
};

int RunInfo(int argc, char** argv);
int RunDecode(int argc, char** argv);
int RunMake(int argc, char** argv);

// The name of a format id ("BMP", "GIF", ...), "unknown" for 0 or an id out of range.
const char* FormatName(unsigned type);
// Text as a JSON string literal, with its quotes.
std::string JsonString(const std::string& text);
// What reading a picture passed over without failing, as one line on stderr.
void PrintReadingNote(const std::string& path, const std::string& note);

} // namespace cli
