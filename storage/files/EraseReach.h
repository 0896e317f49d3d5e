#pragma once

// Whether overwriting a file through its descriptor can reach the blocks that
// hold its old content. An overwrite replaces the bytes that the file system
// shows; where the old bytes stay is decided by the file system (copy-on-write,
// a data journal, shared extents) and by the device underneath (a flash
// translation layer, a virtual disk's host). Linux calls only; what a verdict
// means to the user is said above this layer.

#include <optional>
#include <string>
#include <vector>

namespace quorvane {

enum class EraseObstacle {
    None,          // overwritten in place, down to a disk that keeps blocks where they are
    InMemory,      // tmpfs, ramfs, zram: no disk blocks at all (swap aside)
    CopyOnWrite,   // btrfs, ZFS, bcachefs: changes go to new blocks
    LogStructured, // f2fs, nilfs2: the same, by design of the log
    DataJournal,   // ext3/ext4 data=journal, or a file with the journal-data attribute
    Overlay,       // overlayfs: the lower layer keeps the file as it was
    Delegated,     // NFS, SMB, FUSE, 9p: another machine or program stores the bytes
    SharedExtents, // a reflink or a snapshot shares the blocks
    PackedExtents, // inline, compressed or unaligned data: no blocks of its own
    VirtualDisk,   // the host of a virtual disk decides where bytes go
    SolidState,    // flash, or a device that takes discard: it remaps blocks itself
    Unknown,       // a file system or device this code does not know
};

struct EraseReach {
    bool reaches = false;
    EraseObstacle why = EraseObstacle::Unknown;
    // The file system's or the device's name the verdict is about ("btrfs", "vda").
    std::string what;
};

// Judges the regular file open as fd. Meant to be called before the overwrite:
// the extents are read as they are now, and an overwrite may move them.
EraseReach assessOverwrite(int fd);

// --- the pieces, apart so that tests can feed them text and folders ---

// One line of /proc/self/mountinfo, its octal escapes (\040 for a space)
// undone.
struct MountEntry {
    std::string mountPoint;
    std::string fsType;
    std::string source;
    std::string mountOptions; // per mount: rw,noatime,...
    std::string superOptions; // of the file system: data=journal,...
};
std::optional<MountEntry> parseMountInfoLine(const std::string& line);
std::string unescapeMountField(const std::string& field);

// The mount that holds path (an absolute path without links): the longest
// mount point that is path or a folder above it; of equal ones the last, which
// is mounted over the others. Matching by path, not by device: btrfs gives its
// files a device number that mountinfo does not list.
std::optional<MountEntry> mountHolding(const std::string& path, const std::string& mountInfoText);

// True when the comma-separated options hold option exactly ("data=journal").
bool hasMountOption(const std::string& options, const std::string& option);

// The verdict of a file system by its statfs magic; None for those that
// overwrite in place (ext2/3/4, xfs, FAT...), Unknown for unknown ones.
EraseObstacle fileSystemObstacle(long magic);

// What the FIEMAP flags of one extent say; None when they say nothing against.
EraseObstacle extentObstacle(unsigned flags);

// One step down the chain of block devices in a sysfs tree: the device folder
// (/sys/dev/block/MAJ:MIN resolved) either decides (obstacle), or passes the
// bytes on to the devices below it (device-mapper, md: slaves) or to a file (a
// loop device's backing file).
struct BlockWalkResult {
    EraseReach reach;
    std::string backingFile; // set for a loop device: judge that file instead
};
BlockWalkResult walkBlockDevice(const std::string& sysfsRoot, unsigned major, unsigned minor);

} // namespace quorvane
