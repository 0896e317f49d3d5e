#include "cli/CompletionScript.h"

#include "cli/CommandTable.h"

#include <map>
#include <variant>

namespace quorvane {

namespace {

// What completion offers for a word of this kind; nothing for numbers and names,
// which only the safe (and its password) could tell.
std::string offerFor(WordKind kind) {
    switch (kind) {
    case WordKind::Safe:
        return "safes";
    case WordKind::File:
        return "files";
    case WordKind::Folder:
        return "folders";
    case WordKind::Command:
        return "commands";
    default:
        return "";
    }
}

std::string joined(const std::vector<std::string>& words, const std::string& separator) {
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : separator) + word;
    return text;
}

// One case arm per distinct answer, the commands that share it together.
std::string caseArms(const std::vector<std::pair<std::string, std::string>>& answers) {
    std::vector<std::pair<std::string, std::vector<std::string>>> arms;
    for (const auto& [command, answer] : answers) {
        auto arm = arms.begin();
        while (arm != arms.end() && arm->first != answer)
            ++arm;
        if (arm == arms.end())
            arm = arms.insert(arms.end(), {answer, {}});
        arm->second.push_back(command);
    }
    std::string text;
    for (const auto& [answer, commands] : arms)
        text += "        " + joined(commands, " | ") + ")" + (answer.empty() ? "" : " " + answer) +
                " ;;\n";
    return text;
}

std::string optionsFunction() {
    std::vector<std::pair<std::string, std::string>> answers;
    std::vector<std::string> alone;
    std::vector<std::string> everywhere;
    for (const OptionRow& option : optionTable()) {
        if (!std::holds_alternative<RunsCommand>(option.effect))
            continue;
        (option.onlyWithoutCommand ? alone : everywhere).emplace_back(option.name);
    }
    for (const CommandRow& row : commandTable()) {
        std::vector<std::string> names;
        for (const OptionRow& option : optionTable())
            if (!std::holds_alternative<RunsCommand>(option.effect) &&
                belongsTo(option, row.command))
                names.emplace_back(option.name);
        answers.emplace_back(row.name, names.empty() ? "" : "echo " + joined(names, " "));
    }
    answers.emplace_back("*", "echo " + joined(alone, " "));
    return "_quorvane_cli_options() {\n    case $1 in\n" + caseArms(answers) + "    esac\n" +
           "    echo " + joined(everywhere, " ") + "\n}\n";
}

// Echoes what operand $2 (from 0) of command $1 is: safes, files, folders,
// commands, or nothing.
std::string operandFunction() {
    std::vector<std::pair<std::string, std::string>> answers;
    for (const CommandRow& row : commandTable()) {
        std::vector<std::string> kinds;
        std::string more;
        for (const Operand& operand : row.operands) {
            if (operand.count == Count::Any || operand.count == Count::OneOrMore)
                more = offerFor(operand.kind);
            else
                kinds.push_back(offerFor(operand.kind));
        }
        while (!kinds.empty() && kinds.back().empty() && more.empty())
            kinds.pop_back();
        std::string quoted;
        for (const std::string& kind : kinds)
            quoted += (quoted.empty() ? "" : " ") + (kind.empty() ? "\"\"" : kind);
        answers.emplace_back(row.name,
                             "kinds=(" + quoted + ")" + (more.empty() ? "" : " more=" + more));
    }
    return "# Echoes what operand $2 (from 0) of command $1 is: safes, files, folders,\n"
           "# commands, or nothing (numbers and names).\n"
           "_quorvane_cli_operand() {\n    local -a kinds\n    local more=\"\"\n"
           "    case $1 in\n" +
           caseArms(answers) +
           "    esac\n"
           "    if (($2 < ${#kinds[@]})); then echo \"${kinds[$2]}\"; else echo \"$more\"; fi\n"
           "}\n";
}

std::string valuedOptions(WordKind kind, bool ofKind) {
    std::vector<std::string> names;
    for (const OptionRow& option : optionTable())
        if (takesValue(option) && (!ofKind || option.valueKind == kind))
            names.emplace_back(option.name);
    return joined(names, " | ");
}

std::string commandWords() {
    std::vector<std::string> names;
    for (const CommandRow& row : commandTable())
        names.emplace_back(row.name);
    return joined(names, " ");
}

constexpr const char* Header =
    R"bash(# Bash completion for quorvane-cli: the commands, the options each command
# takes (the tool refuses the others), safes (*.cx) where a SAFE goes, and
# files or folders where the command wants them. Entry numbers and names are
# not offered: reading them would need the safe's password.
#
# Written at build time from the tool's table of commands and options
# (cli/CommandTable.cpp); change that table, not this file.

)bash";

