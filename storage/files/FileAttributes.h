#pragma once

// A file's extended attributes, its access ACL among them, as the system
// hands them over: read from a file that is about to be replaced and given
// to the file that replaces it, so that whoever could use the old one can use
// the new one, and nobody else.

#include <optional>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

namespace quorvane {

// The attribute that holds a file's POSIX access ACL.
inline constexpr const char* AccessAclAttribute = "system.posix_acl_access";

struct ExtendedAttributes {
    std::vector<std::pair<std::string, std::string>> items; // name and value
    int readError = 0; // errno when not every attribute could be read

    const std::string* find(const std::string& name) const;
};

// The attributes of the file at path (a link is not followed). A file system
// without extended attributes has none.
ExtendedAttributes attributesAt(const std::string& path);

struct AttributeCopyResult {
    int accessAclError = 0; // errno when the access ACL could not be set
    int othersError = 0;    // errno when another attribute could not be set
};

// Gives the file open on fd the access ACL of `from` (or none, when `from` had
// none: an ACL the fresh file took from its folder's default one would let in
// whoever it names) and, with othersToo, every other attribute of `from`.
AttributeCopyResult copyAttributes(int fd, const ExtendedAttributes& from, bool othersToo);

// The permission bits (0..7) of the group:: entry of an access ACL in the
// system's form; none when the value is no such ACL.
std::optional<mode_t> aclOwningGroupBits(const std::string& acl);

// The same ACL with the group:: entry's permission bits set to bits.
std::string withOwningGroupBits(std::string acl, mode_t bits);

} // namespace quorvane
