// The table of commands and options: what the parser makes of command lines,
// and that the help and the bash completion, both written from the table,
// offer exactly what the parser takes.

#include "cli/CommandLine.h"
#include "cli/CommandTable.h"
#include "cli/Usage.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <unistd.h>

namespace quorvane {
namespace {

CliResult<Invocation> parse(const std::string& line) {
    std::istringstream words(line);
    std::vector<std::string> args;
    for (std::string word; words >> word;)
        args.push_back(word == "''" ? "" : word);
    return parseCommandLine(args);
}

TEST(CliTable, CommandLinesBecomeInvocations) {
    struct Case {
        std::string line;
        CliCommand command;
        std::string safe;
        std::vector<int> numbers;
        std::vector<std::string> names;
        std::string folder;
        std::string newName;
    };
    const std::vector<Case> cases = {
        {"list s.cx", CliCommand::List, "s.cx", {}, {}, "", ""},
        {"extract s.cx out 3 1", CliCommand::Extract, "s.cx", {3, 1}, {}, "out", ""},
        {"extract s.cx out --name a --name ''",
         CliCommand::Extract,
         "s.cx",
         {},
         {"a", ""},
         "out",
         ""},
        {"rename s.cx 2 new", CliCommand::Rename, "s.cx", {2}, {}, "", "new"},
        {"rename s.cx --name old new", CliCommand::Rename, "s.cx", {}, {"old"}, "", "new"},
        {"delete --name=x s.cx 0 7", CliCommand::Delete, "s.cx", {0, 7}, {"x"}, "", ""},
        {"mount s.cx dir", CliCommand::Mount, "s.cx", {}, {}, "dir", ""},
        {"cat s.cx 4", CliCommand::Cat, "s.cx", {4}, {}, "", ""},
        {"cat --name n s.cx", CliCommand::Cat, "s.cx", {}, {"n"}, "", ""},
        {"list s.cx --version", CliCommand::Version, "", {}, {}, "", ""},
        {"--version list s.cx --help", CliCommand::Help, "", {}, {}, "", ""},
        {"-h", CliCommand::Help, "", {}, {}, "", ""},
    };
    for (const Case& c : cases) {
        const auto parsed = parse(c.line);
        ASSERT_TRUE(parsed) << c.line << ": " << parsed.failure().message;
        const Invocation& got = parsed.value();
        EXPECT_EQ(got.command, c.command) << c.line;
        EXPECT_EQ(got.safePath, c.safe) << c.line;
        EXPECT_EQ(got.numbers, c.numbers) << c.line;
        EXPECT_EQ(got.names, c.names) << c.line;
        EXPECT_EQ(got.folder, c.folder) << c.line;
        EXPECT_EQ(got.newName, c.newName) << c.line;
    }
    const auto added = parse("add s.cx a -- --force b --password-file=pw --erase-originals");
    ASSERT_TRUE(added);
    EXPECT_EQ(
        added.value().files,
        (std::vector<std::string>{"a", "--force", "b", "--password-file=pw", "--erase-originals"}));
    EXPECT_FALSE(added.value().eraseOriginals);
    EXPECT_FALSE(added.value().passwordFile);
}

TEST(CliTable, RefusedLinesSayWhyAsUsageErrors) {
    const std::vector<std::pair<std::string, std::string>> cases = {
        {"", "no command given"},
        {"frob s.cx", "unknown command frob"},
        {"list s.cx -x", "unknown option -x"},
        {"list s.cx --force=1", "unknown option --force=1"},
        {"create", "create: too few arguments"},
        {"mount s.cx a b", "mount: too many arguments"},
        {"rename s.cx --name a", "rename: too few arguments"},
        {"rename s.cx 0 x --name a", "rename: give one entry, by NUMBER or by --name"},
        {"delete s.cx +1", "not an entry number: +1"},
        {"list s.cx --force", "--force belongs to create"},
        {"list s.cx --allow-empty-password", "--allow-empty-password belongs to create and passwd"},
        {"add s.cx f --name a", "--name belongs to extract, cat, rename and delete"},
        {"info s.cx --password-file f", "info asks for no password"},
        {"list s.cx --new-password-file f --force", "--force belongs to create"},
        {"list s.cx --password-file", "--password-file needs a file name"},
        {"list s.cx --password-file=", "--password-file needs a file name"},
        {"list s.cx --password-file a --password-file=b", "--password-file is given twice"},
        {"extract s.cx d --name", "--name needs an entry name"},
        {"passwd s.cx --password-file - --new-password-file -",
         "standard input can give only one password"},
        {"help nothing", "help: unknown command nothing"},
        {"cat s.cx", "cat: too few arguments"},
        {"cat s.cx 1 --name a", "cat: give one entry, by NUMBER or by --name"},
        {"list s.cx --update", "--update belongs to add"},
        {"create s.cx --quiet", "--quiet belongs to add and extract"},
        {"extract s.cx d --overwrite --keep-both",
         "--overwrite, --skip-existing and --keep-both exclude each other"},
    };
    for (const auto& [line, message] : cases) {
        const auto parsed = parse(line);
        ASSERT_FALSE(parsed) << line;
        EXPECT_EQ(parsed.failure().code, ExitCode::BadUsage) << line;
        EXPECT_EQ(parsed.failure().message, message) << line;
    }
}

// The shortest line the parser takes for a command: its required operands,
// without the entry's NUMBER when a --name gives it.
std::vector<std::string> shortestLine(const CommandRow& row, bool named = false) {
    std::vector<std::string> args{std::string(row.name)};
    for (const Operand& operand : row.operands) {
        if (operand.count == Count::Optional || operand.count == Count::Any ||
            (named && operand.kind == WordKind::Number))
            continue;
        args.push_back(operand.kind == WordKind::Number ? "0" : "word");
    }
    return args;
}

// What the generated completion offers at the words (the last one is being
// typed), run by bash in a script of its own.
std::set<std::string> completionAt(const std::vector<std::string>& words) {
    std::string array;
    for (const std::string& word : words)
        array += " '" + word + "'";
    const auto script = std::filesystem::temp_directory_path() /
                        ("cli-table-completion-" + std::to_string(::getpid()) + ".sh");
    std::ofstream(script) << "source '" QUORVANE_CLI_COMPLETION "'\nCOMP_WORDS=(quorvane-cli"
                          << array << ")\nCOMP_CWORD=" << words.size()
                          << "\n_quorvane_cli\nprintf '%s\\n' \"${COMPREPLY[@]}\"\n";
    std::set<std::string> offered;
    FILE* pipe = ::popen(("bash --norc --noprofile '" + script.string() + "'").c_str(), "r");
    if (pipe == nullptr)
        return offered;
    char line[512];
    while (std::fgets(line, sizeof line, pipe) != nullptr) {
        std::string word(line);
        if (!word.empty() && word.back() == '\n')
            word.pop_back();
        if (!word.empty())
            offered.insert(word);
    }
    ::pclose(pipe);
    std::filesystem::remove(script);
    return offered;
}

// For every command, completion offers exactly the options the parser takes
// with it, and the help describes every option.
TEST(CliTable, CompletionAndParserAgreeOnEveryOptionOfEveryCommand) {
    for (const CommandRow& row : commandTable()) {
        std::vector<std::string> typed = shortestLine(row);
        typed.push_back("--");
        const std::set<std::string> offered = completionAt(typed);
        for (const OptionRow& option : optionTable()) {
            // --name stands for the NUMBER where one entry is wanted.
            const auto* repeated = std::get_if<RepeatedValue>(&option.effect);
            const bool forNumber = repeated != nullptr && repeated->field == &Invocation::names;
            std::vector<std::string> line = shortestLine(row, forNumber);
            line.emplace_back(option.name);
            // A duration is checked when the line is read.
            if (takesValue(option))
                line.push_back(option.placeholder == "DURATION" ? "90s" : "value");
            const bool taken = static_cast<bool>(parseCommandLine(line));
            EXPECT_EQ(offered.count(std::string(option.name)) == 1,
                      taken && !option.onlyWithoutCommand)
                << row.name << " " << option.name;
        }
    }
    const std::string help = helpText();
    const std::string options = help.substr(help.find("\nOptions"));
    for (const OptionRow& option : optionTable())
        EXPECT_NE(options.find(" " + std::string(option.name)), std::string::npos) << option.name;
}

// The manual page names every command and option of the table, as roff
// writes them ("\-\-name").
TEST(CliTable, TheManualPageNamesEveryCommandAndOption) {
    const std::string page = test::readFile(QUORVANE_SOURCE_DIR "/cli/quorvane-cli.1");
    ASSERT_FALSE(page.empty());
    for (const CommandRow& row : commandTable())
        EXPECT_NE(page.find(".B quorvane-cli " + std::string(row.name) + "\n"), std::string::npos)
            << row.name;
    for (const OptionRow& option : optionTable()) {
        std::string roff;
        for (char c : option.name)
            roff += c == '-' ? std::string("\\-") : std::string(1, c);
        EXPECT_NE(page.find(roff), std::string::npos) << option.name;
    }
}

TEST(CliTable, CompletionOffersWhatEachOperandIs) {
    const auto dir = std::filesystem::temp_directory_path() /
                     ("cli-table-completion-" + std::to_string(::getpid()));
    std::filesystem::remove_all(dir);
    std::filesystem::create_directories(dir / "folder");
    for (const char* name : {"notes.cx", "notes.txt"})
        std::ofstream(dir / name).put('x');
    const std::string d = dir.string() + "/";
    std::set<std::string> commands;
    for (const CommandRow& row : commandTable())
        commands.insert(std::string(row.name));
    const std::set<std::string> safes = {d + "folder", d + "notes.cx"};
    const std::set<std::string> files = {d + "folder", d + "notes.cx", d + "notes.txt"};
    const std::set<std::string> folders = {d + "folder"};
    const std::vector<std::pair<std::vector<std::string>, std::set<std::string>>> cases = {
        {{""}, commands},
        {{"help", ""}, commands},
        {{"help", "list", ""}, {}},
        {{"create", d}, safes},
        {{"add", "s.cx", d}, files},
        {{"add", "s.cx", "a", "--", d}, files},
        {{"extract", "s.cx", d}, folders},
        {{"extract", "s.cx", "out", d}, {}},
        {{"mount", "--password-file", "pw", "s.cx", d}, folders},
        {{"list", "--password-file", d}, files},
        {{"rename", "s.cx", "--name", d}, {}},
        {{"--", "list", d}, safes},
    };
    for (const auto& [words, expected] : cases) {
        std::string shown;
        for (const std::string& word : words)
            shown += word + " ";
        EXPECT_EQ(completionAt(words), expected) << shown;
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace quorvane
