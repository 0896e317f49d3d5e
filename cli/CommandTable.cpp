#include "cli/CommandTable.h"

#include <algorithm>
#include <cstdint>

namespace quorvane {

namespace {

using C = CliCommand;
using W = WordKind;

// The order here is the order of the usage lines and of the help's list.
std::vector<CommandRow> makeCommands() {
    return {
        {"create",
         C::Create,
         {{W::Safe}},
         {"SAFE [--force] [--allow-empty-password] [--sealed]"},
         "create SAFE",
         {"write a new, empty safe; an existing file is refused",
          "unless --force is given; with --sealed it is sealed"}},
        {"list",
         C::List,
         {{W::Safe}},
         {"SAFE [--json]"},
         "list SAFE",
         {"one line per stored file: NUMBER, TAB, SIZE (bytes),",
          "TAB, NAME (in a sealed safe its path, \"Taxes/2025/a.pdf\");",
          "a folder of a sealed safe is a line \"-\", TAB, \"-\", TAB,",
          "its path and \"/\"; with --json one JSON document instead. A",
          "reader that stops early (| head) ends it quietly, with", "status 0"}},
        {"add",
         C::Add,
         {{W::Safe}, {W::File, Count::OneOrMore}},
         {"SAFE FILE... [--to FOLDER] [--erase-originals]\n[--update] [--quiet]"},
         "add SAFE FILE...",
         {"store the files in this order, as a drop on the window",
          "does; a FILE that is a folder stands for every regular",
          "file in it and below, in the order of their paths",
          "(links are not followed; links, other kinds of file and",
          "empty files are listed and left out); all or nothing:",
          "the first file that cannot be read or stored is named",
          "and ends the add, and the safe stays as it was. With",
          "--erase-originals each stored original is overwritten and",
          "deleted after the safe holding it has been written (and",
          "only if it has not changed since it was stored). A name",
          "keeps at most 50 bytes, cut between UTF-8 characters;",
          "a stored name that another entry has too is reported.",
          "In a plain safe a name longer than 50 bytes keeps its",
          "extension and loses the end of its stem. A sealed safe",
          "keeps a folder's tree under the folder's own name, with",
          "names of up to 255 bytes and the files' times; a plain",
          "safe keeps no folders and stores the files by name.",
          "With --update a FILE whose stored name one entry has",
          "already replaces that entry when their bytes differ and",
          "is left out when they are the same"}},
        {"extract",
         C::Extract,
         {{W::Safe}, {W::Folder}, {W::Entry, Count::Any}},
         {"SAFE DIR [NUMBER | PATH...] [--name NAME]...\n[--overwrite | --skip-existing | "
          "--keep-both]\n"
          "[--quiet]"},
         "extract SAFE DIR [NUMBER | PATH...]",
         {"write the entries given by NUMBER or --name (all when",
          "none is given) into DIR, which is made when it does not",
          "exist. A different file of an entry's name that was",
          "there before is replaced only with --overwrite, left as",
          "it is with --skip-existing, and kept beside the entry",
          "with --keep-both; without them the question is asked on",
          "the terminal, and where there is none both are kept and",
          "each such entry is reported. A file with the entry's",
          "bytes (also a numbered one an earlier run kept) is",
          "left as it is. A file this extraction wrote is never",
          "replaced: a later entry of the same name goes under",
          "\"NAME (2).EXT\" (the next free number), one line each;",
          "names that would lead outside DIR are skipped. A sealed",
          "safe's tree is made again below DIR, empty folders",
          "included, with the times and the owner's permission",
          "bits; a PATH that is a folder stands for everything", "in it"}},
        {"cat",
         C::Cat,
         {{W::Safe}, {W::Number}},
         {"SAFE {NUMBER | --name NAME}"},
         "cat SAFE NUMBER",
         {"write the entry's stored bytes to standard output (no",
          "file is written); the entry may be given by --name NAME",
          "instead of NUMBER. A reader that stops early (| head)",
          "ends it quietly, with status 0"}},
        {"rename",
         C::Rename,
         {{W::Safe}, {W::Number}, {W::Name}},
         {"SAFE NUMBER NEWNAME", "SAFE --name NAME NEWNAME"},
         "rename SAFE NUMBER NEWNAME",
         {"give an entry a new name (at most 49 bytes); the entry",
          "may be given by --name NAME instead of NUMBER. In a",
          "sealed safe NEWNAME is a path (parts of up to 255 bytes):",
          "the entry moves to another folder, and --name FOLDER",
          "moves a folder with everything in it. A name",
          "extracting could not write (empty, \".\", \"..\", with \"/\"",
          "or a control character) is refused with status 2"}},
        {"delete",
         C::Delete,
         {{W::Safe}, {W::Number, Count::OneOrMore}},
         {"SAFE {NUMBER | --name NAME}... [--recursive]"},
         "delete SAFE NUMBER...",
         {"remove the numbered entries (numbers as list shows them",
          "before the delete; one given twice counts once); later",
          "entries move up; one number the safe does not have",
          "refuses the whole delete; entries may be given by",
          "--name NAME as well. A folder of a sealed safe goes with",
          "everything in it: asked first at a terminal, and given", "--recursive elsewhere"}},
        {"mkdir",
         C::Mkdir,
         {{W::Safe}, {W::Path, Count::OneOrMore}},
         {"SAFE PATH..."},
         "mkdir SAFE PATH...",
         {"make the folders in a sealed safe, and those above them",
          "that are missing; a plain safe keeps no folders"}},
        {"passwd",
         C::Passwd,
         {{W::Safe}},
         {"SAFE [--new-password-file F]\n[--allow-empty-password]"},
         "passwd SAFE",
         {"encrypt the safe under a new password (a sealed safe gets", "a new salt with it)"}},
        {"seal",
         C::Seal,
         {{W::Safe}},
         {"SAFE"},
         "seal SAFE",
         {"write the safe sealed (asks for its password)"}},
        {"compact",
         C::Compact,
         {{W::Safe}},
         {"SAFE"},
         "compact SAFE",
         {"write a sealed safe anew without the space it no longer",
          "uses and put it in the safe's place, as a save does by",
          "itself once more than a quarter of the file is unused;",
          "a safe of the first sealed version is written in the",
          "second. A plain safe is written whole at every save and",
          "has no unused space: it is left as it is"}},
        {"info",
         C::Info,
         {{W::Safe}},
         {"SAFE [--json]"},
         "info SAFE",
         {"print the safe's format without asking for a password:",
          "\"format: plain\" and a note that the plain format has no",
          "signature (any file that is not sealed shows as plain),",
          "or \"format: sealed\" (\"format: sealed, version 2\" for",
          "the second sealed version) and a line",
          "\"kdf: argon2id passes=N memory=NKiB\"; with --json one", "JSON document"}},
        {"mount",
         C::Mount,
         {{W::Safe}, {W::Folder}},
         {"SAFE DIR [--read-only] [--idle DURATION]\n[--grace DURATION]"},
         "mount SAFE DIR",
         {"show the safe as the folder DIR (an empty folder) that",
          "any program can read and write, until Ctrl-C, SIGTERM",
          "or 'fusermount3 -u DIR'; then write the safe if it",
          "changed, as every command does. Meanwhile the safe is",
          "written by itself once no file in the folder has been",
          "written for 10 seconds (at most once a minute). One file",
          "per entry (a second entry of one name shows as \"NAME",
          "(2).EXT\"); a file written in the folder becomes an entry",
          "when it is closed. Names keep at most 50 bytes (longer:",
          "ENAMETOOLONG), no sub-folders (EPERM), the safe stays",
          "under 4 GiB (EFBIG). With --read-only, or for a safe that",
          "did not load cleanly, nothing can change (EROFS). Other",
          "programs may keep copies of what they open (temporary",
          "files, thumbnails, recent-file lists): see the manual.",
          "The safe is written and the folder closed by itself when",
          "the screen locks, before sleep, at log-out and shutdown,",
          "and after the idle time without use; files still open",
          "are waited for the grace time, then closed anyway. It",
          "says why and exits 0. DIR is left as an empty folder:",
          "what is written there afterwards is not encrypted"}},
        {"help",
         C::Help,
         {{W::Command, Count::Optional}},
         {"[COMMAND]"},
         "help [COMMAND]",
         {"print this text, or only COMMAND's usage and description"}},
    };
}

// Every command that opens a safe with a password.
std::vector<CliCommand> askingForPassword() {
    return {C::Create, C::List,   C::Add,  C::Extract, C::Cat,   C::Rename,
            C::Delete, C::Passwd, C::Seal, C::Compact, C::Mount, C::Mkdir};
}

// The order here is the order of the help's list of options.
std::vector<OptionRow> makeOptions() {
    return {
        {.name = "--password-file",
         .effect = OneValue{&Invocation::passwordFile},
         .commands = askingForPassword(),
         .placeholder = "F",
         .valueKind = W::File,
         .missingValue = "a file name",
         .refusal = " asks for no password",
         .description = {"read the password from the first line of F (\"-\":",
                         "standard input; at a terminal it is typed as at the",
                         "prompt); the line ending is not part of it.",
                         "For create this is the new safe's password."}},
        {.name = "--new-password-file",
         .effect = OneValue{&Invocation::newPasswordFile},
         .commands = {C::Passwd},
         .placeholder = "F",
         .valueKind = W::File,
         .missingValue = "a file name",
         .description = {"passwd: the new password, read the same way"}},
        {.name = "--force",
         .effect = Flag{&Invocation::force},
         .commands = {C::Create},
         .description = {"create: replace an existing file"}},
        {.name = "--sealed",
         .effect = Flag{&Invocation::sealed},
         .commands = {C::Create},
         .description = {"create: make a sealed safe"}},
        {.name = "--allow-empty-password",
         .effect = Flag{&Invocation::allowEmptyPassword},
         .commands = {C::Create, C::Passwd},
         .description = {"create, passwd: accept an empty new password from a",
                         "password file, and on the terminal without the", "[y/N] question"}},
        {.name = "--erase-originals",
         .effect = Flag{&Invocation::eraseOriginals},
         .commands = {C::Add},
         .description = {"add: erase each original after it is stored"}},
        {.name = "--to",
         .effect = OneValue{&Invocation::to},
         .commands = {C::Add},
         .placeholder = "FOLDER",
         .missingValue = "a folder of the safe",
         .description = {"add: store the files below FOLDER of a sealed safe",
                         "(made when missing)"}},
        {.name = "--recursive",
         .effect = Flag{&Invocation::recursive},
         .commands = {C::Delete},
         .description = {"delete: a folder goes with everything in it, unasked"}},
        {.name = "--update",
         .effect = Flag{&Invocation::update},
         .commands = {C::Add},
         .description = {"add: replace an entry of a FILE's stored name when",
                         "their bytes differ, leave the FILE out when they are",
                         "the same, and say how many were added, replaced and",
                         "unchanged. The plain format keeps no times, so the",
                         "sizes and then the bytes are compared, never times;",
                         "a name several entries have is added again"}},
        {.name = "--quiet",
         .effect = Flag{&Invocation::quiet},
         .commands = {C::Add, C::Extract},
         .description = {"add, extract: no line per file (a name cut or taken,",
                         "a file left out, an entry written under another",
                         "name); one line counts them instead"}},
        {.name = "--overwrite",
         .effect = Flag{&Invocation::overwrite},
         .commands = {C::Extract},
         .description = {"extract: replace a different file of an entry's name"}},
        {.name = "--skip-existing",
         .effect = Flag{&Invocation::skipExisting},
         .commands = {C::Extract},
         .description = {"extract: leave a different file of an entry's name",
                         "as it is, and the entry unwritten"}},
        {.name = "--keep-both",
         .effect = Flag{&Invocation::keepBoth},
         .commands = {C::Extract},
         .description = {"extract: write the entry beside a different file of",
                         "its name, under \"NAME (2).EXT\""}},
        {.name = "--read-only",
         .effect = Flag{&Invocation::readOnly},
         .commands = {C::Mount},
         .description = {"mount: a folder whose files cannot be changed"}},
        {.name = "--idle",
         .effect = OneValue{&Invocation::idle},
         .commands = {C::Mount},
         .placeholder = "DURATION",
         .missingValue = "a duration like 90s, 10m or off",
         .description = {"mount: close after this long without use (90s, 10m,",
                         "2h or off; the desktop program's preferences, else", "10m)"}},
        {.name = "--grace",
         .effect = OneValue{&Invocation::grace},
         .commands = {C::Mount},
         .placeholder = "DURATION",
         .missingValue = "a duration like 30s or 2m",
         .description = {"mount: how long files still open are waited for at",
                         "such a close (the preferences, else 30s)"}},
        {.name = "--json",
         .effect = Flag{&Invocation::json},
         .commands = {C::List, C::Info},
         .description = {"list, info: print one JSON document: list gives",
                         "{\"entries\":[{\"number\",\"name\",\"size\"}...]}, with",
                         "\"path\", \"kind\" (\"file\" or \"folder\", which has no",
                         "number) and \"modified\" (UTC, null where the plain",
                         "format keeps no times), and",
                         "\"name_hex\" (the stored bytes) where a name is not",
                         "UTF-8; info gives \"format\", \"signature\" and \"kdf\""}},
        {.name = "--name",
         .effect = RepeatedValue{&Invocation::names},
         .commands = {C::Extract, C::Cat, C::Rename, C::Delete},
         .placeholder = "NAME",
         .missingValue = "an entry name",
         .description = {"extract, cat, rename, delete: the entry stored",
                         "under NAME (exactly, byte for byte), where a NUMBER",
                         "is taken; may be given again for more entries. A",
                         "NAME that no entry has, or that several have, is", "refused"}},
        {.name = "--help", .alias = "-h", .effect = RunsCommand{C::Help}},
        {.name = "--version", .effect = RunsCommand{C::Version}, .onlyWithoutCommand = true},
    };
}

} // namespace

const std::vector<CommandRow>& commandTable() {
    static const std::vector<CommandRow> rows = makeCommands();
    return rows;
}

const std::vector<OptionRow>& optionTable() {
    static const std::vector<OptionRow> rows = makeOptions();
    return rows;
}

const CommandRow* findCommand(std::string_view name) {
    const auto& rows = commandTable();
    auto found = std::find_if(rows.begin(), rows.end(),
                              [&](const CommandRow& row) { return row.name == name; });
    return found == rows.end() ? nullptr : &*found;
}

const CommandRow& rowOf(CliCommand command) {
    const auto& rows = commandTable();
    return *std::find_if(rows.begin(), rows.end(),
                         [&](const CommandRow& row) { return row.command == command; });
}

bool takesValue(const OptionRow& option) {
    return std::holds_alternative<OneValue>(option.effect) ||
           std::holds_alternative<RepeatedValue>(option.effect);
}

bool belongsTo(const OptionRow& option, CliCommand command) {
    return std::holds_alternative<RunsCommand>(option.effect) ||
           std::find(option.commands.begin(), option.commands.end(), command) !=
               option.commands.end();
}

std::size_t fewestOperands(const CommandRow& row) {
    return static_cast<std::size_t>(
        std::count_if(row.operands.begin(), row.operands.end(), [](const Operand& operand) {
            return operand.count == Count::One || operand.count == Count::OneOrMore;
        }));
}

std::size_t mostOperands(const CommandRow& row) {
    const bool open = std::any_of(row.operands.begin(), row.operands.end(), [](const Operand& op) {
        return op.count == Count::Any || op.count == Count::OneOrMore;
    });
    return open ? SIZE_MAX : row.operands.size();
}

bool nameStandsForNumber(const CommandRow& row) {
    return std::any_of(row.operands.begin(), row.operands.end(), [](const Operand& operand) {
        const bool entry = operand.kind == WordKind::Number || operand.kind == WordKind::Entry;
        return entry && (operand.count == Count::One || operand.count == Count::OneOrMore);
    });
}

} // namespace quorvane
