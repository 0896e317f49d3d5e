#include "storage/files/EraseReach.h"
#include "storage/files/UniqueFd.h"

#include "TempFolder.h"
#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sched.h>
#include <sys/mount.h>
#include <unistd.h>

namespace quorvane::test {
namespace {

namespace fs = std::filesystem;

// ------------------------------------------------------------------ mountinfo

struct LineCase {
    const char* line;
    const char* mountPoint; // nullptr: the line is refused
    const char* fsType;
    const char* source;
    const char* superOptions;
};

TEST(MountInfo, LinesAreSplitAndTheirEscapesUndone) {
    const std::vector<LineCase> cases = {
        {"36 35 98:0 /mnt1 /mnt/parent rw,noatime master:1 - ext3 /dev/root rw,errors=continue",
         "/mnt/parent", "ext3", "/dev/root", "rw,errors=continue"},
        {"90 27 0:45 / /media/My\\040Disk\\011x rw shared:5 master:2 - btrfs /dev/sdb\\134y rw",
         "/media/My Disk\tx", "btrfs", "/dev/sdb\\y", "rw"},
        // Not an escape: the digits are no octal byte, so the backslash stays.
        {"91 27 0:46 / /odd\\08x rw - tmpfs none rw", "/odd\\08x", "tmpfs", "none", "rw"},
        {"92 27 0:47 / /no-super rw - tmpfs none", "/no-super", "tmpfs", "none", ""},
        {"93 27 0:48 / /cut rw -", nullptr, "", "", ""},
    };
    for (const LineCase& c : cases) {
        SCOPED_TRACE(c.line);
        const auto entry = parseMountInfoLine(c.line);
        ASSERT_EQ(entry.has_value(), c.mountPoint != nullptr);
        if (!entry)
            continue;
        EXPECT_EQ(entry->mountPoint, c.mountPoint);
        EXPECT_EQ(entry->fsType, c.fsType);
        EXPECT_EQ(entry->source, c.source);
        EXPECT_EQ(entry->superOptions, c.superOptions);
    }
}

TEST(MountInfo, TheLongestMountPointAboveThePathHoldsIt) {
    const std::string table = "27 1 254:0 / / rw - ext4 /dev/vda rw\n"
                              "40 27 0:30 / /home rw - btrfs /dev/sda2 rw,compress=zstd\n"
                              "41 40 0:31 / /home/me/My\\040Data rw - xfs /dev/sdc1 rw\n"
                              "42 27 0:32 / /tmp rw - ext4 /dev/vdb rw\n"
                              "43 27 0:33 / /tmp rw - tmpfs tmpfs rw\n"
                              "44 27 7:0 / /mnt/j rw - ext4 /dev/loop0 rw,data=journal\n";
    struct Case {
        const char* path;
        const char* fsType;
        const char* mountPoint;
    };
    const std::vector<Case> cases = {
        {"/home/me/file", "btrfs", "/home"},
        {"/home", "btrfs", "/home"},
        {"/homework/file", "ext4", "/"},                   // a prefix, but not a folder above
        {"/home/me/My Data/f", "xfs", "/home/me/My Data"}, // unescaped before matching
        {"/home/me/My Database/f", "btrfs", "/home"},      //
        {"/tmp/f", "tmpfs", "/tmp"},                       // mounted over the ext4 one
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        const auto entry = mountHolding(c.path, table);
        ASSERT_TRUE(entry.has_value());
        EXPECT_EQ(entry->fsType, c.fsType);
        EXPECT_EQ(entry->mountPoint, c.mountPoint);
    }
    const auto journal = mountHolding("/mnt/j/secret", table);
    ASSERT_TRUE(journal.has_value());
    EXPECT_TRUE(hasMountOption(journal->superOptions, "data=journal"));
    EXPECT_FALSE(hasMountOption(mountHolding("/tmp/f", table)->superOptions, "data=journal"));
    EXPECT_FALSE(hasMountOption("rw,data=journaled", "data=journal"));
    EXPECT_FALSE(mountHolding("/x", "no mounts here\n").has_value());
}

// -------------------------------------------------------------------- extents

TEST(EraseVerdicts, ExtentFlags) {
    const std::vector<std::pair<unsigned, EraseObstacle>> cases = {
        {0x0, EraseObstacle::None},
        {0x1, EraseObstacle::None},             // last
        {0x800, EraseObstacle::None},           // unwritten
        {0x2001, EraseObstacle::SharedExtents}, // shared, last
        {0x300, EraseObstacle::PackedExtents},  // inline, not aligned
        {0x8, EraseObstacle::PackedExtents},    // encoded (compressed)
        {0x500, EraseObstacle::PackedExtents},  // tail
    };
    for (const auto& [flags, expected] : cases)
        EXPECT_EQ(extentObstacle(flags), expected) << std::hex << flags;
}

// ---------------------------------------------------------------- fake sysfs

// A device folder under root/devices with its queue attributes, linked from
// root/dev/block/MAJ:MIN as the kernel links it.
fs::path fakeDevice(const fs::path& root, const std::string& where, const std::string& number,
                    const std::string& rotational, const std::string& discard) {
    const fs::path folder = root / "devices" / where;
    fs::create_directories(folder / "queue");
    fs::create_directories(folder / "slaves");
    writeFile(folder / "queue" / "rotational", rotational + "\n");
    writeFile(folder / "queue" / "discard_max_bytes", discard + "\n");
    fs::create_directories(root / "dev" / "block");
    fs::create_symlink(folder, root / "dev" / "block" / number);
    return folder;
}

TEST(BlockDevices, TheChainDecidesFromTheDiskUpwards) {
    TempFolder sys;
    const fs::path root = sys.path();
    const fs::path sda = fakeDevice(root, "pci0/ata1/block/sda", "8:0", "1", "0");
    fs::create_directory(sda / "sda2");
    writeFile(sda / "sda2" / "partition", "2\n");
    fs::create_symlink(sda / "sda2", root / "dev" / "block" / "8:2");
    fakeDevice(root, "pci0/nvme/block/nvme0n1", "259:0", "0", "2199023255040");
    fakeDevice(root, "pci0/sas/block/sdb", "8:16", "1", "4096"); // thin-provisioned
    fakeDevice(root, "pci0/0000:00:02.0/virtio1/block/vda", "254:0", "1", "0");
    const fs::path dmOverDisk = fakeDevice(root, "virtual/block/dm-0", "252:0", "0", "0");
    fs::create_directory(dmOverDisk / "dm");
    fs::create_symlink(sda / "sda2", dmOverDisk / "slaves" / "sda2");
    const fs::path loop = fakeDevice(root, "virtual/block/loop3", "7:3", "1", "4096");
    fs::create_directory(loop / "loop");
    writeFile(loop / "loop" / "backing_file", "/srv/images/disk one.img\n");

    struct Case {
        unsigned major, minor;
        bool reaches;
        EraseObstacle why;
        const char* what;
        const char* backing;
    };
    const std::vector<Case> cases = {
        {8, 0, true, EraseObstacle::None, "sda", ""},
        {8, 2, true, EraseObstacle::None, "sda", ""}, // a partition: its disk
        {259, 0, false, EraseObstacle::SolidState, "nvme0n1", ""},
        {8, 16, false, EraseObstacle::SolidState, "sdb", ""},
        {254, 0, false, EraseObstacle::VirtualDisk, "vda", ""},
        {252, 0, true, EraseObstacle::None, "dm-0", ""}, // its own queue is not asked
        {7, 3, false, EraseObstacle::Unknown, "loop3", "/srv/images/disk one.img"},
        {9, 9, false, EraseObstacle::Unknown, "9:9", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.major) + ":" + std::to_string(c.minor));
        const BlockWalkResult verdict = walkBlockDevice(root.string(), c.major, c.minor);
        EXPECT_EQ(verdict.reach.reaches, c.reaches);
        EXPECT_EQ(verdict.reach.why, c.why);
        EXPECT_EQ(verdict.reach.what, c.what);
        EXPECT_EQ(verdict.backingFile, c.backing);
    }
}

// ------------------------------------------------------- this machine's disks

// The first line a command prints, without its line break.
std::string firstLineOf(const std::string& command) {
    std::array<char, 512> buffer{};
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr)
        return "";
    std::string line = std::fgets(buffer.data(), buffer.size(), pipe) ? buffer.data() : "";
    ::pclose(pipe);
    if (!line.empty() && line.back() == '\n')
        line.pop_back();
    return line;
}

