#pragma once

// What an add is given (files and folders, as the command line or a drop
// names them) turned into the files to store.

#include <cstdint>
#include <string>
#include <vector>

namespace quorvane {

struct PassedOver {
    std::string path;
    std::string why;
};

struct SourceList {
    std::vector<std::string> files;     // to store, in this order
    std::vector<PassedOver> passedOver; // found in a folder and left out
    // Every folder gone through, a given one before what it holds: where the
    // safe keeps folders, an empty one is kept too.
    std::vector<std::string> folders;
    // A folder whose content could not be listed, and the system's reason:
    // the list is then incomplete, and nothing of it should be stored.
    std::string unlistedFolder;
    std::string unlistedWhy;
};

// Each path that is a folder (or a link to one, as given) stands for every
// regular file in it and below, sorted by path; links inside it are not
// followed, and they, other kinds of file (FIFOs, devices, sockets) and empty
// files are passed over with the reason. Any other path is kept as given.
SourceList expandSources(const std::vector<std::string>& paths);

// Why a file to add cannot be stored, found before anything is stored: the
// system's reason when it cannot be opened for reading or measured, or ours
// when it is no regular file or empty; empty when it can be stored. size gets
// its length.
std::string sourceProblem(const std::string& path, std::uint64_t& size);

} // namespace quorvane
