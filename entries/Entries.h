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

} // namespace quorvane
