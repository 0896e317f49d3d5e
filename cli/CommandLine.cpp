#include "cli/CommandLine.h"

#include "cli/CommandTable.h"
#include "watch/CloseSettings.h"

#include <charconv>
#include <cstdint>
#include <optional>

namespace quorvane {

namespace {

// What the scan of the arguments found before it is given a meaning.
struct ScannedArguments {
    std::vector<std::string> words; // the command and its operands, in order
    std::vector<const OptionRow*> given;
    Invocation options; // the options' effects on an invocation
};

CliFailure usage(std::string message) {
    return {ExitCode::BadUsage, std::move(message)};
}

// The row whose option arg is: "--name", its alias, or "--name=VALUE" for an
// option that takes a value.
const OptionRow* optionOf(const std::string& arg) {
    for (const OptionRow& option : optionTable()) {
        if (arg == option.name || (!option.alias.empty() && arg == option.alias))
            return &option;
        if (takesValue(option) && arg.size() > option.name.size() &&
            arg.compare(0, option.name.size(), option.name) == 0 && arg[option.name.size()] == '=')
            return &option;
    }
    return nullptr;
}

std::optional<CliFailure> takeValue(const OptionRow& option, const std::vector<std::string>& args,
                                    std::size_t& i, Invocation& into) {
    const std::string name(option.name);
    std::string value;
    if (args[i].size() > name.size())
        value = args[i].substr(name.size() + 1);
    else if (i + 1 < args.size())
        value = args[++i];
    else
        return usage(name + " needs " + std::string(option.missingValue));
    if (const auto* repeated = std::get_if<RepeatedValue>(&option.effect)) {
        // Any value may be asked for, the empty one too: stored names can be anything.
        (into.*repeated->field).push_back(value);
        return std::nullopt;
    }
    auto& field = into.*std::get<OneValue>(option.effect).field;
    if (field)
        return usage(name + " is given twice");
    if (value.empty())
        return usage(name + " needs " + std::string(option.missingValue));
    field = value;
    return std::nullopt;
}

CliResult<ScannedArguments> scanArguments(const std::vector<std::string>& args) {
    ScannedArguments scanned;
    bool optionsEnded = false;
    for (std::size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            scanned.words.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        const OptionRow* option = optionOf(arg);
        if (option == nullptr)
            return usage("unknown option " + arg);
        scanned.given.push_back(option);
        if (const auto* flag = std::get_if<Flag>(&option->effect))
            scanned.options.*flag->field = true;
        else if (takesValue(*option))
            if (auto failure = takeValue(*option, args, i, scanned.options))
                return *failure;
    }
    return scanned;
}

bool wasGiven(const ScannedArguments& scanned, const OptionRow& option) {
    for (const OptionRow* given : scanned.given)
        if (given == &option)
            return true;
    return false;
}

// "create", "create and passwd", "extract, rename and delete".
std::string commandNames(const std::vector<CliCommand>& commands) {
    std::string names;
    for (std::size_t i = 0; i < commands.size(); ++i) {
        names += i == 0 ? "" : i + 1 == commands.size() ? " and " : ", ";
        names += rowOf(commands[i]).name;
    }
    return names;
}

// Reported in the order the tool has always reported them: the flags first,
// then the options with a value, the later ones in the table first.
std::optional<CliFailure> checkOptionsFit(const ScannedArguments& scanned, const CommandRow& row) {
    std::vector<const OptionRow*> order;
    for (const OptionRow& option : optionTable())
        if (std::holds_alternative<Flag>(option.effect))
            order.push_back(&option);
    for (auto option = optionTable().rbegin(); option != optionTable().rend(); ++option)
        if (takesValue(*option))
            order.push_back(&*option);
    for (const OptionRow* option : order) {
        if (!wasGiven(scanned, *option) || belongsTo(*option, row.command))
            continue;
        if (!option->refusal.empty())
            return usage(std::string(row.name) + std::string(option->refusal));
        return usage(std::string(option->name) + " belongs to " + commandNames(option->commands));
    }
    const Invocation& options = scanned.options;
    if (options.passwordFile && options.newPasswordFile && *options.passwordFile == "-" &&
        *options.newPasswordFile == "-")
        return usage("standard input can give only one password");
    if ((options.overwrite ? 1 : 0) + (options.skipExisting ? 1 : 0) + (options.keepBoth ? 1 : 0) >
        1)
        return usage("--overwrite, --skip-existing and --keep-both exclude each other");
    std::optional<std::chrono::milliseconds> duration;
    if (options.idle && !parseDuration(*options.idle, duration))
        return usage("--idle needs a duration like 90s, 10m or off");
    // A close always ends: the grace time cannot be "off".
    if (options.grace && (!parseDuration(*options.grace, duration) || !duration))
        return usage("--grace needs a duration like 30s or 2m");
    return std::nullopt;
}

// Entry numbers as the list prints them: plain decimal, no sign.
std::optional<CliFailure> parseNumber(const std::string& text, std::vector<int>& numbers) {
    int number = 0;
    const char* end = text.data() + text.size();
    if (text.empty() || text[0] < '0' || text[0] > '9')
        return usage("not an entry number: " + text);
    auto [last, code] = std::from_chars(text.data(), end, number);
    if (code != std::errc() || last != end)
        return usage("not an entry number: " + text);
    numbers.push_back(number);
    return std::nullopt;
}

std::optional<CliFailure> takeOperand(WordKind kind, const std::string& word, Invocation& into) {
    switch (kind) {
    case WordKind::Safe:
        into.safePath = word;
        return std::nullopt;
    case WordKind::File:
        into.files.push_back(word);
        return std::nullopt;
    case WordKind::Folder:
        into.folder = word;
        return std::nullopt;
    case WordKind::Number:
        return parseNumber(word, into.numbers);
    case WordKind::Name:
        into.newName = word;
        return std::nullopt;
    case WordKind::Entry:
        // Digits are a NUMBER, as they always were; a folder named "2025" is given by --name.
        if (!word.empty() && word.find_first_not_of("0123456789") == std::string::npos)
            return parseNumber(word, into.numbers);
        into.paths.push_back(word);
        return std::nullopt;
    case WordKind::Path:
        into.paths.push_back(word);
        return std::nullopt;
    case WordKind::Command:
        if (findCommand(word) == nullptr)
            return usage("help: unknown command " + word);
        into.helpTopic = word;
        return std::nullopt;
    }
    return std::nullopt;
}

bool isOneEntry(const Operand& operand) {
    return operand.kind == WordKind::Number && operand.count == Count::One;
}

// Hands the operands to the command's slots in order; a slot of several words
// takes what the slots after it leave. Where one entry is wanted (rename), it
// is given either by NUMBER or by one --name, and then the NUMBER slot is empty.
std::optional<CliFailure> fillOperands(const CommandRow& row, const std::vector<std::string>& words,
                                       Invocation& into) {
    const std::size_t operands = words.size() - 1;
    std::size_t others = 0; // the words that are not the one entry's NUMBER
    for (const Operand& operand : row.operands)
        others += operand.count == Count::One && !isOneEntry(operand) ? 1 : 0;
    const std::size_t numberWords = operands > others ? operands - others : 0;
    for (const Operand& operand : row.operands)
        if (isOneEntry(operand) && into.names.size() + numberWords != 1)
            return usage(std::string(row.name) + ": give one entry, by NUMBER or by --name");

    std::size_t next = 1;
    for (std::size_t slot = 0; slot < row.operands.size(); ++slot) {
        const Operand& operand = row.operands[slot];
        std::size_t after = 0;
        for (std::size_t later = slot + 1; later < row.operands.size(); ++later)
            after += row.operands[later].count == Count::One ? 1 : 0;
        const std::size_t remaining = words.size() - next;
        std::size_t take = 1;
        if (operand.count == Count::Any || operand.count == Count::OneOrMore)
            take = remaining > after ? remaining - after : 0;
        else if (operand.count == Count::Optional || isOneEntry(operand))
            take = remaining > after ? 1 : 0;
        for (; take > 0; --take, ++next)
            if (auto failure = takeOperand(operand.kind, words[next], into))
                return failure;
    }
    return std::nullopt;
}

// --help and --version stand for the whole run, wherever they are; help first.
std::optional<CliCommand> commandOfOptions(const ScannedArguments& scanned) {
    for (const OptionRow& option : optionTable())
        if (const auto* runs = std::get_if<RunsCommand>(&option.effect))
            if (wasGiven(scanned, option))
                return runs->command;
    return std::nullopt;
}

} // namespace

CliResult<Invocation> parseCommandLine(const std::vector<std::string>& args) {
    CliResult<ScannedArguments> scan = scanArguments(args);
    if (!scan)
        return scan.failure();
    const ScannedArguments& scanned = scan.value();
    Invocation invocation;
    if (const auto command = commandOfOptions(scanned)) {
        invocation.command = *command;
        return invocation;
    }
    const auto& words = scanned.words;
    if (words.empty())
        return usage("no command given");
    const CommandRow* row = findCommand(words[0]);
    if (row == nullptr)
        return usage("unknown command " + words[0]);

    invocation = scanned.options;
    invocation.command = row->command;
    const std::size_t operands = words.size() - 1;
    // An entry named with --name stands for its NUMBER.
    const bool named = !invocation.names.empty() && nameStandsForNumber(*row);
    if (operands + (named ? 1 : 0) < fewestOperands(*row))
        return usage(words[0] + ": too few arguments");
    if (operands > mostOperands(*row))
        return usage(words[0] + ": too many arguments");
    if (auto failure = checkOptionsFit(scanned, *row))
        return *failure;
    if (auto failure = fillOperands(*row, words, invocation))
        return *failure;
    return invocation;
}

} // namespace quorvane
