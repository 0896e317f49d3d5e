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

CliResult<std::string> askOnce(const std::optional<std::string>& file, const char* prompt) {
    if (typedFromStandardInput(file))
        return readStandardInputPassword(prompt);
    return file ? readPasswordFile(*file) : readTerminalPassword(prompt);
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
    const CliResult<std::string> answer = readTerminalAnswer(clitext::ConfirmEmptyPassword);
    if (!answer)
        return answer.failure();
    if (isYes(answer.value()))
        return std::nullopt;
    return CliFailure{ExitCode::BadUsage, clitext::EmptyPasswordNotConfirmed};
}

// From a file the password is taken as it stands; on a terminal (standard
// input included) it is typed twice, since a typing error there would lock
// the safe for good.
CliResult<std::string> askNew(const NewPassword& asked) {
    CliResult<std::string> given = askOnce(asked.file, asked.prompt);
    if (!given)
        return given;
    const std::string& password = given.value();
    if (password.empty() && !asked.allowEmpty) {
        if (auto failure = refuseEmpty(asked))
            return *failure;
        return password;
    }
    if (!typed(asked.file))
        return password;
    CliResult<std::string> repeated = askOnce(asked.file, asked.repeatPrompt);
    if (!repeated)
        return repeated;
    if (repeated.value() != password)
        return CliFailure{ExitCode::Failed, clitext::PasswordsDiffer};
    return password;
}

} // namespace

CliResult<CommandPasswords> acquirePasswords(const Invocation& invocation) {
    CommandPasswords passwords;
    if (invocation.command != CliCommand::Create) {
        const CliResult<std::string> current =
            askOnce(invocation.passwordFile, clitext::PasswordPrompt);
        if (!current)
            return current.failure();
        passwords.current = current.value();
    }
    std::optional<CliResult<std::string>> next;
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
