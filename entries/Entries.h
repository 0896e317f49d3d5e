#pragma once

#include "lifecycle/Session.h"

#include <string>
#include <vector>

namespace quorvane {

void addFile(Session& session);                                                // Add File, 32778
void addDroppedFiles(Session& session, const std::vector<std::string>& paths); // a drop
void extractFiles(Session& session);                                           // Extract, 32774
void deleteFile(Session& session); // Delete, 32780 / 32781
void renameFile(Session& session); // Rename, 32773

// Folders, where the safe keeps them (a sealed safe); a plain safe says why not.
// Edit > New Folder: asks for the name, makes the folder inside parent ("" the top).
void newFolder(Session& session, const std::string& parent);
// Delete on a folder's row: asks first, then removes it with everything in it.
void deleteFolder(Session& session, const std::string& path);
// Rename on a folder's row: the folder with everything in it takes the new name.
void renameFolder(Session& session, const std::string& path);
// The folder part of a stored path ("Taxes/2025" of "Taxes/2025/a.pdf"), "" for none.
std::string folderOfPath(const std::string& path);

} // namespace quorvane
