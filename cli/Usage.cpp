#include "cli/Usage.h"

#include "cli/CommandTable.h"

#include <variant>

namespace quorvane {

namespace {

constexpr const char* Introduction = R"(
Keeps files inside one encrypted safe (.cx), the same safes as the desktop
program quorvane. Every command that changes a safe writes it back before it
exits, by writing a fresh file beside it and renaming it over the safe; if
anything fails, the safe file stays as it was. Where the safe's folder takes
no new file (read-only, or not the user's to write), such a command is
refused with the system's reason before anything is asked or done.

)";

constexpr const char* Closing = R"(
Without a password file the password is asked on the terminal without echo,
twice for create and for the new password of passwd. A password has at most
249 bytes; a password file whose first line is longer is refused. An empty
new password is refused from a password file unless
--allow-empty-password is given; typed on the terminal, it must be confirmed
with y or yes. Passwords are never taken from the command line or the
environment.

Sealed safes: the key is derived from the password with Argon2id (a random
salt per safe, 3 passes over 64 MiB), so that each guess at the password
costs time and memory, and the content is sealed in pieces with
XChaCha20-Poly1305, so that a wrong password, a changed or cut-off safe file
and bytes added to it are refused instead of opening damaged. A plain safe
has none of this: its key is the SHA-256 of the password and nothing detects
a change. Sealing does not help against a weak password, does not protect
the plaintext working copy while a safe is open, and a sealed safe can be
read only by programs that know the sealed format. Every command works on
both kinds; new safes are plain unless --sealed is given.

In the names printed by list, a backslash, TAB, newline and carriage return
are written as \\, \t, \n and \r, and every other byte below 0x20 and the
byte 0x7f as \xHH with two lowercase hexadecimal digits, as are the bytes of
C1 controls, line separators and direction marks, and bytes that are no
UTF-8. Other bytes are printed as they are stored. Messages show stored
names the same way.

On a terminal, long steps show a progress line on standard error; an add of
several files shows one line over all of them ("Adding file 2,345 of 5,000,
640 MB of 1.4 GB, 0:42 left") once it has run for half a second. Messages
go to standard error, prefixed "quorvane-cli: ".

Exit status:
  0  success
  1  the operation failed (a file refused, unreadable or unwritable, a name
     skipped, the safe could not be written); an add that fails leaves the
     safe unchanged
  2  bad usage (unknown command or option, wrong arguments, an entry
     number the safe does not have, a --name that names no entry or
     several, no password to be had, an empty new
     password not allowed)
  3  the safe could not be opened: missing or unreadable (with the system's
     reason, before any password is asked), or "Invalid File or Password"
     (wrong password, not a safe, a sealed header out of bounds); a sealed
     safe changed or cut off after its first part is reported as damaged,
     with status 1
  4  add: every file was stored and the safe written, but an original was
     not erased (it changed meanwhile, or could not be deleted)
)";

constexpr std::size_t CommandColumn = 19; // where a command's description starts
constexpr std::size_t OptionColumn = 25;  // where an option's description starts

// The first line of text at indent, then every next one under it; a heading
// that leaves no room for a space before the column stands on a line of its own.
std::string paragraph(const std::string& heading, const std::vector<std::string_view>& lines,
                      std::size_t column) {
    std::string text = "  " + heading;
    std::size_t line = 0;
    if (text.size() < column && !lines.empty()) {
        text += std::string(column - text.size(), ' ');
        text += lines[line++];
    }
    text += '\n';
    for (; line < lines.size(); ++line)
        text += std::string(column, ' ') + std::string(lines[line]) + '\n';
    return text;
}

// "usage: quorvane-cli NAME    SYNOPSIS", the later lines with as many spaces
// in place of "usage: ", and a synopsis continued under its second word.
std::string usageLines(const CommandRow& row, bool& first) {
    std::string name(row.name);
    name.resize(8, ' ');
    std::string text;
    for (std::string_view synopsis : row.usage) {
        const std::string start =
            std::string(first ? "usage: " : "       ") + "quorvane-cli " + name;
        first = false;
        const std::size_t secondWord = start.size() + synopsis.find(' ') + 1;
        std::size_t from = 0;
        for (std::size_t end; (end = synopsis.find('\n', from)) != std::string_view::npos;
             from = end + 1) {
            text += (from == 0 ? start : std::string(secondWord, ' '));
            text += std::string(synopsis.substr(from, end - from)) + '\n';
        }
        text += (from == 0 ? start : std::string(secondWord, ' '));
        text += std::string(synopsis.substr(from)) + '\n';
    }
    return text;
}

// The options that stand for the whole run, joined by sep: "--help | --version".
std::string runOptions(const char* sep) {
    std::string text;
    for (const OptionRow& option : optionTable())
        if (std::holds_alternative<RunsCommand>(option.effect))
            text += (text.empty() ? "" : sep) + std::string(option.name);
    return text;
}

std::string commandParagraph(const CommandRow& row) {
    return paragraph(std::string(row.heading), row.description, CommandColumn);
}

std::string optionParagraphs() {
    std::string text;
    for (const OptionRow& option : optionTable()) {
        if (std::holds_alternative<RunsCommand>(option.effect))
            continue;
        std::string heading(option.name);
        if (!option.placeholder.empty())
            heading += " " + std::string(option.placeholder);
        text += paragraph(heading, option.description, OptionColumn);
    }
    return text + "  " + runOptions(", ") + '\n';
}

} // namespace

std::optional<std::string> commandHelp(const std::string& command) {
    const CommandRow* row = findCommand(command);
    if (row == nullptr)
        return std::nullopt;
    bool first = true;
    return usageLines(*row, first) + "\n" + commandParagraph(*row);
}

std::string helpText() {
    std::string text;
    bool first = true;
    for (const CommandRow& row : commandTable())
        text += usageLines(row, first);
    text += "       quorvane-cli " + runOptions(" | ") + "\n";
    text += Introduction;
    text += "Commands:\n";
    for (const CommandRow& row : commandTable())
        text += commandParagraph(row);
    text += "\nOptions (anywhere on the line; \"--\" ends them):\n";
    return text + optionParagraphs() + Closing;
}

std::string versionText() {
    return std::string("quorvane-cli ") + QUORVANE_VERSION + "\n";
}

} // namespace quorvane
