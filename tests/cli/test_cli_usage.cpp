// The tool's command line: help, version, usage errors, password sources, and
// that it carries no Qt.

#include "tests/cli/CliFixture.h"

#include <cstdio>

namespace quorvane::clitest {
namespace {

namespace fs = std::filesystem;

std::string commandOutput(const std::string& command) {
    std::string output;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return output;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, pipe)) > 0)
        output.append(buffer, got);
    ::pclose(pipe);
    return output;
}

using CliUsage = CliTest;

constexpr const char* TryHelp = "\nTry 'quorvane-cli --help'.\n";

TEST_F(CliUsage, HelpTeachesEveryCommandOptionEscapeAndExitCode) {
    RunResult help = box.run({"--help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.err, "");
    for (const char* line : {"quorvane-cli create  SAFE [--force]",
                             "quorvane-cli list    SAFE",
                             "quorvane-cli add     SAFE FILE... [--to FOLDER] [--erase-originals]",
                             "quorvane-cli extract SAFE DIR [NUMBER | PATH...]",
                             "quorvane-cli rename  SAFE NUMBER NEWNAME",
                             "quorvane-cli delete  SAFE {NUMBER | --name NAME}... [--recursive]",
                             "quorvane-cli mkdir   SAFE PATH...",
                             "quorvane-cli passwd  SAFE [--new-password-file F]",
                             "quorvane-cli --help | --version",
                             "--password-file F",
                             "\\\\, \\t, \\n and \\r",
                             "\\xHH with two lowercase hexadecimal digits",
                             "0  success",
                             "1  the operation failed",
                             "2  bad usage",
                             "3  the safe could not be opened",
                             "4  add: every file was stored",
                             "--allow-empty-password create, passwd",
                             "--name NAME ",
                             "quorvane-cli mount   SAFE DIR [--read-only]",
                             "--read-only            mount",
                             "--idle DURATION        mount",
                             "--grace DURATION       mount"})
        EXPECT_TRUE(contains(help.out, line)) << "missing from --help: " << line;
    // Help wins wherever it stands, and does not touch any safe.
    EXPECT_EQ(box.run({"list", "nosafe", "--help"}).out, help.out);
}

TEST_F(CliUsage, HelpCommandGivesTheWholeTextOrOneCommandsPart) {
    const std::string full = box.run({"--help"}).out;
    RunResult help = box.run({"help"});
    EXPECT_EQ(help.exitCode, 0);
    EXPECT_EQ(help.out, full);
    EXPECT_EQ(box.run({"help", "list"}).out,
              "usage: quorvane-cli list    SAFE [--json]\n\n"
              "  list SAFE        one line per stored file: NUMBER, TAB, SIZE (bytes),\n"
              "                   TAB, NAME (in a sealed safe its path, \"Taxes/2025/a.pdf\");\n"
              "                   a folder of a sealed safe is a line \"-\", TAB, \"-\", TAB,\n"
              "                   its path and \"/\"; with --json one JSON document instead. A\n"
              "                   reader that stops early (| head) ends it quietly, with\n"
              "                   status 0\n");
    const std::vector<std::string> commands = {"create", "list",   "add",    "extract", "cat",
                                               "rename", "delete", "passwd", "seal",    "compact",
                                               "info",   "mount",  "help"};
    for (const auto& command : commands) {
        RunResult part = box.run({"help", command});
        EXPECT_EQ(part.exitCode, 0) << command;
        // Its own usage lines and paragraph, and no other command's.
        for (const auto& other : commands) {
            EXPECT_EQ(contains(part.out, "quorvane-cli " + other + " "), other == command)
                << part.out;
            EXPECT_EQ(contains(part.out, "\n  " + other + " "), other == command) << part.out;
        }
    }
    EXPECT_TRUE(
        contains(box.run({"help", "passwd"}).out, "[--allow-empty-password]\n\n  passwd SAFE"));
}

TEST_F(CliUsage, TheManualPageCoversEveryCommandOptionAndExitStatus) {
    const std::string page = readFile(fs::path(QUORVANE_SOURCE_DIR) / "cli" / "quorvane-cli.1");
    ASSERT_TRUE(contains(page, ".TH QUORVANE-CLI 1"));
    for (const char* part : {".B quorvane-cli create",
                             ".B quorvane-cli list",
                             ".B quorvane-cli add",
                             ".B quorvane-cli extract",
                             ".B quorvane-cli rename",
                             ".B quorvane-cli delete",
                             ".B quorvane-cli passwd",
                             ".B quorvane-cli help",
                             ".B quorvane-cli mount",
                             "\\-\\-read\\-only",
                             "\\-\\-idle",
                             "\\-\\-grace",
                             ".SH CLOSING BY ITSELF",
                             ".SH THE SAFE AS A FOLDER",
                             "\\-\\-password\\-file",
                             "\\-\\-new\\-password\\-file",
                             "\\-\\-force",
                             "\\-\\-erase\\-originals",
                             "\\-\\-name",
                             "\\-\\-allow\\-empty\\-password\n",
                             ".SH EXIT STATUS",
                             ".B 4\n",
                             ".SH LIST FORMAT",
                             "lowercase hexadecimal",
                             ".SH EXAMPLES",
                             "\\-\\-json"})
        EXPECT_TRUE(contains(page, part)) << "missing from the manual page: " << part;
}

TEST_F(CliUsage, VersionIsTheProjectVersion) {
    RunResult version = box.run({"--version"});
    EXPECT_EQ(version.exitCode, 0);
    EXPECT_EQ(version.out, std::string("quorvane-cli ") + QUORVANE_VERSION + "\n");
}

TEST_F(CliUsage, BadCommandLinesExitTwoWithMessageAndUsage) {
    const std::string safe = sealSafe({{"a.txt", "alpha"}}).string();
    const std::string before = readFile(safe);
    const std::vector<std::vector<std::string>> badLines = {
        {},
        {"frobnicate", safe},
        {"list"},
        {"list", safe, "extra"},
        {"create"},
        {"create", safe, "extra"},
        {"add", safe},
        {"extract", safe},
        {"cat", safe, "2x"},
        {"cat", safe, "+1"},
        {"rename", safe, "0"},
        {"rename", safe, "zero", "name"},
        {"rename", safe, "0", "a", "b"},
        {"delete", safe},
        {"delete", safe, "1.5"},
        {"delete", safe, "-3"},
        {"delete", safe, "99999999999999999999"},
        {"delete", safe, "0", "one"},
        {"delete", safe, "--name"},
        {"list", safe, "--name", "a.txt"},
        {"add", safe, "f", "--name", "a.txt"},
        {"rename", safe, "0", "x", "--name", "a.txt"},
        {"rename", safe, "x", "--name", "a.txt", "--name", "b"},
        {"rename", safe, "--name", "a.txt"},
        {"passwd", safe, "extra"},
        {"list", safe, "--force"},
        {"create", safe, "--erase-originals"},
        {"list", safe, "--new-password-file", "f"},
        {"list", safe, "--password-file"},
        {"list", safe, "--password-file="},
        {"list", safe, "--password-file", "a", "--password-file", "b"},
        {"passwd", safe, "--password-file", "-", "--new-password-file", "-"},
        {"list", safe, "--bogus"},
        {"list", safe, "--idle", "5m"},
        {"extract", safe, "dir", "--grace", "1s"},
        {"mount", safe, "dir", "--idle", "5"},
        {"mount", safe, "dir", "--idle"},
        {"mount", safe, "dir", "--grace", "off"},
        {"mount", safe, "dir", "--idle", "1m", "--idle=2m"},
        {"help", "nothing"},
        {"help", safe},
        {"help", "list", "add"},
        {"help", "list", "--password-file", "f"},
    };
    for (const auto& args : badLines) {
        std::string shown;
        for (const auto& arg : args)
            shown += arg + " ";
        RunResult run = box.run(args);
        EXPECT_EQ(run.exitCode, 2) << shown;
        // One line that says what is wrong, and where to read more.
        EXPECT_EQ(run.err.rfind("quorvane-cli: ", 0), 0u) << shown << run.err;
        EXPECT_EQ(run.err.find('\n'), run.err.size() - std::string(TryHelp).size())
            << shown << run.err;
        EXPECT_TRUE(run.err.ends_with(TryHelp)) << shown << run.err;
        EXPECT_EQ(run.out, "") << shown;
    }
    EXPECT_EQ(readFile(safe), before);
}

TEST_F(CliUsage, OptionsMayStandAnywhereAndTakeTheirValueEitherWay) {
    const std::string safe = sealSafe({{"a.txt", "alpha"}}).string();
    EXPECT_EQ(box.run({"--password-file", passwordFile, "list", safe}).out, "0\t5\ta.txt\n");
    EXPECT_EQ(box.run({"list", "--password-file=" + passwordFile, safe}).out, "0\t5\ta.txt\n");
    // After "--" everything is an operand, even what looks like an option.
    auto dashed = box.writeFile("--force", "dash");
    RunResult added =
        box.run({"add", safe, "--password-file", passwordFile, "--", dashed.string()});
    EXPECT_EQ(added.exitCode, 0) << added.err;
    EXPECT_EQ(listOf(safe), "0\t5\ta.txt\n1\t4\t--force\n");
}

TEST_F(CliUsage, WithoutPasswordFileOrTerminalItRefusesToGuess) {
    const std::string safe = sealSafe({{"a.txt", "alpha"}}).string();
    RunResult run = box.run({"list", safe});
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.err, "quorvane-cli: no terminal to ask for the password; use --password-file\n");
    EXPECT_EQ(run.out, "");
    // A password in the environment is not looked at either.
    RunResult created = box.run({"create", file("new.cx").string()});
    EXPECT_EQ(created.exitCode, 2);
    EXPECT_FALSE(fs::exists(file("new.cx")));
}

TEST_F(CliUsage, PasswordFileProblemsAreUsageErrors) {
    const std::string safe = sealSafe({{"a.txt", "alpha"}}).string();
    RunResult missing = box.run({"list", safe, "--password-file", file("nothing").string()});
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(contains(missing.err, "No such file or directory")) << missing.err;

    auto tooLong = box.writeFile("long", std::string(250, 'p') + "\n");
    RunResult refused =
        box.run({"create", file("long.cx").string(), "--password-file", tooLong.string()});
    EXPECT_EQ(refused.exitCode, 2);
    EXPECT_EQ(refused.err, "quorvane-cli: " + tooLong.string() +
                               ": the first line is longer than 249 bytes, the most a password "
                               "may have\n");
    EXPECT_FALSE(fs::exists(file("long.cx")));

    auto withZero = box.writeFile("zero", std::string("ab\0cd\n", 6));
    EXPECT_EQ(box.run({"list", safe, "--password-file", withZero.string()}).exitCode, 2);

    // Sources without a line end are read no further than a password's line.
    RunOptions zeros;
    zeros.inputPath = "/dev/zero";
    zeros.killAfterSeconds = 30;
    for (const std::string source : {"/dev/zero", "-"}) {
        RunResult endless = box.run({"list", safe, "--password-file", source}, zeros);
        EXPECT_EQ(endless.exitCode, 2) << source;
        EXPECT_TRUE(contains(endless.err, ": the first line is longer than 249")) << endless.err;
    }
}

TEST_F(CliUsage, ASafeThatCannotBeReadIsRefusedBeforeAnyPasswordIsAsked) {
    fs::create_directory(file("folder.cx"));
    for (const auto& [safe, reason] : std::vector<std::pair<std::string, std::string>>{
             {file("missing.cx").string(), "No such file or directory"},
             {file("folder.cx").string(), "Is a directory"},
             {"/dev/null", "not a regular file"}}) {
        for (const std::vector<std::string>& args :
             std::vector<std::vector<std::string>>{{"list", safe},
                                                   {"add", safe, passwordFile},
                                                   {"extract", safe, file("out").string()},
                                                   {"rename", safe, "0", "x"},
                                                   {"delete", safe, "0"},
                                                   {"passwd", safe}}) {
            // Neither a password file nor a terminal: asking would end in exit 2.
            RunResult run = box.run(args);
            EXPECT_EQ(run.exitCode, 3) << args[0] << " " << safe;
            EXPECT_EQ(run.err, "quorvane-cli: " + safe + ": " + reason + "\n");
        }
    }
}

TEST_F(CliUsage, AnEmptyNewPasswordFromAFileTakesAllowEmptyPassword) {
    const std::string empty = box.writeFile("empty", "").string();
    int n = 0;
    using Case = std::tuple<bool, std::string, std::string>; // passwd, source, standard input
    for (const auto& [passwd, source, input] : std::vector<Case>{
             {false, empty, ""}, {false, "-", "\n"}, {true, empty, ""}, {true, "-", "\r\n"}}) {
        const std::string name = "s" + std::to_string(n++) + ".cx";
        const fs::path safe = passwd ? sealSafe({{"a.txt", "alpha"}}, name) : file(name);
        std::vector<std::string> args{"create", safe.string(), "--password-file", source};
        if (passwd)
            args = {"passwd",     safe.string(),         "--password-file",
                    passwordFile, "--new-password-file", source};
        const std::string before = readFile(safe);
        RunOptions options;
        options.input = input;
        RunResult refused = box.run(args, options);
        EXPECT_EQ(refused.exitCode, 2) << name;
        EXPECT_TRUE(
            contains(refused.err, args[args.size() - 2] + " is empty; give --allow-empty-password"))
            << refused.err;
        EXPECT_EQ(readFile(safe), before) << name;
        args.push_back("--allow-empty-password");
        EXPECT_EQ(box.run(args, options).exitCode, 0) << name;
        EXPECT_EQ(opensslOpen(box, safe, ""),
                  passwd ? containerBytes({{"a.txt", "alpha"}}) : emptyContainerBytes());
    }
}

TEST_F(CliUsage, PasswordIsTheFirstLineWithoutItsLineEnding) {
    struct Case {
        std::string fileBytes;
        std::string password;
    };
    const std::vector<Case> cases = {
        {"plain\n", "plain"},
        {"crlf\r\n", "crlf"},
        {"no newline", "no newline"},
        {"first\nsecond\n", "first"},
        {"", ""},
        {"\n", ""},
        {" spaced \t\n", " spaced \t"},
        {std::string(249, 'x') + "\n", std::string(249, 'x')},
        {std::string(249, 'y') + "\r\n", std::string(249, 'y')},
    };
    int n = 0;
    for (const auto& c : cases) {
        auto passwordPath = box.writeFile("pw" + std::to_string(n), c.fileBytes);
        auto safe = file("case" + std::to_string(n++) + ".cx");
        RunResult created = box.run({"create", safe.string(), "--password-file",
                                     passwordPath.string(), "--allow-empty-password"});
        ASSERT_EQ(created.exitCode, 0) << created.err;
        auto container = opensslOpen(box, safe, c.password);
        ASSERT_TRUE(container.has_value()) << "safe not under \"" << c.password << "\"";
        EXPECT_EQ(*container, emptyContainerBytes());
    }
}

TEST_F(CliUsage, PasswordFromStandardInput) {
    auto safe = file("stdin.cx");
    RunOptions options;
    options.input = "from stdin\nnot this\n";
    RunResult created = box.run({"create", safe.string(), "--password-file", "-"}, options);
    ASSERT_EQ(created.exitCode, 0) << created.err;
    EXPECT_TRUE(opensslOpen(box, safe, "from stdin").has_value());
    options.input = "from stdin";
    EXPECT_EQ(box.run({"list", safe.string(), "--password-file", "-"}, options).exitCode, 0);
}

TEST_F(CliUsage, WithoutAPrivateWorkingFolderNothingIsDecrypted) {
    auto safe = sealSafe({{"a.txt", "alpha"}});
    RunOptions options;
    options.tmpDir = (box.root() / "no such folder").string();
    RunResult run = cli({"list", safe.string()}, options);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err, "quorvane-cli: cannot create a private working folder in the temporary "
                       "directory (TMPDIR): No such file or directory\n");
    EXPECT_EQ(run.out, "");
    EXPECT_FALSE(fs::exists(box.root() / "no such folder"));
}

