// The files that let a desktop and Debian take the programs in: the menu entry's media
// types against the readers' extensions, the bash completion's pictures, and the manual
// pages against the programs' --help.
#include "image/core/CxImage.h"

#include <cstdio>
#include <fstream>
#include <gtest/gtest.h>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <sys/wait.h>

namespace {

using Names = std::set<std::string>;

std::string Read(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// What a shell command writes on stdout; its exit status through status.
std::string Output(const std::string& command, int* status = nullptr)
{
    std::string text;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0;)
            text.append(buffer, n);
        const int raw = pclose(pipe);
        if (status)
            *status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    }
    return text;
}

Names Split(const std::string& text, char separator)
{
    Names names;
    std::stringstream in(text);
    for (std::string name; std::getline(in, name, separator);)
        if (!name.empty())
            names.insert(name);
    return names;
}

Names KnownExtensions()
{
    Names extensions;
    for (const char* extension : CxImage::KnownExtensions())
        extensions.insert(extension);
    return extensions;
}

// The MIME types a file manager gives "x.EXT": the heaviest "*.EXT" globs of the shared
// database and of the package's own definitions, and the database's aliases.
struct MimeDatabase {
    std::map<std::string, std::pair<int, Names>> byExtension;
    std::map<std::string, std::string> aliases;

    void AddGlob(const std::string& type, const std::string& extension, int weight)
    {
        auto& [best, types] = byExtension[extension];
        if (weight > best)
            types.clear(), best = weight;
        if (weight == best)
            types.insert(type);
    }
    std::string Canonical(const std::string& type) const
    {
        const auto alias = aliases.find(type);
        return alias == aliases.end() ? type : alias->second;
    }
};

MimeDatabase ReadMimeDatabase(const std::string& ownDefinitions)
{
    MimeDatabase database;
    const std::regex globLine(R"(^(\d+):([^:]+):\*\.([A-Za-z0-9]+)(:.*)?$)");
    std::stringstream globs(Read("/usr/share/mime/globs2"));
    std::smatch m;
    for (std::string line; std::getline(globs, line);)
        if (std::regex_match(line, m, globLine))
            database.AddGlob(m[2], m[3], std::stoi(m[1]));
    std::stringstream aliases(Read("/usr/share/mime/aliases"));
    for (std::string alias, type; aliases >> alias >> type;)
        database.aliases[alias] = type;
    const std::string own = Read(ownDefinitions);
    const std::regex item(R"(<mime-type type="([^"]+)\"|<glob pattern="\*\.([a-z0-9]+)\")");
    std::string type;
    for (std::sregex_iterator it(own.begin(), own.end(), item), end; it != end; ++it)
        if ((*it)[1].matched)
            type = (*it)[1];
        else
            database.AddGlob(type, (*it)[2], 50);
    return database;
}

TEST(DesktopEntry, OffersTheProgramForEveryExtensionTheReadersTake)
{
    const MimeDatabase database = ReadMimeDatabase(BRIMVALE_MIME_DEFINITIONS);
    ASSERT_FALSE(database.byExtension.empty()) << "no shared MIME database";
    std::smatch line;
    const std::string entry = Read(BRIMVALE_DESKTOP_ENTRY);
    ASSERT_TRUE(std::regex_search(entry, line, std::regex("\nMimeType=([^\n]*)")));
    Names offered;
    for (const std::string& type : Split(line[1], ';'))
        offered.insert(database.Canonical(type));

    for (const std::string& extension : KnownExtensions()) {
        const auto found = database.byExtension.find(extension);
        if (found == database.byExtension.end()) {
            ADD_FAILURE() << "no MIME type names *." << extension << ": define one in "
                          << BRIMVALE_MIME_DEFINITIONS;
            continue;
        }
        bool covered = false;
        for (const std::string& type : found->second.second)
            covered |= offered.count(type) > 0;
        EXPECT_TRUE(covered) << "MimeType= lacks " << *found->second.second.begin()
                             << ", the type of *." << extension;
    }
}

TEST(BashCompletion, CompletesThePicturesTheReadersTake)
{
    std::smatch line;
    const std::string completion = Read(BRIMVALE_COMPLETION);
    ASSERT_TRUE(
        std::regex_search(completion, line, std::regex("_brimvale_cli_pictures='([^']*)'")));
    const Names completed = Split(line[1], '|');
    for (const std::string& extension : KnownExtensions())
        EXPECT_EQ(completed.count(extension), 1u) << "pictures lack *." << extension;
}

// Every option word in a text: "--width", "-o", "-platform".
Names Options(const std::string& text)
{
    Names options;
    const std::regex option(R"((^|[\s\[(,])(--?[A-Za-z][A-Za-z-]*))");
    for (std::sregex_iterator it(text.begin(), text.end(), option), end; it != end; ++it)
        options.insert((*it)[2]);
    return options;
}

// The manual page's source as text: troff's escaped hyphens and font changes undone.
std::string PageText(const std::string& page)
{
    std::string text = Output("gzip -dc " + page);
    text = std::regex_replace(text, std::regex(R"(\\f[BIRP])"), "");
    return std::regex_replace(text, std::regex(R"(\\-)"), "-");
}

// The program's --help, and each command's after it.
std::string HelpOfAll(const std::string& program)
{
    std::string help = Output(program + " --help");
    const auto commands = help.find("\nCommands:\n");
    if (commands != std::string::npos) {
        std::stringstream lines(help.substr(commands + 11));
        const std::regex commandLine(R"(^  ([a-z][a-z-]*) .*)");
        std::smatch m;
        for (std::string line; std::getline(lines, line) && !line.empty();)
            if (std::regex_match(line, m, commandLine))
                help += Output(program + " " + m[1].str() + " --help");
    }
    return help;
}

struct Manual {
    const char* page;
    const char* program;
};

const Manual MANUALS[] = {
    { BRIMVALE_MAN_DIR "/brimvale-cli.1.gz", BRIMVALE_CLI },
#ifdef BRIMVALE_UI
    { BRIMVALE_MAN_DIR "/brimvale.1.gz", BRIMVALE_UI },
#endif
};

TEST(ManualPages, ListTheOptionsThatHelpLists)
{
    for (const Manual& manual : MANUALS) {
        const Names inHelp = Options(HelpOfAll(manual.program));
        EXPECT_GT(inHelp.size(), 2u) << manual.program;
        EXPECT_EQ(Options(PageText(manual.page)), inHelp) << manual.page;
    }
}

TEST(ManualPages, RenderWithoutWarnings)
{
    for (const Manual& manual : MANUALS) {
        int status = -1;
        const std::string warnings = Output(
            std::string("MANWIDTH=80 man --warnings -l ") + manual.page + " 2>&1 >/dev/null",
            &status);
        EXPECT_EQ(status, 0) << manual.page;
        EXPECT_EQ(warnings, "") << manual.page;
        const std::string shown = Output(std::string("MANWIDTH=80 man -l ") + manual.page);
        for (const char* section : { "NAME", "SYNOPSIS", "OPTIONS", "EXAMPLES", "SEE ALSO" })
            EXPECT_NE(shown.find(std::string("\n") + section + "\n"), std::string::npos)
                << manual.page << " lacks " << section;
    }
}

} // namespace
