#include "storage/files/EraseReach.h"

#include "storage/files/UniqueFd.h"

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <vector>

#include <fcntl.h>
#include <linux/fiemap.h>
#include <linux/fs.h>
#include <linux/magic.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/sysmacros.h>
#include <unistd.h>

namespace quorvane {

namespace fs = std::filesystem;

namespace {

// Not in linux/magic.h: file systems built outside the kernel tree.
constexpr std::uint32_t ZfsMagic = 0x2FC12FC1;
constexpr std::uint32_t BcachefsMagic = 0xCA451A4E;
constexpr std::uint32_t CephMagic = 0x00C36400;
constexpr std::uint32_t Ntfs3Magic = 0x5346544E;
constexpr std::uint32_t JfsMagic = 0x3153464A;

// A loop device's backing file may sit on another loop device; this many
// steps are followed before the chain counts as unknown.
constexpr int MostFileHops = 4;
constexpr int MostDeviceHops = 8;

std::string wholeFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// A sysfs attribute: its first line, without the line break.
std::string attribute(const fs::path& path) {
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.pop_back();
    return line;
}

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

EraseReach obstacle(EraseObstacle why, std::string what) {
    return EraseReach{false, why, std::move(what)};
}

// Virtual disks: virtio ("vd*", or SCSI disks under a virtio controller),
// Xen ("xvd*"), and SCSI disks that the usual hypervisors announce by name.
bool isVirtualDisk(const fs::path& folder, const std::string& name) {
    if (startsWith(name, "vd") || startsWith(name, "xvd"))
        return true;
    if (folder.string().find("/virtio") != std::string::npos)
        return true;
    const std::string vendor = attribute(folder / "device" / "vendor");
    return startsWith(vendor, "QEMU") || startsWith(vendor, "VMware") || startsWith(vendor, "Msft");
}

BlockWalkResult walkFolder(fs::path folder, int hops) {
    std::error_code error;
    if (hops > MostDeviceHops || !fs::is_directory(folder, error))
        return {obstacle(EraseObstacle::Unknown, folder.filename().string()), ""};
    // A partition has no queue of its own; its disk decides.
    if (fs::exists(folder / "partition", error))
        folder = folder.parent_path();
    const std::string name = folder.filename().string();
    if (startsWith(name, "zram") || startsWith(name, "ram"))
        return {obstacle(EraseObstacle::InMemory, name), ""};
    // A loop device writes into its backing file: that file's place decides.
    // Without one the verdict stays unknown.
    if (fs::exists(folder / "loop", error))
        return {obstacle(EraseObstacle::Unknown, name),
                attribute(folder / "loop" / "backing_file")};
    // Device-mapper and md pass every block on to the devices below them;
    // each of those must keep blocks in place.
    std::vector<fs::path> below;
    for (const auto& slave : fs::directory_iterator(folder / "slaves", error))
        below.push_back(fs::canonical(slave.path(), error));
    if (!below.empty()) {
        for (const fs::path& slave : below) {
            BlockWalkResult verdict = walkFolder(slave, hops + 1);
            if (!verdict.reach.reaches)
                return verdict;
        }
        return {EraseReach{true, EraseObstacle::None, name}, ""};
    }
    if (fs::exists(folder / "dm", error))
        return {obstacle(EraseObstacle::Unknown, name), ""};
    if (isVirtualDisk(folder, name))
        return {obstacle(EraseObstacle::VirtualDisk, name), ""};
    const std::string rotational = attribute(folder / "queue" / "rotational");
    const std::string discard = attribute(folder / "queue" / "discard_max_bytes");
    if (rotational.empty())
        return {obstacle(EraseObstacle::Unknown, name), ""};
    if (rotational == "0" || (!discard.empty() && discard != "0"))
        return {obstacle(EraseObstacle::SolidState, name), ""};
    return {EraseReach{true, EraseObstacle::None, name}, ""};
}

std::string realPathOf(int fd) {
    std::error_code error;
    fs::path real = fs::read_symlink("/proc/self/fd/" + std::to_string(fd), error);
    return error ? std::string() : real.string();
}

bool hasInodeFlag(int fd, int flag) {
    int flags = 0; // the kernel reads and writes an int, whatever the macro says
    return ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0 && (flags & flag) != 0;
}

// The first extent whose flags stand against an overwrite in place. A file
// system without FIEMAP says nothing here.
EraseObstacle extentsObstacle(int fd) {
    constexpr unsigned Batch = 64;
    std::vector<std::uint64_t> buffer(
        (sizeof(fiemap) + Batch * sizeof(fiemap_extent)) / sizeof(std::uint64_t) + 1);
    auto* map = reinterpret_cast<fiemap*>(buffer.data());
    std::uint64_t start = 0;
    for (;;) {
        std::fill(buffer.begin(), buffer.end(), 0);
        map->fm_start = start;
        map->fm_length = FIEMAP_MAX_OFFSET - start;
        map->fm_extent_count = Batch;
        if (::ioctl(fd, FS_IOC_FIEMAP, map) != 0 || map->fm_mapped_extents == 0)
            return EraseObstacle::None;
        for (unsigned i = 0; i < map->fm_mapped_extents; ++i) {
            const fiemap_extent& extent = map->fm_extents[i];
            if (EraseObstacle found = extentObstacle(extent.fe_flags); found != EraseObstacle::None)
                return found;
            if (extent.fe_flags & FIEMAP_EXTENT_LAST)
                return EraseObstacle::None;
        }
        const fiemap_extent& last = map->fm_extents[map->fm_mapped_extents - 1];
        if (last.fe_logical + last.fe_length <= start)
            return EraseObstacle::None;
        start = last.fe_logical + last.fe_length;
    }
}

// The block device that holds the file system: the file's own device number,
// or, where that is an anonymous one (btrfs), the device mountinfo names.
std::optional<dev_t> blockDeviceOf(const struct stat& status,
                                   const std::optional<MountEntry>& mount) {
    if (major(status.st_dev) != 0)
        return status.st_dev;
    struct stat source {};
    if (mount && startsWith(mount->source, "/") && ::stat(mount->source.c_str(), &source) == 0 &&
        S_ISBLK(source.st_mode))
        return source.st_rdev;
    return std::nullopt;
}

EraseReach judgeOpenFile(int fd, int hops);

EraseReach judgeBackingFile(const std::string& path, const std::string& device, int hops) {
    if (hops >= MostFileHops)
        return obstacle(EraseObstacle::Unknown, device);
    const UniqueFd backing(::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!backing)
        return obstacle(EraseObstacle::Unknown, device);
    return judgeOpenFile(backing.get(), hops + 1);
}

EraseReach judgeOpenFile(int fd, int hops) {
    struct stat status {};
    struct statfs fileSystem {};
    if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) || ::fstatfs(fd, &fileSystem) != 0)
        return obstacle(EraseObstacle::Unknown, "");
    const auto magic = static_cast<std::uint32_t>(fileSystem.f_type);
    const std::optional<MountEntry> mount =
        mountHolding(realPathOf(fd), wholeFile("/proc/self/mountinfo"));
    std::ostringstream magicText;
    magicText << std::hex << "0x" << magic;
    const std::string fsName = mount ? mount->fsType : magicText.str();

