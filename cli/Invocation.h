#pragma once

// One run of the tool as the command line asks for it, once its shape has
// been checked against the table of commands and options (cli/CommandTable).

#include <optional>
#include <string>
#include <vector>

namespace quorvane {

enum class CliCommand {
    Help,
    Version,
    Create,
    List,
    Add,
    Extract,
    Rename,
    Delete,
    Passwd,
    Seal,
    Info,
    Mount,
    Cat,
    Compact,
    Mkdir,
};

struct Invocation {
    CliCommand command = CliCommand::Help;
    std::string safePath;
    std::string helpTopic;                      // help: the command asked about (may be empty)
    std::vector<std::string> files;             // add
    std::string folder;                         // extract, mount
    std::vector<int> numbers;                   // extract (may be empty), cat, rename, delete
    std::vector<std::string> paths;             // extract, delete: entries by path; mkdir
    std::optional<std::string> to;              // add: the safe's folder the files go below
    bool recursive = false;                     // delete: a folder with everything in it
    std::vector<std::string> names;             // --name: entries chosen by their stored name
    std::string newName;                        // rename
    std::optional<std::string> passwordFile;    // "-" is standard input
    std::optional<std::string> newPasswordFile; // passwd
    bool force = false;                         // create
    bool sealed = false;                        // create
    bool allowEmptyPassword = false;            // create, passwd: from a file, or unasked
    bool eraseOriginals = false;                // add
    bool readOnly = false;                      // mount
    bool json = false;                          // list, info: one JSON document
    bool update = false;                        // add: replace changed entries, skip the same
    bool quiet = false;                         // add, extract: a count instead of a line per file
    // extract: what happens to a different file of an entry's name in DIR
    // (none given: asked at a terminal, else both kept).
    bool overwrite = false;
    bool skipExisting = false;
    bool keepBoth = false;
    // mount: how long unused before the folder closes ("90s", "10m", "off"),
    // and how long files still open are waited for then; over the preferences.
    std::optional<std::string> idle;
    std::optional<std::string> grace;
};

} // namespace quorvane
