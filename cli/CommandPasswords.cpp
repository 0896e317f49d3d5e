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

bool askOnce(const std::optional<std::string>& file, const char* prompt, std::string& password,
             ExitCode& code, std::string& error) {
    const bool ok = typedFromStandardInput(file)
                        ? readStandardInputPassword(prompt, password, error)
                    : file ? readPasswordFile(*file, password, error)
                           : readTerminalPassword(prompt, password, error);
    if (!ok)
        code = ExitCode::BadUsage;
    return ok;
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

bool refuseEmpty(const NewPassword& asked, ExitCode& code, std::string& error) {
    std::string answer;
    if (!typed(asked.file)) {
        error = clitext::emptyPasswordRefused(asked.option);
    } else if (readTerminalAnswer(clitext::ConfirmEmptyPassword, answer, error)) {
        if (isYes(answer))
            return true;
        error = clitext::EmptyPasswordNotConfirmed;
    }
    code = ExitCode::BadUsage;
    return false;
}

// From a file the password is taken as it stands; on a terminal (standard
// input included) it is typed twice, since a typing error there would lock
// the safe for good.
bool askNew(const NewPassword& asked, std::string& password, ExitCode& code, std::string& error) {
    if (!askOnce(asked.file, asked.prompt, password, code, error))
        return false;
    if (password.empty() && !asked.allowEmpty)
        return refuseEmpty(asked, code, error);
    if (!typed(asked.file))
        return true;
    std::string repeated;
    if (!askOnce(asked.file, asked.repeatPrompt, repeated, code, error))
        return false;
    if (repeated != password) {
        error = clitext::PasswordsDiffer;
        code = ExitCode::Failed;
        return false;
    }
    return true;
}

} // namespace

bool acquirePasswords(const Invocation& invocation, CommandPasswords& passwords, ExitCode& code,
                      std::string& error) {
    std::string next;
    switch (invocation.command) {
    case CliCommand::Create:
        if (!askNew({invocation.passwordFile, "--password-file", clitext::PasswordPrompt,
                     clitext::RepeatPasswordPrompt, invocation.allowEmptyPassword},
                    next, code, error))
            return false;
        passwords.next = next;
        return true;
    case CliCommand::Passwd:
        if (!askOnce(invocation.passwordFile, clitext::PasswordPrompt, passwords.current, code,
                     error) ||
            !askNew({invocation.newPasswordFile, "--new-password-file", clitext::NewPasswordPrompt,
                     clitext::RepeatNewPasswordPrompt, invocation.allowEmptyPassword},
                    next, code, error))
            return false;
        passwords.next = next;
        return true;
    default:
        return askOnce(invocation.passwordFile, clitext::PasswordPrompt, passwords.current, code,
                       error);
    }
}

} // namespace quorvane
