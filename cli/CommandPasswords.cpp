#include "cli/CommandPasswords.h"

#include "cli/CliTexts.h"
#include "cli/PasswordInput.h"

namespace quorvane {

namespace {

bool askOnce(const std::optional<std::string>& file, const char* prompt, std::string& password,
             ExitCode& code, std::string& error) {
    const bool ok = file ? readPasswordFile(*file, password, error)
                         : readTerminalPassword(prompt, password, error);
    if (!ok)
        code = ExitCode::BadUsage;
    return ok;
}

// A password that makes a safe: from a file as it stands, on a terminal typed
// twice, since a typing error there would lock the safe for good.
bool askNew(const std::optional<std::string>& file, const char* prompt, const char* repeatPrompt,
            std::string& password, ExitCode& code, std::string& error) {
    if (!askOnce(file, prompt, password, code, error))
        return false;
    if (file)
        return true;
    std::string repeated;
    if (!askOnce(file, repeatPrompt, repeated, code, error))
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
        if (!askNew(invocation.passwordFile, clitext::PasswordPrompt, clitext::RepeatPasswordPrompt,
                    next, code, error))
            return false;
        passwords.next = next;
        return true;
    case CliCommand::Passwd:
        if (!askOnce(invocation.passwordFile, clitext::PasswordPrompt, passwords.current, code,
                     error) ||
            !askNew(invocation.newPasswordFile, clitext::NewPasswordPrompt,
                    clitext::RepeatNewPasswordPrompt, next, code, error))
            return false;
        passwords.next = next;
        return true;
    default:
        return askOnce(invocation.passwordFile, clitext::PasswordPrompt, passwords.current, code,
                       error);
    }
}

} // namespace quorvane
