// The vault's operations against a model of what it should hold, across
// commits and fresh opens; what it refuses; discard, a crash's tail, the
// password change, reuse of waste and compaction.

#include "tests/storage/VaultKit.h"
#include "tests/support/TestFiles.h"

#include <gtest/gtest.h>

#include <functional>

namespace quorvane {
namespace {

namespace fs = std::filesystem;
using namespace test::vaultkit;
using test::patternBytes;
using test::readFile;

class VaultTest : public ::testing::Test {
  protected:
    void SetUp() override { createVault(safe); }

    test::TempFolder folder;
    fs::path safe = folder / "box.cx";
};

std::string longPart(char c) {
    return std::string(NamePartMost, c);
}

TEST_F(VaultTest, ChangesMatchTheModelAfterEachCommitAndFreshOpen) {
    const std::string kyoto = "Fotos/Kyoto \xe4\xba\xac\xe9\x83\xbd";
    struct Step {
        const char* what;
        std::function<StepResult(Vault&)> change;
        std::function<void(Contents&)> model;
    };
    const std::string big = patternBytes(5 * SmallChunk + 123, 3);
    const std::string exact = patternBytes(2 * SmallChunk, 4);
    const Step steps[] = {
        {"a folder", [](Vault& v) { return v.makeFolder("Fotos", {}); },
         [](Contents& m) { m["Fotos/"] = ""; }},
        {"a folder in it with a long UTF-8 name", [&](Vault& v) { return v.makeFolder(kyoto, {}); },
         [&](Contents& m) { m[kyoto + "/"] = ""; }},
        {"a file of many chunks",
         [&](Vault& v) { return addContent(v, kyoto + "/IMG_0001.JPG", big); },
         [&](Contents& m) { m[kyoto + "/IMG_0001.JPG"] = big; }},
        {"an empty file", [](Vault& v) { return addContent(v, "empty", ""); },
         [](Contents& m) { m["empty"] = ""; }},
        {"whole chunks", [&](Vault& v) { return addContent(v, "exact.bin", exact); },
         [&](Contents& m) { m["exact.bin"] = exact; }},
        {"a name part of 255 bytes", [](Vault& v) { return addContent(v, longPart('n'), "long"); },
         [](Contents& m) { m[longPart('n')] = "long"; }},
        {"a folder renamed with what is in it",
         [](Vault& v) { return v.rename("Fotos", "Photos 2025"); },
         [&](Contents& m) {
             m.erase("Fotos/");
             m.erase(kyoto + "/");
             m["Photos 2025/"] = "";
             m["Photos 2025/Kyoto \xe4\xba\xac\xe9\x83\xbd/"] = "";
             m["Photos 2025/Kyoto \xe4\xba\xac\xe9\x83\xbd/IMG_0001.JPG"] = big;
             m.erase(kyoto + "/IMG_0001.JPG");
         }},
        {"a file replaced", [](Vault& v) { return addContent(v, "exact.bin", "short now", true); },
         [](Contents& m) { m["exact.bin"] = "short now"; }},
        {"a file removed", [](Vault& v) { return v.remove("empty"); },
         [](Contents& m) { m.erase("empty"); }},
        {"a file moved into a folder",
         [](Vault& v) { return v.rename("exact.bin", "Photos 2025/x"); },
         [](Contents& m) {
             m.erase("exact.bin");
             m["Photos 2025/x"] = "short now";
         }},
    };
    Contents model;
    for (const Step& step : steps) {
        SCOPED_TRACE(step.what);
        auto vault = openVault(safe);
        ASSERT_EQ(step.change(*vault), StepResult::Done);
        step.model(model);
        EXPECT_EQ(contentsOf(*vault), model) << "before the commit";
        ASSERT_EQ(vault->commit(), StepResult::Done);
        EXPECT_EQ(contentsOf(*vault), model) << "after the commit";
        vault.reset();
        EXPECT_EQ(contentsOf(*openVault(safe, false)), model) << "opened again";
    }
    const auto reopened = openVault(safe, false);
    const VaultEntry* entry = reopened->find("Photos 2025/x");
    ASSERT_NE(entry, nullptr);
    EXPECT_EQ(entry->modifiedSeconds, 1700000000);
    EXPECT_EQ(entry->modifiedNanoseconds, 5u);
    EXPECT_EQ(entry->mode, 0600);
}

TEST_F(VaultTest, RefusesWhatItCannotKeep) {
    auto vault = openVault(safe);
    ASSERT_EQ(vault->makeFolder("d", {}), StepResult::Done);
    ASSERT_EQ(addContent(*vault, "d/f", "x"), StepResult::Done);
    ASSERT_EQ(addContent(*vault, "f", "x"), StepResult::Done);
    const struct {
        const char* what;
        std::function<StepResult(Vault&)> change;
        StepResult expected;
    } cases[] = {
        {"empty part", [](Vault& v) { return v.makeFolder("a//b", {}); }, StepResult::InvalidPath},
        {"dot", [](Vault& v) { return v.makeFolder("d/.", {}); }, StepResult::InvalidPath},
        {"dot dot", [](Vault& v) { return addContent(v, "../up", "x"); }, StepResult::InvalidPath},
        {"leading slash", [](Vault& v) { return addContent(v, "/abs", "x"); },
         StepResult::InvalidPath},
        {"control character", [](Vault& v) { return addContent(v, "a\nb", "x"); },
         StepResult::InvalidPath},
        {"not UTF-8", [](Vault& v) { return addContent(v, "caf\xe9", "x"); },
         StepResult::InvalidPath},
        {"part of 256 bytes", [](Vault& v) { return addContent(v, std::string(256, 'a'), "x"); },
         StepResult::InvalidPath},
        {"no such folder", [](Vault& v) { return addContent(v, "none/f", "x"); },
         StepResult::NoFolder},
        {"a file as folder", [](Vault& v) { return addContent(v, "f/g", "x"); },
         StepResult::NoFolder},
        {"taken", [](Vault& v) { return addContent(v, "f", "y"); }, StepResult::Exists},
        {"taken by a folder", [](Vault& v) { return addContent(v, "d", "y", true); },
         StepResult::Exists},
        {"folder not empty", [](Vault& v) { return v.remove("d"); }, StepResult::NotEmpty},
        {"into itself", [](Vault& v) { return v.rename("d", "d/e"); }, StepResult::InvalidPath},
        {"rename onto another", [](Vault& v) { return v.rename("f", "d/f"); }, StepResult::Exists},
        {"missing", [](Vault& v) { return v.remove("g"); }, StepResult::NotFound},
    };
    const Contents before = contentsOf(*vault);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.change(*vault), c.expected);
        EXPECT_EQ(contentsOf(*vault), before);
    }
}