EraseReach assessPath(const fs::path& path) {
    const UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
    EXPECT_TRUE(fd) << path;
    return assessOverwrite(fd.get());
}

// The temporary folder's verdict, against what findmnt says of it. The
// machines this runs on keep it on ext4 on a virtio disk.
TEST(ThisMachine, TheTemporaryFolderIsJudgedByItsFileSystemAndDisk) {
    TempFolder dir;
    const fs::path file = dir.write("f", "some bytes");
    const std::string mount =
        firstLineOf("findmnt -n -r -o FSTYPE,SOURCE -T '" + file.string() + "'");
    const EraseReach reach = assessPath(file);
    std::printf("[   INFO   ] %s: %s -> reaches %d, obstacle %d, %s\n", file.c_str(), mount.c_str(),
                reach.reaches, static_cast<int>(reach.why), reach.what.c_str());
    if (mount.rfind("ext4 /dev/vd", 0) == 0) {
        EXPECT_FALSE(reach.reaches);
        EXPECT_EQ(reach.why, EraseObstacle::VirtualDisk);
        EXPECT_EQ(mount.rfind("ext4 /dev/" + reach.what, 0), 0u); // the disk of a partition
    } else if (mount.rfind("tmpfs ", 0) == 0) {
        EXPECT_EQ(reach.why, EraseObstacle::InMemory);
    } else {
        GTEST_SKIP() << "no expectation for " << mount;
    }
}

