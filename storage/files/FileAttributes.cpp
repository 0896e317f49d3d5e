#include "storage/files/FileAttributes.h"

#include <linux/posix_acl.h>
#include <linux/posix_acl_xattr.h>
#include <sys/xattr.h>

#include <cerrno>
#include <cstring>

namespace quorvane {
namespace {

constexpr std::size_t AclHeaderSize = sizeof(posix_acl_xattr_header);
constexpr std::size_t AclEntrySize = sizeof(posix_acl_xattr_entry);
constexpr std::size_t TagAt = offsetof(posix_acl_xattr_entry, e_tag);
constexpr std::size_t PermAt = offsetof(posix_acl_xattr_entry, e_perm);

// Another process may add to the list between the two calls that size and
// read it; a few rounds catch up with it.
constexpr int SizingRounds = 4;

bool isMissing(int error) {
    return error == ENODATA || error == ENOTSUP || error == EOPNOTSUPP;
}

// Calls read(buffer, size) with a buffer of the size it asks for (read with
// size 0 says how much it needs), until the answer fits.
template <typename Read> std::optional<std::string> sized(const Read& read) {
    for (int round = 0; round < SizingRounds; ++round) {
        const ssize_t needed = read(nullptr, 0);
        if (needed < 0)
            return std::nullopt;
        std::string buffer(static_cast<std::size_t>(needed), '\0');
        const ssize_t got = read(buffer.data(), buffer.size());
        if (got >= 0) {
            buffer.resize(static_cast<std::size_t>(got));
            return buffer;
        }
        if (errno != ERANGE)
            return std::nullopt;
    }
    errno = ERANGE;
    return std::nullopt;
}

std::size_t le16At(const std::string& bytes, std::size_t at) {
    return static_cast<unsigned char>(bytes[at]) |
           (static_cast<std::size_t>(static_cast<unsigned char>(bytes[at + 1])) << 8);
}

// Where the group:: entry's permission bits sit in an ACL value, if it is one.
std::optional<std::size_t> owningGroupPermAt(const std::string& acl) {
    if (acl.size() < AclHeaderSize || (acl.size() - AclHeaderSize) % AclEntrySize != 0 ||
        le16At(acl, 0) != POSIX_ACL_XATTR_VERSION || le16At(acl, 2) != 0)
        return std::nullopt;
    for (std::size_t at = AclHeaderSize; at < acl.size(); at += AclEntrySize)
        if (le16At(acl, at + TagAt) == ACL_GROUP_OBJ)
            return at + PermAt;
    return std::nullopt;
}

} // namespace

const std::string* ExtendedAttributes::find(const std::string& name) const {
    for (const auto& [itemName, value] : items)
        if (itemName == name)
            return &value;
    return nullptr;
}

ExtendedAttributes attributesAt(const std::string& path) {
    ExtendedAttributes attributes;
    const std::optional<std::string> names = sized(
        [&](char* buffer, std::size_t size) { return ::llistxattr(path.c_str(), buffer, size); });
    if (!names) {
        if (!isMissing(errno))
            attributes.readError = errno;
        return attributes;
    }
    for (std::size_t at = 0; at < names->size();) {
        const std::string name(names->c_str() + at);
        at += name.size() + 1;
        const std::optional<std::string> value = sized([&](char* buffer, std::size_t size) {
            return ::lgetxattr(path.c_str(), name.c_str(), buffer, size);
        });
        if (value)
            attributes.items.emplace_back(name, *value);
        else if (errno != ENODATA) // gone since it was listed
            attributes.readError = errno;
    }
    return attributes;
}

AttributeCopyResult copyAttributes(int fd, const ExtendedAttributes& from, bool othersToo) {
    AttributeCopyResult copied;
    const std::string* acl = from.find(AccessAclAttribute);
    if (acl == nullptr) {
        if (::fremovexattr(fd, AccessAclAttribute) != 0 && !isMissing(errno))
            copied.accessAclError = errno;
    } else if (::fsetxattr(fd, AccessAclAttribute, acl->data(), acl->size(), 0) != 0) {
        copied.accessAclError = errno;
    }
    if (!othersToo)
        return copied;
    for (const auto& item : from.items) {
        const std::string& name = item.first;
        const std::string& value = item.second;
        if (name == AccessAclAttribute)
            continue;
        // One the file has already (a security label the system gave it) is
        // not set again: that may need a privilege the saver lacks.
        const std::optional<std::string> present = sized([&](char* buffer, std::size_t size) {
            return ::fgetxattr(fd, name.c_str(), buffer, size);
        });
        if (present && *present == value)
            continue;
        if (::fsetxattr(fd, name.c_str(), value.data(), value.size(), 0) != 0)
            copied.othersError = errno;
    }
    if (copied.othersError == 0)
        copied.othersError = from.readError;
    return copied;
}

std::optional<mode_t> aclOwningGroupBits(const std::string& acl) {
    const std::optional<std::size_t> at = owningGroupPermAt(acl);
    if (!at)
        return std::nullopt;
    return static_cast<mode_t>(le16At(acl, *at) & 07);
}

std::string withOwningGroupBits(std::string acl, mode_t bits) {
    if (const std::optional<std::size_t> at = owningGroupPermAt(acl)) {
        acl[*at] = static_cast<char>(bits & 07);
        acl[*at + 1] = 0;
    }
    return acl;
}

} // namespace quorvane
