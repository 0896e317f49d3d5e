// quorvane-cli used by several people on one machine: a safe in a folder that
// a group shares, a safe or a file that an access control list opens to
// others. Each person is a real user (numeric ids need no passwd entry); who
// may read what afterwards is tried as each of them.

#include "tests/cli/CliFixture.h"

#include <sys/stat.h>
#include <unistd.h>

namespace quorvane::clitest {
namespace {

namespace fs = std::filesystem;

constexpr uid_t Owner = 1001;    // made the safe; in the team
constexpr uid_t Teammate = 1002; // in the team
constexpr uid_t Outsider = 1003; // in no group of the safe's, named in ACLs
constexpr gid_t Team = 2000;

std::vector<std::string> asUser(uid_t uid, gid_t extraGroup) {
    return {"/usr/bin/setpriv",
            "--reuid=" + std::to_string(uid),
            "--regid=" + std::to_string(uid),
            "--groups=" + std::to_string(extraGroup),
            "/usr/bin/env",
            "TMPDIR=/tmp"};
}

bool readableBy(uid_t uid, gid_t extraGroup, const fs::path& path) {
    std::vector<std::string> command = asUser(uid, extraGroup);
    command.insert(command.end(), {"/usr/bin/cat", path.string()});
    return runProgram(command) == 0;
}

class SharedFolder : public CliTest {
  protected:
    void SetUp() override {
        if (::geteuid() != 0)
            GTEST_SKIP() << "needs root to act as other users";
        CliTest::SetUp();
        // The others must reach the password and the files to add.
        for (const fs::path& folder : {box.root(), box.files()})
            fs::permissions(folder, fs::perms(0755));
        fs::permissions(passwordFile, fs::perms(0644));
        // The build folder may lie where other users cannot reach: they run
        // a copy of the tool, which a shell puts in place of the harness's.
        fs::copy_file(cliBinary(), tool);
        fs::permissions(tool, fs::perms(0755));
    }

    std::vector<std::string> runsTheCopy() const {
        return {"/bin/sh", "-c", "shift; exec \"$0\" \"$@\"", tool.string()};
    }

    fs::path tool = box.root() / "quorvane-cli";
};

// A group member's save keeps the safe's group and says that the owner
// changed; a save keeps the safe's ACL, or where it cannot be set narrows to
// what the ACL's own group entry allowed and says so; an extraction over a
// file with an ACL keeps that ACL. Before, the first gave the safe the saver's
// own group (its owner locked out), and the others dropped the ACL and left
// its mask as the group's bits (the users it named locked out, the group let in).
TEST_F(SharedFolder, SavesAndExtractionsKeepWhoMayReadTheFile) {
    enum Act { Add, AddAclRefused, Extract }; // the refusal is injected
    const struct {
        const char* what;
        Act act; // Extract: over report.txt beside the safe
        uid_t actor;
        const char* acl;
        const char* readers; // whether Owner, Teammate and Outsider may read it after
        const char* told;    // after the save; "" for nothing
    } cases[] = {
        {"a teammate adds to a team safe", Add, Teammate, "u::rw-,g::rw-,o::---", "yyn",
         "- it could not keep its owner (user 1001): it now belongs to user 1002"},
        {"the owner adds to a safe its ACL opens to one other", Add, Owner,
         "u::rw-,u:1003:rw-,g::---,m::rw-,o::---", "yny", ""},
        {"the same where the ACL cannot be set: narrowed", AddAclRefused, Owner,
         "u::rw-,u:1003:rw-,g::---,m::rw-,o::---", "ynn",
         "- its access control list (ACL) could not be copied (Operation not supported)"},
        {"the owner extracts over a file its ACL opens to one other", Extract, Owner,
         "u::rw-,u:1003:r--,g::---,m::r--,o::---", "yny", ""},
    };
    int round = 0;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        // Not set-group-id: a fresh file there gets its maker's group.
        const fs::path folder = box.root() / ("team-" + std::to_string(round++));
        fs::create_directory(folder);
        ASSERT_EQ(::chown(folder.c_str(), 0, Team), 0);
        fs::permissions(folder, fs::perms(0775));
        const fs::path safe = folder / "team.cx";
        fs::rename(sealSafe({{"report.txt", "the stored report"}}), safe);
        const fs::path added = box.writeFile("added.txt", "added by " + std::to_string(c.actor));
        fs::permissions(added, fs::perms(0644));
        const fs::path target = c.act == Extract ? folder / "report.txt" : safe;
        if (c.act == Extract)
            writeFile(target, "the old report");
        for (const fs::path& file : {safe, target}) {
            ASSERT_EQ(::chown(file.c_str(), Owner, Team), 0);
            ASSERT_EQ(::chmod(file.c_str(), 0600), 0);
        }
        ASSERT_EQ(runProgram({"setfacl", "--set", c.acl, target.string()}), 0);

        RunOptions options;
        options.wrapper = asUser(c.actor, Team);
        if (c.act == AddAclRefused)
            options.wrapper.insert(options.wrapper.end(),
                                   {"/usr/bin/strace", "-f", "-qq", "-o", "/dev/null", "-e",
                                    "trace=fsetxattr", "-e", "inject=fsetxattr:error=EOPNOTSUPP"});
        const std::vector<std::string> copy = runsTheCopy();
        options.wrapper.insert(options.wrapper.end(), copy.begin(), copy.end());
        const RunResult run = c.act == Extract
                                  ? cli({"extract", safe.string(), folder.string(), "--name",
                                         "report.txt", "--overwrite"},
                                        options)
                                  : cli({"add", safe.string(), added.string()}, options);
        ASSERT_EQ(run.exitCode, 0) << run.err;
        EXPECT_EQ(contains(run.err, "could not"), *c.told != '\0') << run.err;
        EXPECT_TRUE(contains(run.err, c.told)) << run.err;
        struct stat status {};
        ASSERT_EQ(::stat(target.c_str(), &status), 0);
        EXPECT_EQ(status.st_gid, Team);
        const uid_t readers[] = {Owner, Teammate, Outsider};
        for (std::size_t i = 0; i < 3; ++i)
            EXPECT_EQ(readableBy(readers[i], readers[i] == Outsider ? Outsider : Team, target),
                      c.readers[i] == 'y')
                << "user " << readers[i];
        EXPECT_EQ(readFile(target) == "the stored report", c.act == Extract);
    }
}

} // namespace
} // namespace quorvane::clitest
