#include "cli/CommandLine.h"

#include <charconv>
#include <map>

namespace quorvane {

namespace {

struct CommandShape {
    CliCommand command;
    std::size_t minOperands; // SAFE included
    std::size_t maxOperands; // SIZE_MAX: no upper bound
};

const std::map<std::string, CommandShape, std::less<>>& commandShapes() {
    static const std::map<std::string, CommandShape, std::less<>> shapes = {
        {"create", {CliCommand::Create, 1, 1}},  {"list", {CliCommand::List, 1, 1}},
        {"add", {CliCommand::Add, 2, SIZE_MAX}}, {"extract", {CliCommand::Extract, 2, SIZE_MAX}},
        {"rename", {CliCommand::Rename, 3, 3}},  {"delete", {CliCommand::Delete, 2, SIZE_MAX}},
        {"passwd", {CliCommand::Passwd, 1, 1}},  {"seal", {CliCommand::Seal, 1, 1}},
        {"info", {CliCommand::Info, 1, 1}},      {"help", {CliCommand::Help, 0, 1}},
        {"mount", {CliCommand::Mount, 2, 2}},
    };
    return shapes;
}

// What the scan of the arguments found before it is given a meaning.
struct RawArguments {
    std::vector<std::string> words; // the command and its operands, in order
    std::optional<std::string> passwordFile;
    std::optional<std::string> newPasswordFile;
    std::vector<std::string> names;
    bool force = false;
    bool sealed = false;
    bool allowEmptyPassword = false;
    bool eraseOriginals = false;
    bool readOnly = false;
    bool json = false;
    bool help = false;
    bool version = false;
};

ParsedCommandLine failure(std::string error) {
    ParsedCommandLine parsed;
    parsed.error = std::move(error);
    return parsed;
}

// The value of an option given as "--option VALUE" or "--option=VALUE".
bool takeValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
               std::string& given) {
    const std::string& arg = args[i];
    if (arg.size() > name.size() && arg[name.size()] == '=') {
        given = arg.substr(name.size() + 1);
    } else if (i + 1 < args.size()) {
        given = args[++i];
    } else {
        return false;
    }
    return true;
}

// Takes the value of a password file option, given at most once.
bool takeOptionValue(const std::vector<std::string>& args, std::size_t& i, const std::string& name,
                     std::optional<std::string>& value, std::string& error) {
    std::string given;
    if (!takeValue(args, i, name, given)) {
        error = name + " needs a file name";
        return false;
    }
    if (value) {
        error = name + " is given twice";
        return false;
    }
    if (given.empty()) {
        error = name + " needs a file name";
        return false;
    }
    value = given;
    return true;
}

bool isOption(const std::string& arg, const std::string& name) {
    return arg == name || (arg.rfind(name + "=", 0) == 0);
}

bool scanArguments(const std::vector<std::string>& args, RawArguments& raw, std::string& error) {
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            raw.words.push_back(arg);
        } else if (arg == "--") {
            optionsEnded = true;
        } else if (isOption(arg, "--password-file")) {
            if (!takeOptionValue(args, i, "--password-file", raw.passwordFile, error))
                return false;
        } else if (isOption(arg, "--new-password-file")) {
            if (!takeOptionValue(args, i, "--new-password-file", raw.newPasswordFile, error))
                return false;
        } else if (isOption(arg, "--name")) {
            // Any name may be asked for, the empty one too: stored names can be anything.
            if (!takeValue(args, i, "--name", raw.names.emplace_back())) {
                error = "--name needs an entry name";
                return false;
            }
        } else if (arg == "--force") {
            raw.force = true;
        } else if (arg == "--sealed") {
            raw.sealed = true;
        } else if (arg == "--allow-empty-password") {
            raw.allowEmptyPassword = true;
        } else if (arg == "--erase-originals") {
            raw.eraseOriginals = true;
        } else if (arg == "--read-only") {
            raw.readOnly = true;
        } else if (arg == "--json") {
            raw.json = true;
        } else if (arg == "--help" || arg == "-h") {
            raw.help = true;
        } else if (arg == "--version") {
            raw.version = true;
        } else {
            error = "unknown option " + arg;
            return false;
        }
    }
    return true;
}

// Entry numbers as the list prints them: plain decimal, no sign.
bool parseNumber(const std::string& text, int& number) {
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return false;
    const char* end = text.data() + text.size();
    auto [last, code] = std::from_chars(text.data(), end, number);
    return code == std::errc() && last == end;
}

bool parseNumbers(const std::vector<std::string>& words, std::size_t from, std::vector<int>& out,
                  std::string& error) {
    for (std::size_t i = from; i < words.size(); ++i) {
        int number = 0;
        if (!parseNumber(words[i], number)) {
            error = "not an entry number: " + words[i];
            return false;
        }
        out.push_back(number);
    }
    return true;
}

