#include "lifecycle/SafeFileWriting.h"

#include "lifecycle/LifecycleTexts.h"
#include "storage/files/AtomicReplace.h"
#include "storage/files/DescriptorBuffer.h"
#include "storage/format/SafeCipher.h"

#include <cstring>
#include <exception>
#include <grp.h>
#include <initializer_list>
#include <pwd.h>
#include <vector>

namespace quorvane {

namespace {

// Reads the fresh safe back through its descriptor and compares what it
// decrypts to with the plaintext it was made from.
std::optional<Failure> freshSafeMismatch(int fd, std::istream& plaintext, const std::string& key) {
    DescriptorInputBuffer safeBytes(fd);
    std::istream safe(&safeBytes);
    plaintext.clear();
    return safeDecryptsTo(safe, plaintext, key);
}

// The pattern with each "%s" replaced by the next value.
std::string filledIn(const char* pattern, std::initializer_list<std::string> values) {
    std::string text = pattern;
    std::size_t at = 0;
    for (const std::string& value : values) {
        at = text.find("%s", at);
        if (at == std::string::npos)
            break;
        text.replace(at, 2, value);
        at += value.size();
    }
    return text;
}

// "user alice (1001)", or "user 1001" where the system knows no name.
std::string userCalled(unsigned id) {
    std::vector<char> buffer(16384);
    struct passwd entry {};
    struct passwd* found = nullptr;
    if (::getpwuid_r(id, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return std::string("user ") + found->pw_name + " (" + std::to_string(id) + ")";
    return "user " + std::to_string(id);
}

std::string groupCalled(unsigned id) {
    std::vector<char> buffer(16384);
    struct group entry {};
    struct group* found = nullptr;
    if (::getgrgid_r(id, &entry, buffer.data(), buffer.size(), &found) == 0 && found != nullptr)
        return std::string("group ") + found->gr_name + " (" + std::to_string(id) + ")";
    return "group " + std::to_string(id);
}

} // namespace

std::string accessNoticeFor(const AccessKept& kept) {
    namespace text = lifecycle_text;
    if (kept.all())
        return "";
    std::vector<std::string> lines = {text::AccessChanged};
    if (!kept.owner)
        lines.push_back(
            filledIn(text::OwnerNotKept, {userCalled(kept.ownerWas), userCalled(kept.ownerNow)}));
    if (!kept.group)
        lines.push_back(
            filledIn(text::GroupNotKept, {groupCalled(kept.groupWas), groupCalled(kept.groupNow)}));
    if (!kept.accessList)
        lines.push_back(filledIn(text::AccessListNotKept, {std::strerror(kept.accessListError)}));
    if (!kept.attributes)
        lines.push_back(filledIn(text::AttributesNotKept, {std::strerror(kept.attributesError)}));
    std::string notice;
    for (const std::string& line : lines)
        notice.append(notice.empty() ? "" : "\n").append(line);
    return notice;
}

WriteResult encryptFileOnto(Shell& shell, std::istream& plaintext,
                            const std::filesystem::path& target, const std::string& key,
                            SafeFileLock* lock, const std::function<void()>& whenReplaced) {
    // Taken before the step: the step itself must not call the shell.
    ProgressCallback progress = shell.busy.byteProgress();
    auto writeSafe = [&](std::ostream& out) {
        plaintext.clear();
        return encryptSafe(plaintext, out, key, progress);
    };
    ReplaceGuard guard;
    guard.verify = [&](int fd) { return freshSafeMismatch(fd, plaintext, key); };
    if (lock != nullptr) {
        guard.lockFresh = true;
        if (lock->held())
            guard.expected = lock->identity();
    }
    ReplaceResult result;
    shell.busy.runBusy([&] {
        try {
            result = replaceFileAtomically(target, writeSafe, guard);
        } catch (const std::exception& failure) {
            // e.g. no memory: the old safe is still whole
            result.failure = Failure{0, failure.what()};
        }
        // Inside the step: closing the old safe's last descriptor frees all
        // of its blocks, which takes a while for a large safe.
        if (result.replaced() && lock != nullptr)
            lock->adopt(std::move(result.lockedFd), result.identity);
        if (result.replaced() && whenReplaced)
            whenReplaced();
    });
    plaintext.clear();
    if (!result.replaced())
        return writeFailed(result.failure->detail);
    return {std::nullopt, {}, accessNoticeFor(result.access)};
}

} // namespace quorvane