TEST_F(VaultTest, DiscardAndACrashesTailLeaveTheCommittedStateAndLength) {
    {
        auto vault = openVault(safe);
        ASSERT_EQ(addContent(*vault, "kept", "kept"), StepResult::Done);
        ASSERT_EQ(vault->commit(), StepResult::Done);
    }
    const std::string committed = readFile(safe);
    {
        auto vault = openVault(safe);
        ASSERT_EQ(addContent(*vault, "dropped", patternBytes(100000)), StepResult::Done);
        EXPECT_GT(fs::file_size(safe), committed.size()) << "uncommitted chunks live in the file";
        ASSERT_EQ(vault->discard(), StepResult::Done);
        EXPECT_EQ(readFile(safe), committed);
        EXPECT_EQ(contentsOf(*vault), (Contents{{"kept", "kept"}}));
        // A crash: chunks appended, no commit.
        ASSERT_EQ(addContent(*vault, "lost", patternBytes(100000)), StepResult::Done);
    }
    EXPECT_GT(fs::file_size(safe), committed.size());
    EXPECT_EQ(contentsOf(*openVault(safe, false)), (Contents{{"kept", "kept"}}));
    EXPECT_GT(fs::file_size(safe), committed.size()) << "a reader leaves the file alone";
    openVault(safe);
    EXPECT_EQ(readFile(safe), committed) << "the next writer reclaims the tail";
    // Opening, reading and closing without a change writes nothing.
    const auto stamp = fs::last_write_time(safe);
    {
        auto vault = openVault(safe);
        contentsOf(*vault);
        EXPECT_EQ(vault->commit(), StepResult::Done);
    }
    EXPECT_EQ(readFile(safe), committed);
    EXPECT_EQ(fs::last_write_time(safe), stamp);
}

TEST_F(VaultTest, APasswordChangeRewritesOnlyTheKeySlots) {
    {
        auto vault = openVault(safe);
        ASSERT_EQ(addContent(*vault, "f", patternBytes(300000)), StepResult::Done);
        ASSERT_EQ(vault->commit(), StepResult::Done);
    }
    const fs::path copy = folder / "copy.cx";
    fs::copy_file(safe, copy);
    const std::string before = readFile(safe);
    ASSERT_EQ(openVault(safe)->changePassword("new password", 1, 8192), StepResult::Done);
    const std::string after = readFile(safe);
    ASSERT_EQ(after.size(), before.size());
    for (std::size_t i = 0; i < after.size(); ++i)
        ASSERT_TRUE(after[i] == before[i] || (i >= KeySlotAt[0] && i < KeySlotAt[1] + KeySlotSize))
            << "byte " << i << " changed";
    OpenResult outcome = OpenResult::Opened;
    EXPECT_EQ(openVault(safe, outcome, false), nullptr);
    EXPECT_EQ(outcome, OpenResult::WrongPassword);
    auto reopened = openVault(safe, outcome, true, "new password");
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(contentOf(*reopened, "f"), patternBytes(300000));
    // A second change goes back into the first slot.
    ASSERT_EQ(reopened->changePassword("third", 1, 8192), StepResult::Done);
    reopened.reset();
    EXPECT_NE(openVault(safe, outcome, false, "third"), nullptr);
    EXPECT_EQ(openVault(safe, outcome, false, "new password"), nullptr);
    EXPECT_NE(openVault(copy, outcome, false), nullptr) << "a copy from before keeps its password";
}