TEST_F(CliUsage, RenameRefusesNamesTheWindowCouldNotTake) {
    auto safe = sealSafe({{"a.txt", "alpha"}});
    const std::string before = readFile(safe);
    RunResult tooLong = cli({"rename", safe.string(), "0", std::string(50, 'n')});
    EXPECT_EQ(tooLong.exitCode, 2);
    EXPECT_EQ(tooLong.err, "quorvane-cli: NEWNAME is longer than 49 bytes\n");
    EXPECT_EQ(readFile(safe), before);
    // 49 bytes is the limit and fits.
    EXPECT_EQ(cli({"rename", safe.string(), "0", std::string(49, 'n')}).exitCode, 0);
    EXPECT_EQ(listOf(safe), "0\t5\t" + std::string(49, 'n') + "\n");
    // "-1" is a name like any other: Cancel is no text any more.
    RunResult minusOne =
        box.run({"rename", "--password-file", passwordFile, safe.string(), "0", "--", "-1"});
    EXPECT_EQ(minusOne.exitCode, 0) << minusOne.err;
    EXPECT_EQ(listOf(safe), "0\t5\t-1\n");
}

TEST_F(CliUsage, TheBinaryLinksNoQtAndNoDisplayLibrary) {
    const std::string libraries = commandOutput(std::string("ldd '") + cliBinary() + "'");
    ASSERT_TRUE(contains(libraries, "libc.so")) << libraries; // ldd did run
    for (const char* forbidden : {"Qt", "libX11", "libxcb", "libwayland", "libGL"})
        EXPECT_FALSE(contains(libraries, forbidden)) << forbidden << " in:\n" << libraries;
}

} // namespace
} // namespace quorvane::clitest
