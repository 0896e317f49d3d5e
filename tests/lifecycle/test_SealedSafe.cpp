// Sealed safes through the window's operations: opening, saving, a new
// password, Seal Safe, and every refusal with its words.

#include "tests/lifecycle/LifecycleFixture.h"

#include "lifecycle/LifecycleTexts.h"
#include "lifecycle/SafeFormat.h"
#include "storage/format/SealedSafe.h"
#include "storage/format/sealed/VaultHeader.h"
#include "tests/storage/VaultKit.h"
#include "tests/support/SealedBytes.h"

namespace quorvane::test {
namespace {

using Events = std::vector<std::string>;
using vaultkit::Contents;
using vaultkit::vaultContents;

constexpr std::size_t MiB = 1u << 20;
const std::string InvalidFileOrPassword = "message:Error:Invalid File or Password";
const std::string Damaged =
    "message:Error:The safe could not be opened: the safe file is damaged or was changed since it "
    "was written, so it does not match its seal.";
const std::string SealQuestion =
    "question:Seal Safe:Sealing gives this safe a slow, salted key, so that its password takes far "
    "longer to guess, and makes a safe file that was changed or cut off refuse to open instead of "
    "opening damaged. Other programs that read .cx safes will not open a sealed safe.\n\n"
    "Seal this safe now?";

// The header's fields as the file holds them.
struct HeaderFields {
    std::uint32_t passes = 0;
    std::uint32_t memoryKiB = 0;
    std::string salt;
    std::string streamHeader;
};

std::optional<HeaderFields> headerOf(const std::filesystem::path& safe) {
    const std::string bytes = readFile(safe);
    if (!hasSealSignature(bytes) || bytes.size() < SealedHeaderSize)
        return std::nullopt;
    auto le = [&](std::size_t at) {
        return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at])) |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 1])) << 8 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 2])) << 16 |
               static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[at + 3])) << 24;
    };
    return HeaderFields{le(13), le(17), bytes.substr(21, 16), bytes.substr(37, 24)};
}

class SealedSafeTest : public LifecycleTest {
  protected:
    void SetUp() override {
        LifecycleTest::SetUp();
        safe = root / "sealed.cx";
        writeSealedSafe(safe, "secret", container);
    }

    void open(const std::string& password) {
        shell.openPickerAnswers.push_back(safe.string());
        shell.passwordAnswers.push_back(password);
        openSafe(session);
    }

    void expectRefusedWith(const std::string& message) {
        EXPECT_FALSE(isSafeOpen(state));
        EXPECT_FALSE(isSealed(state));
        // The message, then the safe buttons off: no safe is open.
        ASSERT_GE(shell.events.size(), 2u);
        EXPECT_EQ(shell.events[shell.events.size() - 2], message);
        EXPECT_EQ(shell.events.back(), "buttons:off");
        EXPECT_EQ(folderListing(workDir), std::vector<std::string>{}) << "plaintext left behind";
        EXPECT_FALSE(state.safeLock.held());
    }

    std::filesystem::path safe;
    // Three pieces, so that a later piece can be damaged.
    std::string container = containerBytes({{"big.bin", patternBytes(2 * MiB, 5)}, {"a", "b"}});
};

TEST_F(SealedSafeTest, OpensThroughTheSameStepsAsAPlainSafe) {
    open("secret");
    EXPECT_EQ(shell.events, (Events{"pick-open:", "password",
                                    "progress:Opening Safe Please Wait...", "hide", "buttons:on"}));
    EXPECT_TRUE(isSealed(state));
    EXPECT_EQ(shell.busySteps, 1) << "the key is derived inside the busy step";
    EXPECT_EQ(workingCopyContent(*state.workingCopy), container);
    EXPECT_EQ(shell.rows.size(), 2u);
}

