#pragma once

// The tool's commands on the folders of a sealed safe: mkdir, and the parts
// of add, extract, rename and delete that take a folder whole. A plain safe
// keeps one flat list: a folder asked of it is refused with the reason.

#include "cli/CommandRun.h"

#include <string>
#include <vector>

namespace quorvane {

// Reports that a plain safe keeps no folders for what; false when the safe
// keeps them (nothing said then).
bool refusedWithoutTree(CommandRun& run, const std::string& what);

// Makes the folder at path in the safe with those above it that are missing,
// each with stamp; a folder that is there already is fine. The failure is
// reported; false then.
bool makeFolderPath(CommandRun& run, const std::string& path, const EntryStamp& stamp);

ExitCode runMkdir(CommandRun& run);

// A folder an add makes in the safe, with the time its original has.
struct TreeFolder {
    std::string path;
    EntryStamp stamp;
};
// Where the file at path, found in given (a file or a folder given to add),
// goes in a safe that keeps folders: below to, under the given folder's own
// name when given is a folder.
std::string treePathOf(const std::string& given, const std::string& path, const std::string& to);
// Adds to folders what add makes in the safe for given: to, and for a folder
// given, it and every folder below it (links not followed). False when a
// folder could not be listed.
bool listTreeFolders(const std::string& given, const std::string& to,
                     std::vector<TreeFolder>& folders);
// Makes them in order, each with the folders above it; false on a failure
// (reported). made gets those that were not there yet.
bool makeTreeFolders(CommandRun& run, const std::vector<TreeFolder>& folders,
                     std::vector<TreeFolder>& made);
// Gives the folders an add made their originals' times again once their
// files are in (each file that came moved its folder's time), as cp -p does.
void keepTreeFolderTimes(CommandRun& run, const std::vector<TreeFolder>& made);

// The rows of the files at or below folder.
std::vector<int> rowsBelow(const SafeState& state, const std::string& folder);

// rename of an entry or a folder of a sealed safe to a path; the safe is written back.
ExitCode runMove(CommandRun& run, const std::string& from);

// Whether the run's folders may go with everything in them: each is asked
// about at a terminal unless --recursive was given; without a terminal
// --recursive is needed (the refusal is reported).
bool foldersMayGo(CommandRun& run);
// Removes the run's folders with everything in them; false when one failed
// (reported).
bool removeFolders(CommandRun& run);

} // namespace quorvane
