#pragma once

// Writing one extracted entry into the chosen folder, in the words the user
// is told: the file-system side (the folder held open, the checks of what
// stands under the name, the fresh file renamed into place) is in
// storage/files/ExtractedFile.h.

#include "storage/files/ExtractedFile.h"

#include <functional>
#include <optional>
#include <ostream>
#include <string>

namespace quorvane {

// Why a name given to Rename would be refused (one of the texts of
// Messages.h), nullptr when it is a name extracting writes as it is. Control
// characters go further than extracting, which writes the names of old safes
// as they are: a new name has no reason to hold one.
const char* newNameRefusal(const std::string& name);

enum class TargetWrite { Written, Skipped, Failed };

struct TargetResult {
    TargetWrite outcome = TargetWrite::Failed;
    std::string detail;    // why it was skipped or failed
    std::string writtenAs; // the free name it went under instead of its own, if it did
};

// Puts the entry that writeContent writes into folder under name, as
// placeExtractedFile does (besideExisting: keeping an ordinary file of that
// name too; ownerBits: the owner's bits the entry keeps), and says the
// outcome in the texts of Messages.h.
TargetResult writeEntryFile(ExtractFolder& folder, const std::string& name,
                            const std::function<bool(std::ostream&)>& writeContent,
                            bool besideExisting = false,
                            std::optional<mode_t> ownerBits = std::nullopt);

} // namespace quorvane
