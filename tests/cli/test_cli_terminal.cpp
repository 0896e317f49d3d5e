// The tool at a terminal: passwords typed without echo (twice where a new one
// is made), an interrupted prompt that gives the terminal back as it was, and
// no progress line for steps too short to read one.

#include "tests/cli/CliFixture.h"

namespace quorvane::clitest {
namespace {

namespace fs = std::filesystem;

using CliTerminal = CliTest;

std::size_t occurrences(const std::string& text, const std::string& part) {
    std::size_t count = 0;
    for (std::size_t at = 0; (at = text.find(part, at)) != std::string::npos; at += part.size())
        ++count;
    return count;
}

TEST_F(CliTerminal, CreateAsksTwiceAndNeverEchoes) {
    auto safe = file("typed.cx");
    TerminalRun run =
        box.runOnTerminal({"create", safe.string()}, {"typed secret", "typed secret"});
    EXPECT_EQ(run.exitCode, 0) << run.transcript;
    EXPECT_EQ(occurrences(run.transcript, "Password: "), 1u) << run.transcript;
    EXPECT_EQ(occurrences(run.transcript, "Repeat password: "), 1u) << run.transcript;
    EXPECT_FALSE(contains(run.transcript, "typed secret")) << run.transcript;
    EXPECT_TRUE(contains(run.transcript, "quorvane-cli: File Created Successfully"));
    EXPECT_TRUE(run.echoAtEnd);
    EXPECT_EQ(opensslOpen(box, safe, "typed secret"), emptyContainerBytes());
}

TEST_F(CliTerminal, TwoDifferentPasswordsCreateNothing) {
    auto safe = file("typo.cx");
    TerminalRun run = box.runOnTerminal({"create", safe.string()}, {"one", "two"});
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_TRUE(contains(run.transcript, "quorvane-cli: Passwords do not match")) << run.transcript;
    EXPECT_FALSE(fs::exists(safe));
}

TEST_F(CliTerminal, AnEmptyNewPasswordIsTakenOnlyWhenConfirmedOrAllowed) {
    int n = 0;
    using Case = std::tuple<std::string, bool, int>; // answer, --allow-empty-password, exit
    for (const auto& [answer, allowed, exitCode] :
         std::vector<Case>{{"n", false, 2}, {"", false, 2}, {"Yes", false, 0}, {"", true, 0}}) {
        auto safe = file("empty" + std::to_string(n++) + ".cx");
        std::vector<std::string> args{"create", safe.string()};
        if (allowed)
            args.push_back("--allow-empty-password");
        TerminalRun run = box.runOnTerminal(args, {"", answer});
        EXPECT_EQ(run.exitCode, exitCode) << run.transcript;
        EXPECT_EQ(contains(run.transcript, "Use an empty password? [y/N] "), !allowed);
        EXPECT_EQ(opensslOpen(box, safe, ""),
                  exitCode == 0 ? std::optional(emptyContainerBytes()) : std::nullopt);
    }
}

TEST_F(CliTerminal, OpeningAsksOnce) {
    auto safe = sealSafe({{"a.txt", "alpha"}});
    TerminalRun right = box.runOnTerminal({"list", safe.string()}, {Password});
    EXPECT_EQ(right.exitCode, 0) << right.transcript;
    EXPECT_EQ(occurrences(right.transcript, "word: "), 1u);
    EXPECT_TRUE(contains(right.transcript, "0\t5\ta.txt")) << right.transcript;
    EXPECT_FALSE(contains(right.transcript, Password));

    TerminalRun wrong = box.runOnTerminal({"list", safe.string()}, {"guess"});
    EXPECT_EQ(wrong.exitCode, 3);
    EXPECT_TRUE(contains(wrong.transcript, "quorvane-cli: Invalid File or Password"));
}

TEST_F(CliTerminal, PasswdAsksTheOldPasswordThenTheNewOneTwice) {
    auto safe = sealSafe({{"a.txt", "alpha"}});
    TerminalRun run =
        box.runOnTerminal({"passwd", safe.string()}, {Password, "newer one", "newer one"});
    EXPECT_EQ(run.exitCode, 0) << run.transcript;
    const auto old = run.transcript.find("Password: ");
    const auto fresh = run.transcript.find("New password: ");
    const auto repeat = run.transcript.find("Repeat new password: ");
    ASSERT_NE(repeat, std::string::npos) << run.transcript;
    EXPECT_LT(old, fresh);
    EXPECT_LT(fresh, repeat);
    EXPECT_EQ(opensslOpen(box, safe, "newer one"), containerBytes({{"a.txt", "alpha"}}));

    // A password file for the old one, the terminal for the new one.
    TerminalRun mixed = box.runOnTerminal(
        {"passwd", safe.string(), "--password-file", box.passwordFile("newer one").string()},
        {"third", "third"});
    EXPECT_EQ(mixed.exitCode, 0) << mixed.transcript;
    EXPECT_EQ(occurrences(mixed.transcript, "word: "), 2u);
    EXPECT_EQ(opensslOpen(box, safe, "third"), containerBytes({{"a.txt", "alpha"}}));
}

TEST_F(CliTerminal, AnInterruptedPromptGivesTheTerminalBackAndLeavesNothing) {
    auto safe = sealSafe({{"a.txt", "alpha"}});
    const std::string before = readFile(safe);
    TerminalRun run = box.runOnTerminal({"rename", safe.string(), "0", "b"}, {"\x03"});
    EXPECT_EQ(run.exitCode, 130) << run.transcript;
    EXPECT_TRUE(run.echoAtEnd);
    EXPECT_EQ(readFile(safe), before);
}

// A job stopped at the prompt (Ctrl-Z) gets its shell's terminal modes, echo
// on, and keeps them when fg continues it: the prompt comes again, with echo
// off again, before the password is typed.
TEST_F(CliTerminal, AJobStoppedAtThePromptAndContinuedEchoesNothing) {
    auto safe = sealSafe({{"a.txt", "alpha"}});
    const std::string command = "'" + std::string(cliBinary()) + "' list '" + safe.string() + "'\n";
    TerminalRun run = box.runShellOnTerminal({{"$ ", 1, command},
                                              {"word: ", 1, "\x1a"},
                                              {"$ ", 2, "fg\n"},
                                              {"word: ", 2, std::string(Password) + "\n"},
                                              {"$ ", 3, "exit $?\n"}});
    EXPECT_EQ(run.exitCode, 0) << run.transcript;
    EXPECT_TRUE(contains(run.transcript, "Stopped")) << run.transcript;
    EXPECT_TRUE(contains(run.transcript, "0\t5\ta.txt")) << run.transcript;
    EXPECT_FALSE(contains(run.transcript, Password)) << run.transcript;
}

// Standard input named as the password file, at a terminal, is asked for as
// the prompt asks: never echoed, and twice for a new password.
TEST_F(CliTerminal, APasswordFromStandardInputAtATerminalIsAskedWithoutEcho) {
    auto safe = file("stdin.cx");
    TerminalRun created = box.runOnTerminal({"create", safe.string(), "--password-file", "-"},
                                            {"from stdin", "from stdin"});
    EXPECT_EQ(created.exitCode, 0) << created.transcript;
    EXPECT_EQ(occurrences(created.transcript, "Password: "), 1u) << created.transcript;
    EXPECT_EQ(occurrences(created.transcript, "Repeat password: "), 1u) << created.transcript;
    TerminalRun listed =
        box.runOnTerminal({"list", safe.string(), "--password-file", "-"}, {"from stdin"});
    EXPECT_EQ(listed.exitCode, 0) << listed.transcript;
    for (const TerminalRun* run : {&created, &listed}) {
        EXPECT_FALSE(contains(run->transcript, "from stdin")) << run->transcript;
        EXPECT_TRUE(run->echoAtEnd);
    }
    EXPECT_EQ(opensslOpen(box, safe, "from stdin"), emptyContainerBytes());
}

// Creating and adding a small file take a few milliseconds: a progress line
// would only flash by. (When long steps draw is up to test_cli_progress.)
TEST_F(CliTerminal, ShortStepsDrawNoProgressLine) {
    auto safe = file("s.cx");
    auto small = box.writeFile("small.bin", std::string(1u << 20, 'p'));
    TerminalRun created =
        box.runOnTerminal({"create", safe.string(), "--password-file", passwordFile}, {});
    TerminalRun added = box.runOnTerminal(
        {"add", safe.string(), small.string(), "--password-file", passwordFile}, {});
    for (const TerminalRun* run : {&created, &added}) {
        EXPECT_EQ(run->exitCode, 0) << run->transcript;
        EXPECT_FALSE(contains(run->transcript, " bytes ")) << run->transcript;
    }
    EXPECT_EQ(listOf(safe), "0\t1048576\tsmall.bin\n");
}

} // namespace
} // namespace quorvane::clitest
