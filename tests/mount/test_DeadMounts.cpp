// Reading the system's table of mounts for the folders a killed program
// left behind.

#include "mount/DeadMounts.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quorvane {
namespace {

TEST(DeadMounts, OurFoldersAreFoundInTheMountTableWithTheirOwnerAndProgram) {
    std::istringstream table(
        "22 1 0:21 / /proc rw,nosuid - proc proc rw\n"
        // Spaces and a backslash in the path come escaped.
        "45 27 0:40 / /home/me/My\\040notes\\134x rw,nosuid,nodev,relatime shared:7 - "
        "fuse.quorvane quorvane:4242 rw,user_id=1000,group_id=1000\n"
        "46 27 0:41 / /run/user/0/quorvane/papers rw,relatime - fuse.quorvane quorvane:77 "
        "rw,user_id=0,group_id=0\n"
        "47 27 0:42 / /mnt/other rw - fuse.sshfs me@host: rw,user_id=0\n"
        "48 27 0:43 / /broken rw - fuse.quorvane\n");
    const std::vector<FolderMount> mounts = folderMounts(table);
    ASSERT_EQ(mounts.size(), 3u);
    EXPECT_EQ(mounts[0].mountPoint, "/home/me/My notes\\x");
    EXPECT_EQ(mounts[0].source, "quorvane:4242");
    EXPECT_EQ(mounts[0].owner, 1000u);
    EXPECT_EQ(mounts[1].mountPoint, "/run/user/0/quorvane/papers");
    EXPECT_EQ(mounts[1].owner, 0u);
    EXPECT_EQ(mounts[2].mountPoint, "/broken");
    EXPECT_EQ(mounts[2].owner, std::nullopt) << "no owner known: never unmounted";
}

} // namespace
} // namespace quorvane
