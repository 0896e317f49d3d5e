// The window ended from outside on a real X server (Xvfb) with a change that
// only the close sequence writes: the X server killed (a log-out, a lost
// ssh -X), with or without a box open, and a termination request while a box
// waits for its answer. Each time the safe is written under the changed
// password and no working folder is left.

#include "tests/app/SafeFixture.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <tuple>

namespace quorvane {
namespace {

constexpr int Patience = 30000; // milliseconds

bool readLine(QProcess& process, QByteArray& line) {
    while (!process.canReadLine() && process.waitForReadyRead(Patience)) {
    }
    line = process.readLine().trimmed();
    return !line.isEmpty();
}

TEST(WindowEnds, TheSafeIsWrittenAndTheWorkingFolderSweptHoweverTheWindowGoes) {
    if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
        GTEST_SKIP() << "Xvfb is not installed (scripts/setup installs it)";
    // X server killed (else SIGTERM), a box open, exit code (1 as Qt ends it).
    for (const auto& [displayKilled, box, exitCode] : std::vector<std::tuple<bool, bool, int>>{
             {true, false, 1}, {true, true, 1}, {false, true, 0}}) {
        SCOPED_TRACE((displayKilled ? "X server killed" : "SIGTERM") +
                     std::string(box ? ", box" : ""));
        test::TempFolder folder;
        const std::filesystem::path safe = folder / "papers.cx";
        test::makeSafe(safe, "old password", {{"letter.txt", "Dear reader"}});
        const std::filesystem::path tmp = folder / "tmp", runtime = folder / "runtime";
        for (const auto& made : {tmp, runtime})
            std::filesystem::create_directory(made);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);

        QProcess server; // an X server of its own, on the display it picks
        server.start(QStringLiteral("Xvfb"), {"-displayfd", "1", "-nolisten", "tcp"});
        QByteArray display;
        ASSERT_TRUE(readLine(server, display)) << "Xvfb gave no display";
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DISPLAY"), QStringLiteral(":") + display);
        environment.insert(QStringLiteral("TMPDIR"), QString::fromStdString(tmp.string()));
        // Qt's own runtime folder, kept out of TMPDIR.
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                           QString::fromStdString(runtime.string()));
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList arguments{QString::fromStdString(safe.string()), "old password",
                              "new password"};
        if (box)
            arguments << QStringLiteral("box");
        program.start(QStringLiteral(QUORVANE_WINDOW_ENDS_CHILD), arguments);
        QByteArray ready;
        ASSERT_TRUE(readLine(program, ready) && ready == "ready");

        if (displayKilled)
            server.kill();
        else
            ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        ASSERT_TRUE(program.waitForFinished(Patience));
        server.kill();
        server.waitForFinished(Patience);
        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), exitCode);
        const std::vector<test::ListRow> rows = test::listSafe(safe, "new password");
        ASSERT_EQ(rows.size(), 1u) << "the changed password was not written";
        EXPECT_EQ(rows[0].name, "letter.txt");
        EXPECT_EQ(test::folderListing(tmp), std::vector<std::string>{}) << "working folder left";
    }
}

} // namespace
} // namespace quorvane
