// brimvale-cli: the image library from the command line.
#include "CliCommands.h"
#include "image/core/CxMessages.h"

#include <cstdio>
#include <cstring>

namespace {

// One line per subcommand; a new one adds its file and its line here.
constexpr cli::Command COMMANDS[] = {
    { "info", cli::RunInfo, "FILE...", "describe each file as one JSON object per line" },
    { "decode", cli::RunDecode, "[--frame N] FILE OUT.bmp [--alpha ALPHA.bmp]",
        "decode FILE into a 24-bit BMP (and its alpha plane into an 8-bit grey BMP)" },
    { "make", cli::RunMake, "[OPTIONS] -o OUT.gif PHOTO...",
        "make one looping animated GIF from the photos (make --help: the options)" },
};

void PrintUsage(FILE* to)
{
    std::fprintf(to, "Usage: brimvale-cli COMMAND [ARGS...]\n\nCommands:\n");
    for (const cli::Command& command : COMMANDS)
        std::fprintf(to, "  %s %s\n      %s\n", command.name, command.usage, command.summary);
    std::fprintf(to,
        "\nOptions:\n  --help     show this text\n  --version  show the version\n\n"
        "Exit status: 0 success, 1 a file could not be read or written, 2 usage error.\n");
}

} // namespace

int main(int argc, char** argv)
{
    // The readers' remarks about a file stay out of what the commands print.
    SetMessageSink([](const char* text) { std::fprintf(stderr, "%s\n", text); });
    if (argc < 2) {
        PrintUsage(stderr);
        return cli::EXIT_USAGE;
    }
    const char* name = argv[1];
    if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0) {
        PrintUsage(stdout);
        return cli::EXIT_OK;
    }
    if (std::strcmp(name, "--version") == 0) {
        std::printf("brimvale-cli %s\n", BRIMVALE_VERSION);
        return cli::EXIT_OK;
    }
    for (const cli::Command& command : COMMANDS) {
        if (std::strcmp(name, command.name) == 0)
            return command.run(argc - 2, argv + 2);
    }
    std::fprintf(stderr, "brimvale-cli: unknown command '%s'\n", name);
    PrintUsage(stderr);
    return cli::EXIT_USAGE;
}
