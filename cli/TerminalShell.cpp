#include "cli/TerminalShell.h"

#include "cli/CliTexts.h"
#include "cli/PasswordInput.h"

namespace quorvane {

TerminalShell::TerminalShell(TerminalAnswers answers, std::ostream& errors, bool progressOnTerminal)
    : Shell(*this, *this, *this, *this), answers_(std::move(answers)), errors_(errors),
      progressOnTerminal_(progressOnTerminal), progress_(errors) {}

void TerminalShell::showMessage(const std::string& text, const std::string& /*caption*/,
                                MessageIcon icon) {
    if (icon == MessageIcon::Error) {
        errorShown_ = true;
        errorTexts_.push_back(text);
    } else if (holding_) {
        heldNotices_.push_back(text);
        return;
    } else if (short_ && text.find('\n') != std::string::npos) {
        std::string first = text.substr(0, text.find('\n'));
        if (first.ends_with(':'))
            first.pop_back();
        print(first);
        return;
    }
    print(text);
}

void TerminalShell::releaseNotices(bool show) {
    holding_ = false;
    for (const std::string& text : heldNotices_)
        if (show)
            print(text);
    heldNotices_.clear();
}

void TerminalShell::print(const std::string& text) {
    progress_.finish();
    // A box may hold several lines; each gets the prefix, so that every line
    // on standard error says where it comes from.
    std::size_t start = 0;
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1)
        errors_ << clitext::MessagePrefix << text.substr(start, end - start) << '\n';
    errors_ << clitext::MessagePrefix << text.substr(start) << '\n' << std::flush;
}

// The commands ask nothing of the operations' questions: an erase of the
// originals is the add command's own step, after the safe is written. Any
// question (such as closing without saving) gets the answer that keeps data.
bool TerminalShell::askYesNo(const std::string& /*text*/, const std::string& /*caption*/) {
    return answers_.yes;
}

// As the command line says, else asked on the terminal; where there is none
// (a script, a cron job), or it gives no answer, both files are kept: the
// one answer that destroys nothing.
ExistingFileAnswer TerminalShell::askExistingFile(const std::string& path) {
    if (answers_.existingFile)
        return {*answers_.existingFile, true};
    progress_.finish();
    const std::string question = clitext::existingFileQuestion(path);
    for (CliResult<std::string> given = readTerminalAnswer(question.c_str()); given;
         given = readTerminalAnswer(question.c_str())) {
        const std::string& answer = given.value();
        if (answer.empty()) // Enter, or the end of the terminal's input
            break;
        if (answer.size() != 1)
            continue;
        const char typed = answer[0];
        const bool forAll = typed >= 'A' && typed <= 'Z';
        switch (forAll ? static_cast<char>(typed - 'A' + 'a') : typed) {
        case 'r':
            return {ExistingFileChoice::Replace, forAll};
        case 's':
            return {ExistingFileChoice::Skip, forAll};
        case 'k':
            return {ExistingFileChoice::KeepBoth, forAll};
        default:
            break;
        }
    }
    return {ExistingFileChoice::KeepBoth, false};
}

bool TerminalShell::pickSafeToOpen(std::string& path) {
    path = answers_.safePath;
    return !path.empty();
}

bool TerminalShell::pickNewSafe(std::string& path) {
    path = answers_.safePath;
    return !path.empty();
}

// The files to add come as a drop, never through this picker.
bool TerminalShell::pickFileToAdd(std::string& /*path*/) {
    return false;
}

bool TerminalShell::ChooseFolder(std::string& path, const std::string& /*title*/) {
    path = answers_.folder;
    return !path.empty();
}

void TerminalShell::ShowProgress(const std::string& text) {
    progress_.start(text);
}

void TerminalShell::HideProgress() {
    // Within an add of several files the line stays for the next one.
    if (!progress_.inBatch())
        progress_.finish();
}

void TerminalShell::startAddBatch(std::uint64_t count, std::uint64_t totalBytes) {
    if (progressOnTerminal_)
        progress_.startBatch(count, totalBytes);
}

void TerminalShell::startAddBatchFile(std::uint64_t number, std::uint64_t size) {
    if (progress_.inBatch())
        progress_.startBatchFile(number, size);
}

void TerminalShell::endAddBatch() {
    if (progress_.inBatch())
        progress_.endBatch();
}

// Nothing else runs in a terminal while a step works, so it runs right here.
void TerminalShell::runBusy(const std::function<void()>& step) {
    step();
}

ProgressCallback TerminalShell::byteProgress() {
    if (!progressOnTerminal_)
        return {};
    return [this](std::uint64_t done, std::uint64_t total) { progress_.update(done, total); };
}

int TerminalShell::nextSelectedRow(int after) {
    auto next = answers_.selectedRows.upper_bound(after);
    return next == answers_.selectedRows.end() ? -1 : *next;
}

} // namespace quorvane