bool checkOptionsFit(const RawArguments& raw, CliCommand command, std::string& error) {
    if (raw.force && command != CliCommand::Create)
        error = "--force belongs to create";
    else if (raw.sealed && command != CliCommand::Create)
        error = "--sealed belongs to create";
    else if (raw.allowEmptyPassword && command != CliCommand::Create &&
             command != CliCommand::Passwd)
        error = "--allow-empty-password belongs to create and passwd";
    else if (raw.eraseOriginals && command != CliCommand::Add)
        error = "--erase-originals belongs to add";
    else if (raw.readOnly && command != CliCommand::Mount)
        error = "--read-only belongs to mount";
    else if (raw.json && command != CliCommand::List && command != CliCommand::Info)
        error = "--json belongs to list and info";
    else if (!raw.names.empty() && command != CliCommand::Extract &&
             command != CliCommand::Rename && command != CliCommand::Delete)
        error = "--name belongs to extract, rename and delete";
    else if (raw.newPasswordFile && command != CliCommand::Passwd)
        error = "--new-password-file belongs to passwd";
    else if (raw.passwordFile && command == CliCommand::Info)
        error = "info asks for no password";
    else if (raw.passwordFile && command == CliCommand::Help)
        error = "help asks for no password";
    else if (raw.passwordFile && raw.newPasswordFile && *raw.passwordFile == "-" &&
             *raw.newPasswordFile == "-")
        error = "standard input can give only one password";
    return error.empty();
}

bool fillOperands(const RawArguments& raw, Invocation& invocation, std::string& error) {
    const auto& words = raw.words;
    if (invocation.command == CliCommand::Help) {
        if (words.size() > 1 && commandShapes().count(words[1]) == 0) {
            error = "help: unknown command " + words[1];
            return false;
        }
        invocation.helpTopic = words.size() > 1 ? words[1] : "";
        return true;
    }
    invocation.safePath = words[1];
    switch (invocation.command) {
    case CliCommand::Add:
        invocation.files.assign(words.begin() + 2, words.end());
        return true;
    case CliCommand::Extract:
        invocation.folder = words[2];
        return parseNumbers(words, 3, invocation.numbers, error);
    case CliCommand::Mount:
        invocation.folder = words[2];
        return true;
    case CliCommand::Rename:
        // One entry: a NUMBER before NEWNAME, or one --name.
        if (raw.names.size() + words.size() - 3 != 1) {
            error = "rename: give one entry, by NUMBER or by --name";
            return false;
        }
        invocation.newName = words.back();
        return parseNumbers({words.begin(), words.end() - 1}, 2, invocation.numbers, error);
    case CliCommand::Delete:
        return parseNumbers(words, 2, invocation.numbers, error);
    default:
        return true;
    }
}

} // namespace

ParsedCommandLine parseCommandLine(const std::vector<std::string>& args) {
    RawArguments raw;
    std::string error;
    if (!scanArguments(args, raw, error))
        return failure(error);

    ParsedCommandLine parsed;
    Invocation& invocation = parsed.invocation;
    if (raw.help || raw.version) {
        invocation.command = raw.help ? CliCommand::Help : CliCommand::Version;
        parsed.ok = true;
        return parsed;
    }
    if (raw.words.empty())
        return failure("no command given");

    auto shape = commandShapes().find(raw.words[0]);
    if (shape == commandShapes().end())
        return failure("unknown command " + raw.words[0]);
    invocation.command = shape->second.command;
    const std::size_t operands = raw.words.size() - 1;
    // An entry named with --name stands for its NUMBER.
    const bool named = !raw.names.empty() && (invocation.command == CliCommand::Rename ||
                                              invocation.command == CliCommand::Delete);
    if (operands + (named ? 1 : 0) < shape->second.minOperands)
        return failure(raw.words[0] + ": too few arguments");
    if (operands > shape->second.maxOperands)
        return failure(raw.words[0] + ": too many arguments");
    if (!checkOptionsFit(raw, invocation.command, error) || !fillOperands(raw, invocation, error))
        return failure(error);

    invocation.passwordFile = raw.passwordFile;
    invocation.newPasswordFile = raw.newPasswordFile;
    invocation.force = raw.force;
    invocation.sealed = raw.sealed;
    invocation.allowEmptyPassword = raw.allowEmptyPassword;
    invocation.eraseOriginals = raw.eraseOriginals;
    invocation.readOnly = raw.readOnly;
    invocation.json = raw.json;
    invocation.names = raw.names;
    parsed.ok = true;
    return parsed;
}

} // namespace quorvane