TEST_F(SealedSafeTest, AChangedCutOrLengthenedSafeIsRefusedAndLeavesNothing) {
    const std::string good = readFile(safe);
    const std::size_t secondPiece = SealedHeaderSize + MiB + SealedPieceOverhead;
    std::string flippedHeader = good, flippedLater = good, endlessPasses = good;
    // Deriving under this many passes would not end within the test's time.
    endlessPasses.replace(13, 4, "\xFF\xFF\xFF\xFF");
    flippedHeader[30] = static_cast<char>(flippedHeader[30] ^ 1);
    flippedLater[secondPiece + 9] = static_cast<char>(flippedLater[secondPiece + 9] ^ 1);
    const struct {
        const char* what;
        std::string bytes;
        std::string message;
    } cases[] = {
        {"wrong password", good, InvalidFileOrPassword},
        {"salt changed", flippedHeader, InvalidFileOrPassword},
        {"passes out of bounds", endlessPasses, InvalidFileOrPassword},
        {"first piece cut", good.substr(0, SealedHeaderSize + 10), InvalidFileOrPassword},
        {"second piece changed", flippedLater, Damaged},
        {"cut at a piece boundary", good.substr(0, secondPiece), Damaged},
        {"cut in the last piece", good.substr(0, good.size() - 3), Damaged},
        {"bytes appended", good + "x", Damaged},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        writeFile(safe, c.bytes);
        shell.clearRecords();
        open(c.bytes == good ? "Secret" : "secret");
        expectRefusedWith(c.message);
    }
}

TEST_F(SealedSafeTest, ItsNextSaveWritesTheSecondVersionAndSaysSoOnce) {
    open("secret");
    const std::string big = patternBytes(2 * MiB, 5);
    rewriteWorkingCopy(containerBytes({{"big.bin", big}, {"a", "b"}, {"a", "dd"}}));
    saveSafe(session);
    EXPECT_EQ(shell.messageTexts(),
              (std::vector<std::string>{lifecycle_text::SafeUpgraded, "Changes Saved"}));
    const std::string upgraded = readFile(safe);
    EXPECT_EQ(vault::sealedFormatOf(reinterpret_cast<const unsigned char*>(upgraded.data()),
                                    upgraded.size()),
              vault::FormatNumber);
    EXPECT_EQ(vaultContents(safe, "secret"),
              (Contents{{"big.bin", big}, {"a", "b"}, {"a (2)", "dd"}}))
        << "a second file of one name is kept under a name of its own";
    EXPECT_TRUE(isSealed(state));
    EXPECT_EQ(state.workingCopy, nullptr) << "the session goes on in the vault";
    EXPECT_FALSE(std::filesystem::exists(workingCopyPath(state)));

    const std::string written = readFile(safe);
    shell.clearRecords();
    saveSafe(session);
    EXPECT_EQ(shell.messageTexts(), std::vector<std::string>{"Changes Saved"}) << "told once";
    EXPECT_EQ(readFile(safe), written) << "an unchanged vault is not written";
}

TEST_F(SealedSafeTest, NewPasswordTakesANewSaltAndTheOldOneNoLongerOpens) {
    const HeaderFields before = *headerOf(safe);
    open("secret");
    shell.passwordAnswers.push_back("another");
    changePassword(session);
    EXPECT_EQ(shell.messages.back().text, "Your password has been changed.");
    EXPECT_EQ(headerOf(safe)->salt, before.salt) << "nothing written before the save";
    ASSERT_TRUE(writeSafeFile(session, "Saving").written());
    const Contents stored{{"big.bin", patternBytes(2 * MiB, 5)}, {"a", "b"}};
    EXPECT_EQ(vaultContents(safe, "another"), stored);
    EXPECT_EQ(vaultContents(safe, "secret"), std::nullopt);

    // A vault's new password is written at once, and only its key slots.
    const std::string copy = readFile(safe);
    shell.passwordAnswers.push_back("third");
    changePassword(session);
    EXPECT_EQ(shell.messages.back().text, "Your password has been changed.");
    const std::string after = readFile(safe);
    EXPECT_EQ(after.size(), copy.size());
    EXPECT_EQ(after.substr(vault::KeySlotAt[1] + vault::KeySlotSize),
              copy.substr(vault::KeySlotAt[1] + vault::KeySlotSize));
    EXPECT_EQ(vaultContents(safe, "third"), stored);
    EXPECT_EQ(vaultContents(safe, "another"), std::nullopt);
    writeFile(root / "copy.cx", copy);
    EXPECT_EQ(vaultContents(root / "copy.cx", "another"), stored)
        << "a copy made before the change keeps the old password";
    EXPECT_TRUE(closeRequested(session, CloseEntry::SaveAndExit));
    EXPECT_EQ(readFile(safe), after) << "nothing left to write at the close";
}

