#include "cli/CommandPasswords.h"

#include "cli/CliTexts.h"
#include "cli/PasswordInput.h"

#include <algorithm>
#include <cctype>

namespace quorvane {

namespace {

// Standard input named as the password file may be the terminal itself: what
// is typed there is asked for and read as at the prompt, never echoed.
bool typedFromStandardInput(const std::optional<std::string>& file) {
    return file && *file == "-" && standardInputIsTerminal();
}

// No file, or standard input at a terminal: someone types the password.
bool typed(const std::optional<std::string>& file) {
    return !file || typedFromStandardInput(file);
}

// A password source that cannot be read is a usage error: the command line
// named it, or there is no terminal to ask.
std::optional<CliFailure> askOnce(const std::optional<std::string>& file, const char* prompt,
                                  std::string& password) {
    std::string error;
    const bool ok = typedFromStandardInput(file)
                        ? readStandardInputPassword(prompt, password, error)
                    : file ? readPasswordFile(*file, password, error)
                           : readTerminalPassword(prompt, password, error);
    if (!ok)
        return CliFailure{ExitCode::BadUsage, error};
    return std::nullopt;
}

bool isYes(std::string answer) {
    std::transform(answer.begin(), answer.end(), answer.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    return answer == "y" || answer == "yes";
}

// A password that makes a safe. A safe under the empty password opens for
// anyone who just presses Enter, and an empty file or an Enter pressed too
// early is an easy way to get one unawares: from a file it takes
// --allow-empty-password, and on a terminal a Yes in place of the repeat.
struct NewPassword {
    const std::optional<std::string>& file;
    const char* option; // the option that names file
    const char* prompt;
    const char* repeatPrompt;
    bool allowEmpty;
};

std::optional<CliFailure> refuseEmpty(const NewPassword& asked) {
    if (!typed(asked.file))
        return CliFailure{ExitCode::BadUsage, clitext::emptyPasswordRefused(asked.option)};
    std::string answer;
    std::string error;
    if (!readTerminalAnswer(clitext::ConfirmEmptyPassword, answer, error))
        return CliFailure{ExitCode::BadUsage, error};
    if (isYes(answer))
        return std::nullopt;
    return CliFailure{ExitCode::BadUsage, clitext::EmptyPasswordNotConfirmed};
}

// From a file the password is taken as it stands; on a terminal (standard
// input included) it is typed twice, since a typing error there would lock
// the safe for good.
CliOutcome<std::string> askNew(const NewPassword& asked) {
    std::string password;
    if (auto failure = askOnce(asked.file, asked.prompt, password))
        return *failure;
    if (password.empty() && !asked.allowEmpty) {
        if (auto failure = refuseEmpty(asked))
            return *failure;
        return password;
    }
    if (!typed(asked.file))
        return password;
    std::string repeated;
    if (auto failure = askOnce(asked.file, asked.repeatPrompt, repeated))
        return *failure;
    if (repeated != password)
        return CliFailure{ExitCode::Failed, clitext::PasswordsDiffer};
    return password;
}

} // namespace

CliOutcome<CommandPasswords> acquirePasswords(const Invocation& invocation) {
    CommandPasswords passwords;
    if (invocation.command != CliCommand::Create)
        if (auto failure =
                askOnce(invocation.passwordFile, clitext::PasswordPrompt, passwords.current))
            return *failure;
    std::optional<CliOutcome<std::string>> next;
    if (invocation.command == CliCommand::Create)
        next = askNew({invocation.passwordFile, "--password-file", clitext::PasswordPrompt,
                       clitext::RepeatPasswordPrompt, invocation.allowEmptyPassword});
    else if (invocation.command == CliCommand::Passwd)
        next =
            askNew({invocation.newPasswordFile, "--new-password-file", clitext::NewPasswordPrompt,
                    clitext::RepeatNewPasswordPrompt, invocation.allowEmptyPassword});
    if (next && !*next)
        return next->failure();
    if (next)
        passwords.next = next->value();
    return passwords;
}

} // namespace quorvane
