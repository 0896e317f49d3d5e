// Known answers for the vault: an independent implementation written from
// docs/FORMAT.md alone (tests/support/vault_reference.py, PyNaCl) makes a
// vault that we open, and reads one that we made through several commits.

#include "tests/storage/VaultKit.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <sstream>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using namespace test::vaultkit;
using test::patternBytes;
using test::readFile;
using test::runProgram;
using test::writeFile;

const std::string Reference = QUORVANE_SOURCE_DIR "/tests/support/vault_reference.py";

struct Item {
    char kind = 'F';
    unsigned mode = 0600;
    std::int64_t seconds = 0;
    std::uint32_t nanos = 0;
    std::string content;
    bool operator==(const Item&) const = default;
};
using Model = std::map<std::string, Item>;

Model sampleModel() {
    Model model = {
        {"Steuern", {'D', 0700, 1600000000, 1, ""}},
        {"Steuern/2025", {'D', 0500, 1600000001, 0, ""}},
        {"Steuern/2025/Lohnsteuerbescheinigung Arbeitgeber GmbH 2023 \xc3\xa4\xc3\xb6\xc3\xbc.pdf",
         {'F', 0600, 1700000000, 999999999, patternBytes(3 * SmallChunk + 17, 1)}},
        {"empty", {'F', 0400, 0, 0, ""}},
        {"\xe6\x9d\xb1\xe4\xba\xac.txt", {'F', 0600, -5, 7, "negative times are kept"}},
        {std::string(NamePartMost, 'L'), {'F', 0600, 1, 2, patternBytes(SmallChunk, 2)}},
    };
    // Enough entries for several index groups.
    for (int i = 0; i < 400; ++i)
        model["many/file-" + std::to_string(1000 + i)] = {'F', 0600, i, 0, std::to_string(i)};
    model["many"] = {'D', 0700, 0, 0, ""};
    return model;
}

Model modelOf(Vault& vault) {
    Model model;
    for (const auto& [path, entry] : vault.entries())
        model[path] = {entry.kind == EntryKind::Folder ? 'D' : 'F', entry.mode,
                       entry.modifiedSeconds, entry.modifiedNanoseconds,
                       entry.kind == EntryKind::Folder ? "" : contentOf(vault, path)};
    return model;
}

class VaultReference : public ::testing::Test {
  protected:
    int reference(const std::vector<std::string>& arguments) {
        std::vector<std::string> argv{"/usr/bin/python3", Reference};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return runProgram(argv);
    }
    fs::path passwordFile(const std::string& password) {
        return folder.write("password", password);
    }

    test::TempFolder folder;
    fs::path safe = folder / "box.cx";
};

TEST_F(VaultReference, WeOpenWhatTheReferenceMakes) {
    const Model model = sampleModel();
    std::ostringstream spec;
    int number = 0;
    for (const auto& [path, item] : model) {
        std::string source = "-";
        if (item.kind == 'F')
            source = folder.write("content-" + std::to_string(number++), item.content).string();
        spec << item.kind << ' ' << std::oct << item.mode << std::dec << ' ' << item.seconds << ' '
             << item.nanos << ' ' << source << ' ' << path << '\n';
    }
    const fs::path specFile = folder.write("spec", spec.str());
    ASSERT_EQ(reference({"make", passwordFile(Password).string(), safe.string(), specFile.string(),
                         std::to_string(SmallChunk), "1", "8192"}),
              0);
    auto vault = openVault(safe, false);
    EXPECT_EQ(modelOf(*vault), model);
    OpenResult outcome = OpenResult::Opened;
    EXPECT_EQ(openVault(safe, outcome, false, "wrong"), nullptr);
    EXPECT_EQ(outcome, OpenResult::WrongPassword);
}

TEST_F(VaultReference, TheReferenceReadsWhatWeMakeThroughCommits) {
    createVault(safe);
    Model model;
    {
        auto vault = openVault(safe);
        ASSERT_EQ(addContent(*vault, "gone", patternBytes(4 * SmallChunk, 7)), StepResult::Done);
        ASSERT_EQ(vault->commit(), StepResult::Done);
        ASSERT_EQ(vault->remove("gone"), StepResult::Done);
        ASSERT_EQ(vault->commit(), StepResult::Done);
        ASSERT_EQ(vault->commit(), StepResult::Done);
        ASSERT_EQ(vault->makeFolder("Steuern", {1600000000, 1, 0700}), StepResult::Done);
        ASSERT_EQ(vault->commit(), StepResult::Done);
        ASSERT_EQ(vault->makeFolder("many", {0, 0, 0700}), StepResult::Done);
        for (const auto& [path, item] : sampleModel()) {
            const bool placed = parentOf(path).empty() || vault->find(parentOf(path)) != nullptr;
            if (item.kind == 'F' && placed) {
                ASSERT_EQ(addContent(*vault, path, item.content), StepResult::Done) << path;
            }
        }
        ASSERT_EQ(vault->rename("many/file-1000", "Steuern/moved"), StepResult::Done);
        ASSERT_EQ(vault->commit(), StepResult::Done);
        ASSERT_EQ(vault->changePassword("second", 1, 8192), StepResult::Done);
        model = modelOf(*vault);
    }
    ASSERT_GT(model.size(), 400u);
    const fs::path out = folder / "out";
    fs::create_directory(out);
    EXPECT_EQ(reference({"read", passwordFile(Password).string(), safe.string(), out.string()}), 1)
        << "the old password no longer opens it";
    ASSERT_EQ(reference({"read", passwordFile("second").string(), safe.string(), out.string()}), 0);
    std::istringstream listing(readFile(out / "listing"));
    Model read;
    int files = 0;
    for (std::string line; std::getline(listing, line);) {
        std::istringstream fields(line);
        Item item;
        std::uint64_t size = 0;
        fields >> item.kind >> std::oct >> item.mode >> std::dec >> item.seconds >> item.nanos >>
            size;
        std::string path;
        std::getline(fields, path);
        if (item.kind == 'F')
            item.content = readFile(out / std::to_string(files++));
        EXPECT_EQ(item.content.size(), size) << path;
        read[path.substr(1)] = item;
    }
    EXPECT_EQ(read, model);
}

} // namespace
} // namespace quorvane
