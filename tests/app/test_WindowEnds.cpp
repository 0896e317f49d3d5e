// The window ended from outside on a real X server (Xvfb), with a change open
// that only the close sequence writes: a killed X server (a log-out, a lost
// ssh -X) and a termination request while a box waits for an answer. Either
// way the safe is written under the changed password and no working folder
// is left.

#include "tests/app/SafeFixture.h"

#include <QProcess>
#include <QStandardPaths>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>

namespace quorvane {
namespace {

constexpr int Patience = 30000; // milliseconds

enum class Ending { DisplayKilled, Terminated };

struct Case {
    const char* description;
    Ending ending;
    bool boxOpen;
    int exitCode; // the display's loss ends the process as Qt does, with 1
};

class WindowEnds : public ::testing::Test {
  protected:
    void SetUp() override {
        if (QStandardPaths::findExecutable(QStringLiteral("Xvfb")).isEmpty())
            GTEST_SKIP() << "Xvfb is not installed (scripts/setup installs it)";
    }

    // An X server of its own; its display number, which it picks itself.
    QString startDisplay(QProcess& server) {
        server.start(QStringLiteral("Xvfb"),
                     {QStringLiteral("-displayfd"), QStringLiteral("1"), QStringLiteral("-screen"),
                      QStringLiteral("0"), QStringLiteral("1280x800x24"),
                      QStringLiteral("-nolisten"), QStringLiteral("tcp")});
        while (!server.canReadLine() && server.waitForReadyRead(Patience)) {
        }
        return QStringLiteral(":") + QString::fromLatin1(server.readLine().trimmed());
    }
};

TEST_F(WindowEnds, TheSafeIsWrittenAndTheWorkingFolderSweptHoweverTheWindowGoes) {
    const std::vector<Case> cases = {
        {"X server killed", Ending::DisplayKilled, false, 1},
        {"X server killed with a box open", Ending::DisplayKilled, true, 1},
        {"SIGTERM with a box open", Ending::Terminated, true, 0},
    };
    for (const Case& ending : cases) {
        SCOPED_TRACE(ending.description);
        test::TempFolder folder;
        const std::filesystem::path safe = folder / "papers.cx";
        const std::filesystem::path tmp = folder / "tmp";
        const std::filesystem::path runtime = folder / "runtime"; // Qt's own, kept apart
        for (const auto& made : {tmp, runtime})
            std::filesystem::create_directory(made);
        std::filesystem::permissions(runtime, std::filesystem::perms::owner_all);
        test::makeSafe(safe, "old password", {{"letter.txt", "Dear reader"}});

        QProcess server;
        const QString display = startDisplay(server);
        ASSERT_NE(display, QStringLiteral(":")) << "Xvfb gave no display";
        QProcess program;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
        environment.insert(QStringLiteral("DISPLAY"), display);
        environment.insert(QStringLiteral("TMPDIR"), QString::fromStdString(tmp.string()));
        environment.insert(QStringLiteral("XDG_RUNTIME_DIR"),
                           QString::fromStdString(runtime.string()));
        program.setProcessEnvironment(environment);
        program.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QStringList arguments{QString::fromStdString(safe.string()), QStringLiteral("old password"),
                              QStringLiteral("new password")};
        if (ending.boxOpen)
            arguments << QStringLiteral("box");
        program.start(QStringLiteral(QUORVANE_WINDOW_ENDS_CHILD), arguments);
        while (!program.canReadLine() && program.waitForReadyRead(Patience)) {
        }
        ASSERT_EQ(program.readLine().trimmed(), "ready");

        if (ending.ending == Ending::DisplayKilled)
            server.kill();
        else
            ::kill(static_cast<pid_t>(program.processId()), SIGTERM);
        ASSERT_TRUE(program.waitForFinished(Patience));
        server.kill();
        server.waitForFinished(Patience);

        EXPECT_EQ(program.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(program.exitCode(), ending.exitCode);
        const std::vector<test::ListRow> rows = test::listSafe(safe, "new password");
        ASSERT_EQ(rows.size(), 1u) << "the changed password was not written";
        EXPECT_EQ(rows[0].name, "letter.txt");
        EXPECT_EQ(test::folderListing(tmp), std::vector<std::string>{})
            << "a working folder was left";
    }
}

} // namespace
} // namespace quorvane