constexpr const char* PathsFunction = R"bash(
# Adds completions of $2 to COMPREPLY: "safes" (*.cx and the folders on the
# way to them), "folders", or "files".
_quorvane_cli_paths() {
    local kind=$1 cur=$2 IFS=$'\n'
    compopt -o filenames 2>/dev/null
    case $kind in
        safes) COMPREPLY+=($(compgen -d -- "$cur") $(compgen -f -X '!*.cx' -- "$cur")) ;;
        folders) COMPREPLY+=($(compgen -d -- "$cur")) ;;
        files) COMPREPLY+=($(compgen -f -- "$cur")) ;;
    esac
}
)bash";

std::string mainFunction() {
    std::map<std::string, std::string> fill = {
        {"@FILE_OPTIONS@", valuedOptions(WordKind::File, true)},
        {"@VALUED_OPTIONS@", valuedOptions(WordKind::File, false)},
        {"@COMMANDS@", commandWords()},
    };
    std::string text = R"bash(
_quorvane_cli() {
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD - 1]}
    COMPREPLY=()

    # "--password-file=F" reaches here as three words when "=" breaks words.
    if [[ $cur == = ]]; then
        cur=""
    elif [[ $prev == = ]] && ((COMP_CWORD >= 2)); then
        prev=${COMP_WORDS[COMP_CWORD - 2]}
    fi
    case $prev in
        @FILE_OPTIONS@)
            _quorvane_cli_paths files "$cur"
            return
            ;;
        @VALUED_OPTIONS@) return ;;
    esac

    # The words before the cursor, read as the tool reads them: options
    # anywhere until "--", an option's value after it, the rest in order.
    local i word command="" operands=0 ended=""
    for ((i = 1; i < COMP_CWORD; i++)); do
        word=${COMP_WORDS[i]}
        if [[ -z $ended && $word == -?* ]]; then
            case $word in
                --) ended=1 ;;
                @VALUED_OPTIONS@)
                    ((i++))
                    [[ ${COMP_WORDS[i]} == = ]] && ((i++))
                    ;;
            esac
        elif [[ -z $command ]]; then
            command=$word
        else
            ((operands++))
        fi
    done

    if [[ -z $ended && $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$(_quorvane_cli_options "$command")" -- "$cur"))
        return
    fi
    local commands="@COMMANDS@"
    local kind=commands
    [[ -n $command ]] && kind=$(_quorvane_cli_operand "$command" "$operands")
    case $kind in
        commands) COMPREPLY=($(compgen -W "$commands" -- "$cur")) ;;
        safes | files | folders) _quorvane_cli_paths "$kind" "$cur" ;;
    esac
}

complete -F _quorvane_cli quorvane-cli
)bash";
    for (const auto& [mark, value] : fill)
        for (std::size_t at; (at = text.find(mark)) != std::string::npos;)
            text.replace(at, mark.size(), value);
    return text;
}

} // namespace

std::string bashCompletionScript() {
    return Header + optionsFunction() + "\n" + operandFunction() + PathsFunction + mainFunction();
}

} // namespace quorvane
