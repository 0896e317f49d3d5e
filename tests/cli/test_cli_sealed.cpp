// Sealed safes from the terminal: create --sealed, seal, info, and the other
// commands on sealed safes, checked against the independent implementation.

#include "tests/cli/CliFixture.h"
#include "tests/storage/VaultKit.h"
#include "tests/support/SealedBytes.h"

namespace quorvane::clitest {
namespace {

namespace fs = std::filesystem;

using test::patternBytes;
using test::referenceSeal;
using test::referenceUnseal;

const std::string SealedDefaults =
    "format: sealed, version 2\nkdf: argon2id passes=3 memory=65536KiB\n";

using test::vaultkit::vaultContents;

class CliSealed : public CliTest {
  protected:
    RunResult info(const fs::path& safe) const { return box.run({"info", safe.string()}); }
};

TEST_F(CliSealed, CreateSealedMakesASafeThatEveryCommandAndTheReferenceRead) {
    const fs::path safe = file("new.cx");
    RunResult created = cli({"create", safe.string(), "--sealed"});
    ASSERT_EQ(created.exitCode, 0) << created.err;
    EXPECT_EQ(info(safe).out, SealedDefaults);
    const std::string big = patternBytes((1u << 20) + 3, 8);
    const fs::path a = box.writeFile("a.bin", big), b = box.writeFile("b.txt", "bee");
    ASSERT_EQ(cli({"add", safe.string(), a.string(), b.string()}).exitCode, 0);
    ASSERT_EQ(cli({"rename", safe.string(), "1", "c.txt"}).exitCode, 0);
    EXPECT_EQ(listOf(safe), "0\t1048579\ta.bin\n1\t3\tc.txt\n");
    EXPECT_EQ(info(safe).out, SealedDefaults) << "changes keep the safe sealed";
    EXPECT_EQ(vaultContents(safe, Password),
              (test::vaultkit::Contents{{"a.bin", big}, {"c.txt", "bee"}}));
    EXPECT_EQ(opensslOpen(box, safe, Password), std::nullopt);
    fs::create_directory(file("out"));
    ASSERT_EQ(cli({"extract", safe.string(), file("out").string(), "0"}).exitCode, 0);
    EXPECT_EQ(readFile(file("out") / "a.bin"), big);
}

TEST_F(CliSealed, AFirstVersionSafeOpensAndItsNextSaveWritesTheSecondWithItsSettings) {
    const fs::path safe = file("ref.cx");
    ASSERT_TRUE(
        referenceSeal(safe, Password, containerBytes({{"x", "why"}, {"y", "not"}}), 2, 9000));
    EXPECT_EQ(info(safe).out, "format: sealed\nkdf: argon2id passes=2 memory=9000KiB\n");
    EXPECT_EQ(listOf(safe), "0\t3\tx\n1\t3\ty\n");
    RunResult deleted = cli({"delete", safe.string(), "0"});
    ASSERT_EQ(deleted.exitCode, 0) << deleted.err;
    EXPECT_TRUE(contains(deleted.err, "second sealed version")) << deleted.err;
    EXPECT_EQ(info(safe).out, "format: sealed, version 2\nkdf: argon2id passes=2 memory=9000KiB\n");
    EXPECT_EQ(listOf(safe), "0\t3\ty\n");
    EXPECT_EQ(vaultContents(safe, Password), (test::vaultkit::Contents{{"y", "not"}}));
    RunResult again = cli({"delete", safe.string(), "0"});
    ASSERT_EQ(again.exitCode, 0) << again.err;
    EXPECT_FALSE(contains(again.err, "second sealed version")) << "told once: " << again.err;

    RunResult wrong = box.run(
        {"list", safe.string(), "--password-file", box.passwordFile("not the password").string()});
    EXPECT_EQ(wrong.exitCode, 3);
    EXPECT_TRUE(contains(wrong.err, "Invalid File or Password")) << wrong.err;
}

TEST_F(CliSealed, SealWritesAPlainSafeSealedOnceAndLeavesASealedOneAlone) {
    const fs::path safe = sealSafe({{"n.txt", "notes"}});
    EXPECT_EQ(info(safe).out, "format: plain\nnote: the plain format has no signature, so any "
                              "file that is not sealed shows as plain; only its password can "
                              "tell whether it is a safe\n");
    RunResult sealed = cli({"seal", safe.string()});
    ASSERT_EQ(sealed.exitCode, 0) << sealed.err;
    EXPECT_TRUE(contains(sealed.err, "The safe is sealed.")) << sealed.err;
    EXPECT_EQ(info(safe).out, SealedDefaults);
    EXPECT_EQ(vaultContents(safe, Password), (test::vaultkit::Contents{{"n.txt", "notes"}}));

    const std::string before = readFile(safe);
    RunResult again = cli({"seal", safe.string()});
    EXPECT_EQ(again.exitCode, 0);
    EXPECT_TRUE(contains(again.err, "sealed already")) << again.err;
    EXPECT_EQ(readFile(safe), before);

    ASSERT_EQ(
        cli({"passwd", safe.string(), "--new-password-file", box.passwordFile("fresh").string()})
            .exitCode,
        0);
    const std::string after = readFile(safe);
    EXPECT_EQ(after.size(), before.size()) << "only the wrapped key is written";
    EXPECT_NE(after.substr(vault::KeySlotAt[0], 2 * vault::KeySlotSize),
              before.substr(vault::KeySlotAt[0], 2 * vault::KeySlotSize));
    EXPECT_EQ(after.substr(vault::KeySlotAt[1] + vault::KeySlotSize),
              before.substr(vault::KeySlotAt[1] + vault::KeySlotSize))
        << "nothing but the key slots changes";
    EXPECT_EQ(vaultContents(safe, "fresh"), (test::vaultkit::Contents{{"n.txt", "notes"}}));
    EXPECT_EQ(vaultContents(safe, Password), std::nullopt) << "the old password no longer opens";
}

TEST_F(CliSealed, InfoAsksNoPasswordAndDamageIsToldApartFromAWrongPassword) {
    const fs::path safe = file("s.cx");
    ASSERT_TRUE(referenceSeal(safe, Password, containerBytes({{"big", patternBytes(3u << 20)}})));
    const std::string good = readFile(safe);
    std::string endless = good, costly = good, changed = good;
    endless.replace(13, 4, "\xFF\xFF\xFF\xFF");
    // 16 passes over 1 GiB: seconds and a gigabyte for every password tried.
    costly.replace(13, 8, std::string("\x10\0\0\0\0\0\x10\0", 8));
    changed[good.size() - 5] = static_cast<char>(changed[good.size() - 5] ^ 1);
    const struct {
        const char* what;
        std::string bytes;
        std::string infoOut;
        int infoCode;
        int listCode;
        const char* listSays;
    } cases[] = {
        {"whole", good, "format: sealed\nkdf: argon2id passes=1 memory=8192KiB\n", 0, 0, ""},
        {"passes out of bounds", endless, "format: sealed\n", 1, 3, "Invalid File or Password"},
        {"asks too much", costly, "format: sealed\n", 1, 3, "Invalid File or Password"},
        {"last piece changed", changed, "format: sealed\nkdf: argon2id passes=1 memory=8192KiB\n",
         0, 1, "damaged or was changed"},
        {"cut at a piece", good.substr(0, 61 + (1u << 20) + 17),
         "format: sealed\n"
         "kdf: argon2id passes=1 "
         "memory=8192KiB\n",
         0, 1, "damaged or was changed"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(safe, c.bytes);
        RunResult shown = info(safe); // no password file and no terminal: asking would fail
        EXPECT_EQ(shown.out, c.infoOut);
        EXPECT_EQ(shown.exitCode, c.infoCode) << shown.err;
        RunResult listed = cli({"list", safe.string()});
        EXPECT_EQ(listed.exitCode, c.listCode);
        EXPECT_TRUE(contains(listed.err, c.listSays)) << listed.err;
    }
    EXPECT_EQ(cli({"info", safe.string()}).exitCode, 2) << "info takes no password";
    EXPECT_EQ(cli({"list", safe.string(), "--sealed"}).exitCode, 2);
}

TEST_F(CliSealed, InfoNamesTheSecondVersionWithoutAPassword) {
    const fs::path safe = file("v2.cx");
    test::vaultkit::createVault(safe);
    const std::string good = readFile(safe);
    std::string costly = good;
    costly[vault::KeySlotAt[0] + 16] = 0x7f; // memory far beyond the bounds
    const struct {
        const char* what;
        std::string bytes;
        std::string text;
        std::string json;
        int code;
    } cases[] = {
        {"whole", good, "format: sealed, version 2\nkdf: argon2id passes=1 memory=8192KiB\n",
         "{\"format\":\"sealed\",\"version\":2,\"signature\":true,\"kdf\":{\"algorithm\":"
         "\"argon2id\",\"passes\":1,\"memory_kib\":8192}}\n",
         0},
        {"cut in its header", good.substr(0, 1000), "format: sealed, version 2\n",
         "{\"format\":\"sealed\",\"version\":2,\"signature\":true,\"kdf\":null}\n", 1},
        {"asks too much", costly, "format: sealed, version 2\n",
         "{\"format\":\"sealed\",\"version\":2,\"signature\":true,\"kdf\":null}\n", 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(safe, c.bytes);
        RunResult shown = info(safe);
        EXPECT_EQ(shown.out, c.text);
        EXPECT_EQ(shown.exitCode, c.code) << shown.err;
        RunResult json = box.run({"info", safe.string(), "--json"});
        EXPECT_EQ(json.out, c.json);
        EXPECT_EQ(json.exitCode, c.code);
    }
    // The commands that need the content do not read this version yet: they
    // refuse it and leave it as it is.
    writeFile(safe, good);
    EXPECT_NE(cli({"list", safe.string()}).exitCode, 0);
    EXPECT_NE(cli({"add", safe.string(), box.writeFile("a", "a").string()}).exitCode, 0);
    EXPECT_EQ(readFile(safe), good);
}

// A plain safe's names are any 50 bytes; the vault's are UTF-8 paths, each
// unique. Sealing keeps every file, under the closest name the vault takes.
TEST_F(CliSealed, SealKeepsEveryFileWhateverItsStoredName) {
    const fs::path safe = sealSafe({{"same", "1"},
                                    {"same", "2"},
                                    {"a/b", "3"},
                                    {"bad\xff\xfe", "4"},
                                    {"ctl\x01x", "5"},
                                    {"..", "6"},
                                    {"Ky\xc5\x8dto", "7"}});
    RunOptions bounded;
    bounded.killAfterSeconds = 60;
    RunResult sealed = cli({"seal", safe.string()}, bounded);
    ASSERT_EQ(sealed.exitCode, 0) << sealed.err;
    EXPECT_EQ(vaultContents(safe, Password), (test::vaultkit::Contents{{"same", "1"},
                                                                       {"same (2)", "2"},
                                                                       {"a_b", "3"},
                                                                       {"bad__", "4"},
                                                                       {"ctl_x", "5"},
                                                                       {"_..", "6"},
                                                                       {"Ky\xc5\x8dto", "7"}}));
}

// A second file of one name is the vault's own rule: the refusal says so,
// where a failed write of the safe would be a different story.
TEST_F(CliSealed, AChangeTheVaultRefusesSaysWhyAndLeavesTheSafe) {
    const fs::path safe = file("v2.cx");
    test::vaultkit::createVault(safe, Password);
    const fs::path a = box.writeFile("a.txt", "first"), folder = file("other");
    fs::create_directory(folder);
    const fs::path sameName = box.writeFile("other/a.txt", "second");
    ASSERT_EQ(cli({"add", safe.string(), a.string(), box.writeFile("b", "bee").string()}).exitCode,
              0);
    const std::string before = readFile(safe);
    const std::string nameTaken = "the safe has another file of this name (File exists)";
    const struct {
        const char* what;
        std::vector<std::string> args;
        std::string says;
    } cases[] = {
        {"add of a name it has",
         {"add", safe.string(), sameName.string()},
         "The file was not stored: " + nameTaken + ". The safe is as it was"},
        {"rename to a name it has",
         {"rename", safe.string(), "1", "a.txt"},
         "The entry was not renamed: " + nameTaken + "."},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        RunResult refused = cli(c.args);
        EXPECT_EQ(refused.exitCode, 1);
        EXPECT_TRUE(contains(refused.err, c.says)) << refused.err;
        EXPECT_FALSE(contains(refused.err, "working copy")) << refused.err;
        EXPECT_FALSE(contains(refused.err, "read-only")) << refused.err;
        EXPECT_EQ(readFile(safe), before);
    }
    EXPECT_EQ(listOf(safe), "0\t5\ta.txt\n1\t3\tb\n");
}

} // namespace
} // namespace quorvane::clitest