class SealPlainSafeTest : public LifecycleTest {
  protected:
    void SetUp() override {
        LifecycleTest::SetUp();
        safe = root / "plain.cx";
        writeSafe(safe, "pw", container);
    }
    std::filesystem::path safe;
    std::string container = containerBytes({{"notes.txt", "some notes"}});
};

TEST_F(SealPlainSafeTest, YesWritesTheSafeSealedAtOnceAndGreysTheCommand) {
    openThroughOpenSafe(safe, "pw");
    shell.clearRecords();
    shell.yesNoAnswers.push_back(true);
    sealSafe(session);
    EXPECT_EQ(shell.events, (Events{SealQuestion, "progress:Sealing Safe Please Wait...", "hide",
                                    "buttons:on", "message:Success!:The safe is sealed."}));
    EXPECT_TRUE(isSealed(state));
    EXPECT_EQ(vaultContents(safe, "pw"), (Contents{{"notes.txt", "some notes"}}));
    shell.clearRecords();
    sealSafe(session);
    EXPECT_EQ(shell.events, Events{}) << "a sealed safe is not sealed again";
}

TEST_F(SealPlainSafeTest, NoReadOnlyOrAFailedWriteLeaveThePlainSafe) {
    const std::string before = readFile(safe);
    openThroughOpenSafe(safe, "pw");
    shell.yesNoAnswers.push_back(false);
    sealSafe(session);
    EXPECT_EQ(readFile(safe), before);

    {
        // The sealed file cannot be written whole: the save fails and says why.
        rewriteWorkingCopy(containerBytes({{"big", patternBytes(2 * MiB, 2)}}));
        shell.clearRecords();
        shell.yesNoAnswers.push_back(true);
        FileSizeLimit full(MiB);
        sealSafe(session);
    }
    EXPECT_EQ(shell.messages.back().text, "Failed to Save file!\nFile too large");
    EXPECT_FALSE(isSealed(state));
    EXPECT_EQ(readFile(safe), before);

    state.readOnly = true;
    shell.clearRecords();
    sealSafe(session);
    EXPECT_EQ(shell.events.size(), 1u) << "no question in a read-only session";
    EXPECT_EQ(shell.messageTexts(), std::vector<std::string>{lifecycle_text::ReadOnlySafe});
    EXPECT_EQ(readFile(safe), before);
}

TEST_F(SealPlainSafeTest, NewSafeIsPlainEvenWhileASealedSafeIsOpen) {
    const std::filesystem::path sealed = root / "sealed.cx";
    writeSealedSafe(sealed, "pw", container);
    openThroughOpenSafe(sealed, "pw");
    const std::filesystem::path fresh = root / "fresh.cx";
    shell.newSafePickerAnswers.push_back(fresh.string());
    shell.passwordAnswers.push_back("new");
    createSafe(session);
    EXPECT_EQ(decryptedSafe(fresh, "new"), emptyContainerBytes());
    EXPECT_FALSE(isSealed(state));

    const std::filesystem::path freshSealed = root / "fresh-sealed.cx";
    shell.newSafePickerAnswers.push_back(freshSealed.string());
    shell.passwordAnswers.push_back("new");
    createSafe(session, SafeFormat::Sealed);
    EXPECT_TRUE(isSealed(state));
    EXPECT_EQ(vaultContents(freshSealed, "new"), Contents{});
}

} // namespace
} // namespace quorvane::test