constexpr int NotPermitted = 77;

// Runs body in a child with a mount namespace of its own, so that whatever it
// mounts vanishes with it. Skips when this user may not do that.
void inPrivateMounts(const std::function<void()>& body) {
    const int code = runInChild([&] {
        if (::unshare(CLONE_NEWNS) != 0 ||
            ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(NotPermitted);
        body();
    });
    if (code == NotPermitted)
        GTEST_SKIP() << "no private mount namespace here (needs root or user namespaces)";
    EXPECT_EQ(code, 0);
}

TEST(ThisMachine, AFileOnTmpfsLivesInMemory) {
    TempFolder dir;
    inPrivateMounts([&] {
        if (::mount("quorvane", dir.path().c_str(), "tmpfs", 0, "size=1m") != 0)
            ::_exit(NotPermitted);
        const EraseReach reach = assessPath(dir.write("f", "in memory"));
        EXPECT_FALSE(reach.reaches);
        EXPECT_EQ(reach.why, EraseObstacle::InMemory);
        EXPECT_EQ(reach.what, "tmpfs");
    });
}

// An ext4 image on a loop device: with data=journal the journal keeps every
// copy; mounted plainly, the image file's own disk decides, found through the
// loop device's backing file.
TEST(ThisMachine, Ext4OnALoopDeviceByItsJournalModeAndBackingFile) {
    TempFolder dir;
    const fs::path image = dir / "ext4.img";
    const fs::path mounted = dir / "mounted";
    fs::create_directory(mounted);
    if (std::system(("truncate -s 16M '" + image.string() + "' && mkfs.ext4 -q -F '" +
                     image.string() + "' >/dev/null 2>&1")
                        .c_str()) != 0)
        GTEST_SKIP() << "mkfs.ext4 is not usable here";
    const EraseReach ofImage = assessPath(image);
    for (const std::string options : {"loop,data=journal", "loop"}) {
        SCOPED_TRACE(options);
        inPrivateMounts([&] {
            if (std::system(("mount -o " + options + " '" + image.string() + "' '" +
                             mounted.string() + "' 2>/dev/null")
                                .c_str()) != 0)
                ::_exit(NotPermitted);
            const EraseReach reach = assessPath(dir.write("mounted/f", "on the image"));
            ::umount(mounted.c_str());
            if (options == "loop") {
                EXPECT_EQ(reach.reaches, ofImage.reaches);
                EXPECT_EQ(reach.why, ofImage.why);
                EXPECT_EQ(reach.what, ofImage.what);
            } else {
                EXPECT_FALSE(reach.reaches);
                EXPECT_EQ(reach.why, EraseObstacle::DataJournal);
                EXPECT_EQ(reach.what, "ext4");
            }
        });
    }
}

} // namespace
} // namespace quorvane::test
