#pragma once

// Where an extracted entry goes when its stored name is a path of a safe that
// keeps folders ("Taxes/2025/return.pdf"): the folders below the chosen one,
// made part by part and opened without following links, so that a path can
// only ever lead below the chosen folder. The times the safe keeps go onto
// the files written and, at the end, onto the folders made; the owner's bits
// onto the files written and the folders this extraction made.

#include "lifecycle/SafeState.h"
#include "storage/files/ExtractedFile.h"

#include <map>
#include <memory>
#include <optional>
#include <string>

namespace quorvane {

struct TreePlace {
    ExtractFolder* folder = nullptr; // null: the folder could not be made (error)
    std::string name;                // the file's name inside folder
    std::string shownFolder;         // the folder as the user is told of it
    int error = 0;
};

class ExtractTree {
  public:
    ExtractTree(ExtractFolder& top, std::string topPath, bool keepsTree)
        : top_(top), topPath_(std::move(topPath)), keepsTree_(keepsTree) {}

    // Where the entry stored under storedName is written. A safe that keeps
    // no folders writes every name into the chosen folder, as it always did.
    TreePlace placeOf(const std::string& storedName);
    // Makes the stored folder at path below the chosen one, the folders that
    // lead to it too: 0, or the errno of the part that could not be made.
    int makeFolder(const std::string& path);
    // Gives the file written as writtenName in place the entry's time.
    void stampFile(SafeState& state, const std::string& storedName, const TreePlace& place,
                   const std::string& writtenName) const;
    // The owner's bits the entry keeps; none where the safe keeps none.
    std::optional<mode_t> ownerBitsOf(SafeState& state, const std::string& storedName) const;
    // Gives every folder made the time the safe keeps for it, and the
    // owner's bits to those this extraction made (last, as a folder the
    // owner may not write to takes no file).
    void stampFolders(SafeState& state);

  private:
    ExtractFolder* folderAt(const std::string& path, int& error);

    ExtractFolder& top_;
    std::string topPath_;
    bool keepsTree_;
    std::map<std::string, std::unique_ptr<ExtractFolder>> made_;
};

} // namespace quorvane