TEST_F(VaultTest, WasteIsReusedAndCompactionLeavesNone) {
    const std::string a = patternBytes(400000, 1), b = patternBytes(400000, 2);
    auto vault = openVault(safe);
    ASSERT_EQ(addContent(*vault, "a", a), StepResult::Done);
    ASSERT_EQ(vault->commit(), StepResult::Done);
    const auto grown = fs::file_size(safe);
    // The removed file's chunks wait one commit (the older slot reaches them).
    ASSERT_EQ(vault->remove("a"), StepResult::Done);
    ASSERT_EQ(vault->commit(), StepResult::Done);
    ASSERT_EQ(vault->makeFolder("d", {}), StepResult::Done);
    ASSERT_EQ(vault->commit(), StepResult::Done);
    ASSERT_EQ(addContent(*vault, "b", b), StepResult::Done);
    ASSERT_EQ(vault->commit(), StepResult::Done);
    EXPECT_LE(fs::file_size(safe), grown + 2 * SmallChunk) << "b took a's place";
    EXPECT_EQ(contentsOf(*openVault(safe, false)), (Contents{{"b", b}, {"d/", ""}}));

    ASSERT_EQ(addContent(*vault, "c", patternBytes(900000, 5)), StepResult::Done);
    ASSERT_EQ(vault->commit(), StepResult::Done);
    EXPECT_FALSE(vault->wantsCompaction());
    ASSERT_EQ(vault->remove("c"), StepResult::Done);
    ASSERT_EQ(vault->commit(), StepResult::Done);
    ASSERT_TRUE(vault->wantsCompaction());
    ASSERT_EQ(vault->changePassword("before compaction", 1, 8192), StepResult::Done); // to slot 1
    const auto wasteful = fs::file_size(safe);
    const ReplaceResult replaced = vault->compact(safe, {});
    ASSERT_TRUE(replaced.replaced()) << replaced.failure.value_or(Failure{}).detail;
    EXPECT_LT(fs::file_size(safe), wasteful / 2);
    EXPECT_FALSE(vault->wantsCompaction());
    EXPECT_EQ(contentsOf(*vault), (Contents{{"b", b}, {"d/", ""}}));
    // The session goes on in the compacted file.
    ASSERT_EQ(addContent(*vault, "e", "after"), StepResult::Done);
    ASSERT_EQ(vault->commit(), StepResult::Done);
    // Its key now lies in slot 0 alone: a new password goes into slot 1.
    const std::string compacted = readFile(safe);
    ASSERT_EQ(vault->changePassword("after compaction", 1, 8192), StepResult::Done);
    EXPECT_EQ(readFile(safe).substr(0, KeySlotAt[1]),
              compacted.substr(0, KeySlotAt[0]) + std::string(KeySlotSize, '\0'))
        << "the old key wiped, after the new one was written beside it";
    vault.reset();
    OpenResult outcome = OpenResult::Opened;
    auto reopened = openVault(safe, outcome, false, "after compaction");
    ASSERT_NE(reopened, nullptr);
    EXPECT_EQ(contentsOf(*reopened), (Contents{{"b", b}, {"d/", ""}, {"e", "after"}}));
    EXPECT_EQ(test::folderListing(folder.path()), std::vector<std::string>{"box.cx"});
}

TEST_F(VaultTest, OtherFilesAreNotVaults) {
    const struct {
        const char* what;
        std::string bytes;
        OpenResult expected;
    } cases[] = {
        {"empty", "", OpenResult::NotVault},
        {"plain safe", patternBytes(4096 + 48), OpenResult::NotVault},
        {"first sealed version", readFile(QUORVANE_SOURCE_DIR "/tests/data/sealed-v1/three.cx"),
         OpenResult::NotVault},
        {"signature alone", "QVSEAL\r\n", OpenResult::Unacceptable},
        {"format 3", std::string("QVSEAL\r\n\x03\0\0\0", 12) + std::string(5000, '\0'),
         OpenResult::Unacceptable},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        test::writeFile(safe, c.bytes);
        OpenResult outcome = OpenResult::Opened;
        EXPECT_EQ(openVault(safe, outcome, false), nullptr);
        EXPECT_EQ(outcome, c.expected);
    }
}

} // namespace
} // namespace quorvane
