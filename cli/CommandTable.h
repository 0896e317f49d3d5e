#pragma once

// The tool's commands and options, one row each. The parser, the checks of a
// command line's shape, the help text and the bash completion are all read
// from these rows, so that a command or an option is added in one place and
// none of them can tell a different story.

#include "cli/Invocation.h"

#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace quorvane {

// What a word on the command line stands for; also what completion offers there.
// An Entry is a NUMBER when it is one, else the path of an entry in the safe;
// a Path is a path in the safe.
enum class WordKind { Safe, File, Folder, Number, Name, Command, Entry, Path };

// How many words an operand takes.
enum class Count { One, Optional, Any, OneOrMore };

struct Operand {
    WordKind kind;
    Count count = Count::One;
};

struct CommandRow {
    std::string_view name;
    CliCommand command;
    std::vector<Operand> operands; // SAFE included; only the last may take several words
    // Each synopsis after "quorvane-cli NAME"; a "\n" in one continues it on
    // the next line, under its second word.
    std::vector<std::string_view> usage;
    std::string_view heading; // how the help's list of commands names it
    std::vector<std::string_view> description;
};

// What an option does to the invocation.
struct Flag {
    bool Invocation::*field;
};
struct OneValue { // given at most once, never empty
    std::optional<std::string> Invocation::*field;
};
struct RepeatedValue { // may be given again; any value, the empty one too
    std::vector<std::string> Invocation::*field;
};
struct RunsCommand { // the run is this command, wherever the option stands
    CliCommand command;
};
using OptionEffect = std::variant<Flag, OneValue, RepeatedValue, RunsCommand>;

// Written with designated initializers: a row names what it sets.
struct OptionRow {
    std::string_view name = {};  // "--password-file"; "--name=VALUE" works for every valued option
    std::string_view alias = {}; // another spelling ("-h"), not shown in the help
    OptionEffect effect = {};
    std::vector<CliCommand> commands = {}; // where it belongs; RunsCommand rows belong everywhere
    std::string_view placeholder = {};     // the value in the help ("F"); empty for a flag
    WordKind valueKind = WordKind::Name;
    std::string_view missingValue = {}; // "a file name": "--password-file needs a file name"
    // Said as "COMMAND" + this when the option is given to a command it does
    // not belong to; empty: "--force belongs to create".
    std::string_view refusal = {};
    std::vector<std::string_view> description = {};
    bool onlyWithoutCommand = false; // completion offers it before a command only
};

const std::vector<CommandRow>& commandTable();
const std::vector<OptionRow>& optionTable();

const CommandRow* findCommand(std::string_view name);
const CommandRow& rowOf(CliCommand command);

bool takesValue(const OptionRow& option);
bool belongsTo(const OptionRow& option, CliCommand command);

// The fewest and most words a command takes after its name (SAFE included);
// SIZE_MAX: no upper bound.
std::size_t fewestOperands(const CommandRow& row);
std::size_t mostOperands(const CommandRow& row);

// The operand that --name can stand in for (rename, delete): a NUMBER that
// must be given.
bool nameStandsForNumber(const CommandRow& row);

} // namespace quorvane