    EraseObstacle found = fileSystemObstacle(fileSystem.f_type);
    // A btrfs file marked No_COW is overwritten in place, unless a snapshot
    // shares its extents (the extents below tell).
    if (magic == BTRFS_SUPER_MAGIC && hasInodeFlag(fd, FS_NOCOW_FL))
        found = EraseObstacle::None;
    if (found != EraseObstacle::None)
        return obstacle(found, fsName);
    if (magic == EXT4_SUPER_MAGIC &&
        ((mount && (hasMountOption(mount->superOptions, "data=journal") ||
                    hasMountOption(mount->mountOptions, "data=journal"))) ||
         hasInodeFlag(fd, FS_JOURNAL_DATA_FL)))
        return obstacle(EraseObstacle::DataJournal, fsName);
    if (found = extentsObstacle(fd); found != EraseObstacle::None)
        return obstacle(found, fsName);

    const std::optional<dev_t> device = blockDeviceOf(status, mount);
    if (!device)
        return obstacle(EraseObstacle::Unknown, fsName);
    BlockWalkResult verdict = walkBlockDevice("/sys", major(*device), minor(*device));
    if (!verdict.backingFile.empty())
        return judgeBackingFile(verdict.backingFile, verdict.reach.what, hops);
    return verdict.reach;
}

} // namespace

EraseReach assessOverwrite(int fd) {
    return judgeOpenFile(fd, 0);
}

