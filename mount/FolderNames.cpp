#include "mount/FolderNames.h"

#include "entries/ExtractTarget.h"

#include <cstring>
#include <sodium.h>
#include <unordered_map>
#include <unordered_set>

namespace quorvane {

namespace {

// Where the extension starts: at the last dot, unless that dot begins the
// name (".profile" has none).
std::size_t extensionStart(const std::string& name) {
    const std::size_t dot = name.rfind('.');
    return dot == std::string::npos || dot == 0 ? name.size() : dot;
}

} // namespace

std::string folderNumberedName(const std::string& name, int number) {
    if (std::string numbered = numberedName(name, number); numbered.size() <= FolderNameLimit)
        return numbered;
    const std::size_t split = extensionStart(name);
    std::string stem = name.substr(0, split);
    std::string extension = name.substr(split);
    const std::string tag = " (" + std::to_string(number) + ")";
    // An extension too long to keep gives way to the number.
    if (tag.size() + extension.size() > FolderNameLimit)
        extension.clear();
    const std::size_t room = FolderNameLimit - tag.size() - extension.size();
    if (stem.size() > room) {
        // Back to the start of the character the cut would fall into.
        std::size_t cut = room;
        while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80)
            --cut;
        stem.resize(cut);
    }
    return stem + tag + extension;
}

std::vector<std::optional<std::string>> folderNames(const std::vector<std::string>& storedNames) {
    // As extracting all into an empty folder: an entry whose name an earlier
    // one took goes under the first numbered name that none has taken. Names
    // are only ever added, so a number found taken stays taken: each name's
    // search goes on where its last one ended, and 20,000 entries of one
    // name cost 20,000 tries, not 200 million.
    std::unordered_set<std::string> shown;
    std::unordered_map<std::string, int> nextNumber;
    std::vector<std::optional<std::string>> names;
    names.reserve(storedNames.size());
    shown.reserve(storedNames.size());
    for (const std::string& name : storedNames) {
        if (!isPlainEntryName(name)) {
            names.emplace_back();
            continue;
        }
        std::string candidate = name;
        if (shown.count(candidate) != 0) {
            int& number = nextNumber.try_emplace(name, 2).first->second;
            do
                candidate = folderNumberedName(name, number++);
            while (shown.count(candidate) != 0);
        }
        shown.insert(candidate);
        names.emplace_back(std::move(candidate));
    }
    return names;
}

// SipHash of the name under a fixed key.
std::uint64_t inodeOf(const std::string& name) {
    static constexpr unsigned char Key[crypto_shorthash_KEYBYTES] = {};
    unsigned char hash[crypto_shorthash_BYTES];
    crypto_shorthash(hash, reinterpret_cast<const unsigned char*>(name.data()), name.size(), Key);
    std::uint64_t number = 0;
    static_assert(sizeof hash == sizeof number);
    std::memcpy(&number, hash, sizeof number);
    return number < 2 ? number + 2 : number;
}

} // namespace quorvane
