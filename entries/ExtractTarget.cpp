#include "entries/ExtractTarget.h"

#include "entries/Messages.h"
#include "entries/NameText.h"

#include <cerrno>
#include <cstring>

namespace quorvane {

namespace text = entries_text;

const char* newNameRefusal(const std::string& name) {
    if (name.empty())
        return text::RenameRefusedEmpty;
    if (name == "." || name == "..")
        return text::RenameRefusedDots;
    if (name.find('/') != std::string::npos)
        return text::RenameRefusedSeparator;
    for (std::size_t at = 0; at < name.size();) {
        std::size_t length = 0;
        const char32_t point = utf8CodePointAt(name, at, length);
        if (length > 0 && (point < 0x20 || (point >= 0x7F && point <= 0x9F)))
            return text::RenameRefusedControl;
        at += length > 0 ? length : 1;
    }
    return nullptr;
}

TargetResult writeEntryFile(ExtractFolder& folder, const std::string& name,
                            const std::function<bool(std::ostream&)>& writeContent,
                            bool besideExisting, std::optional<mode_t> ownerBits) {
    const PlacementResult placed =
        placeExtractedFile(folder, name, writeContent, besideExisting, ownerBits);
    const auto skipped = [](const char* why) {
        return TargetResult{TargetWrite::Skipped, why, ""};
    };
    const auto failed = [](const std::string& why) {
        return TargetResult{TargetWrite::Failed, why, ""};
    };
    switch (placed.outcome) {
    case Placement::Placed:
        return {TargetWrite::Written, "", placed.placedAs};
    case Placement::NameNotPlain:
        return skipped(text::NameNotPlain);
    case Placement::NotPlainFile:
        return skipped(text::TargetNotPlainFile);
    case Placement::IsOpenSafe:
        return skipped(text::TargetIsOpenSafe);
    case Placement::Failed:
        return failed(std::strerror(placed.error));
    case Placement::SourceUnreadable:
        return failed(std::string(text::WorkingCopyUnreadable) + text::IncompleteFileRemoved);
    case Placement::NotWritten:
        return failed(std::strerror(placed.error) + std::string(text::IncompleteFileRemoved));
    case Placement::NotPlaced:
        return failed(std::strerror(placed.error) + std::string(text::ExtractedCopyRemoved));
    }
    return failed(std::strerror(EIO));
}

} // namespace quorvane