std::string unescapeMountField(const std::string& field) {
    std::string plain;
    for (std::size_t i = 0; i < field.size(); ++i) {
        // The kernel writes a space, tab, line break and backslash as \ooo.
        const bool octal = field[i] == '\\' && i + 3 < field.size() && field[i + 1] >= '0' &&
                           field[i + 1] <= '3' && field[i + 2] >= '0' && field[i + 2] <= '7' &&
                           field[i + 3] >= '0' && field[i + 3] <= '7';
        if (!octal) {
            plain += field[i];
            continue;
        }
        plain += static_cast<char>((field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 +
                                   (field[i + 3] - '0'));
        i += 3;
    }
    return plain;
}

std::optional<MountEntry> parseMountInfoLine(const std::string& line) {
    std::vector<std::string> fields;
    std::istringstream words(line);
    for (std::string word; words >> word;)
        fields.push_back(word);
    // id parent major:minor root mount-point options [optional...] - type source super-options
    std::size_t dash = 6;
    while (dash < fields.size() && fields[dash] != "-")
        ++dash;
    if (dash + 2 >= fields.size())
        return std::nullopt;
    MountEntry entry;
    entry.mountPoint = unescapeMountField(fields[4]);
    entry.mountOptions = fields[5];
    entry.fsType = unescapeMountField(fields[dash + 1]);
    entry.source = unescapeMountField(fields[dash + 2]);
    entry.superOptions = dash + 3 < fields.size() ? fields[dash + 3] : "";
    return entry;
}

std::optional<MountEntry> mountHolding(const std::string& path, const std::string& mountInfoText) {
    std::optional<MountEntry> best;
    std::istringstream lines(mountInfoText);
    for (std::string line; std::getline(lines, line);) {
        std::optional<MountEntry> entry = parseMountInfoLine(line);
        if (!entry)
            continue;
        const std::string& point = entry->mountPoint;
        const bool holds =
            point == "/" || path == point ||
            (startsWith(path, point) && path.size() > point.size() && path[point.size()] == '/');
        if (holds && (!best || point.size() >= best->mountPoint.size()))
            best = std::move(entry);
    }
    return best;
}

bool hasMountOption(const std::string& options, const std::string& option) {
    std::istringstream list(options);
    for (std::string one; std::getline(list, one, ',');)
        if (one == option)
            return true;
    return false;
}

EraseObstacle fileSystemObstacle(long magic) {
    switch (static_cast<std::uint32_t>(magic)) {
    case EXT4_SUPER_MAGIC: // ext2 and ext3 too; a data journal is judged apart
    case XFS_SUPER_MAGIC:
    case MSDOS_SUPER_MAGIC:
    case EXFAT_SUPER_MAGIC:
    case Ntfs3Magic:
    case JfsMagic:
        return EraseObstacle::None;
    case TMPFS_MAGIC:
    case RAMFS_MAGIC:
        return EraseObstacle::InMemory;
    case BTRFS_SUPER_MAGIC:
    case ZfsMagic:
    case BcachefsMagic:
        return EraseObstacle::CopyOnWrite;
    case F2FS_SUPER_MAGIC:
    case NILFS_SUPER_MAGIC:
        return EraseObstacle::LogStructured;
    case OVERLAYFS_SUPER_MAGIC:
        return EraseObstacle::Overlay;
    case NFS_SUPER_MAGIC:
    case CIFS_SUPER_MAGIC:
    case SMB2_SUPER_MAGIC:
    case FUSE_SUPER_MAGIC:
    case V9FS_MAGIC:
    case CephMagic:
        return EraseObstacle::Delegated;
    default:
        return EraseObstacle::Unknown;
    }
}

EraseObstacle extentObstacle(unsigned flags) {
    if (flags & FIEMAP_EXTENT_SHARED)
        return EraseObstacle::SharedExtents;
    if (flags & (FIEMAP_EXTENT_DATA_INLINE | FIEMAP_EXTENT_DATA_TAIL | FIEMAP_EXTENT_NOT_ALIGNED |
                 FIEMAP_EXTENT_ENCODED))
        return EraseObstacle::PackedExtents;
    return EraseObstacle::None;
}

BlockWalkResult walkBlockDevice(const std::string& sysfsRoot, unsigned major, unsigned minor) {
    const fs::path link = fs::path(sysfsRoot) / "dev" / "block" /
                          (std::to_string(major) + ":" + std::to_string(minor));
    std::error_code error;
    fs::path folder = fs::canonical(link, error);
    if (error)
        return {obstacle(EraseObstacle::Unknown, link.filename().string()), ""};
    return walkFolder(folder, 0);
}

} // namespace quorvane
