// What the tool reads and writes, checked against an independent reading:
// safes made by openssl, safes written by the tool decrypted by openssl and
// compared with the container layout byte by byte, and the list's escaping.

#include "tests/cli/CliFixture.h"

#include <algorithm>

namespace quorvane::clitest {
namespace {

namespace fs = std::filesystem;

using test::patternBytes;

using CliFormats = CliTest;

TEST_F(CliFormats, ASafeMadeByOpensslIsListedAndExtracted) {
    // Sizes around the cipher's 16-byte blocks and the 1 MiB copy buffers.
    const std::vector<StoredFile> stored = {
        {"big.bin", patternBytes((1u << 20) + 17, 1)}, {"one.bin", patternBytes(1, 2)},
        {"block.bin", patternBytes(512, 3)},           {"block1.bin", patternBytes(513, 4)},
        {"sixteen.bin", patternBytes(16, 5)},
    };
    auto safe = sealSafe(stored);
    EXPECT_EQ(listOf(safe), "0\t1048593\tbig.bin\n1\t1\tone.bin\n2\t512\tblock.bin\n"
                            "3\t513\tblock1.bin\n4\t16\tsixteen.bin\n");
    fs::create_directory(file("out"));
    RunResult extracted = cli({"extract", safe.string(), file("out").string()});
    ASSERT_EQ(extracted.exitCode, 0) << extracted.err;
    for (const auto& entry : stored)
        EXPECT_EQ(readFile(file("out") / entry.name), entry.content) << entry.name;
}

// The field-by-field layout is the storage tests' business; here: what the
// tool writes is what openssl and the independent builder agree on.
TEST_F(CliFormats, ASafeWrittenByAddHoldsTheDocumentedContainer) {
    auto safe = file("s.cx");
    ASSERT_EQ(cli({"create", safe.string()}).exitCode, 0);
    auto a = box.writeFile("a.txt", "hello");
    ASSERT_EQ(cli({"add", safe.string(), a.string()}).exitCode, 0);
    // 16 bytes of IV, then the 83 container bytes padded to whole blocks.
    EXPECT_EQ(readFile(safe).size(), 16u + 96u);
    EXPECT_EQ(opensslOpen(box, safe, Password), containerBytes({{"a.txt", "hello"}}));

    // Further adds write their records over the old index table; names
    // longer than the 50-byte field are cut.
    const std::string sixty(60, 'L');
    const std::string fifty = std::string(45, 'F') + ".txt" + "x";
    auto b = box.writeFile("b.bin", patternBytes(513, 9));
    auto longFile = box.writeFile(sixty, "long");
    auto exactFile = box.writeFile(fifty, "exact");
    ASSERT_EQ(
        cli({"add", safe.string(), b.string(), longFile.string(), exactFile.string()}).exitCode, 0);
    EXPECT_EQ(listOf(safe), "0\t5\ta.txt\n1\t513\tb.bin\n2\t4\t" + std::string(50, 'L') +
                                "\n3\t5\t" + fifty + "\n");
    EXPECT_EQ(opensslOpen(box, safe, Password), containerBytes({{"a.txt", "hello"},
                                                                {"b.bin", patternBytes(513, 9)},
                                                                {std::string(50, 'L'), "long"},
                                                                {fifty, "exact"}}));
}

TEST_F(CliFormats, ListEscapesEveryByteThatWouldBreakALine) {
    // Names built byte by byte: nothing here could be typed in the window.
    const std::vector<std::pair<std::string, std::string>> names = {
        {"tab\there", "tab\\there"},
        {"new\nline", "new\\nline"},
        {"carriage\rreturn", "carriage\\rreturn"},
        {"back\\slash", "back\\\\slash"},
        {std::string("\x01"
                     "start"),
         "\\x01start"},
        {std::string("del\x7f"), "del\\x7f"},
        {std::string("esc\x1b[31m"), "esc\\x1b[31m"},
        {std::string("\x1f\x10\x0b\x0c"), "\\x1f\\x10\\x0b\\x0c"},
        {"\xc3\xbc"
         "ber caf\xc3\xa9",
         "\xc3\xbc"
         "ber caf\xc3\xa9"},                               // UTF-8 kept as is
        {std::string("\xff\x80 high"), "\\xff\\x80 high"}, // no UTF-8
        {"c1 \xc2\x9b"
         "2J",
         "c1 \\xc2\\x9b2J"}, // a C1 control
        {"rlo \xe2\x80\xae"
         "txt",
         "rlo \\xe2\\x80\\xaetxt"}, // a direction mark
        {"", ""},
        {std::string(50, '\t'),
         [] {
             std::string escaped;
             for (int i = 0; i < 50; ++i)
                 escaped += "\\t";
             return escaped;
         }()},
    };
    std::vector<StoredFile> stored;
    std::string expected;
    for (std::size_t i = 0; i < names.size(); ++i) {
        stored.push_back({names[i].first, "x"});
        expected += std::to_string(i) + "\t1\t" + names[i].second + "\n";
    }
    auto safe = sealSafe(stored);
    RunResult listed = cli({"list", safe.string()});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out, expected);
    // Every entry is exactly one line of three fields.
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\n'),
              static_cast<long>(names.size()));
    EXPECT_EQ(std::count(listed.out.begin(), listed.out.end(), '\t'),
              static_cast<long>(2 * names.size()));
}

TEST_F(CliFormats, AnIncompatibleVersionIsReportedAndListedAllTheSame) {
    auto safe = sealSafe({{"a.txt", "alpha"}, {"b.txt", "beta"}}, "v3.cx", 3);
    RunResult listed = cli({"list", safe.string()});
    EXPECT_EQ(listed.exitCode, 1);
    EXPECT_EQ(listed.err, "quorvane-cli: Incompattible file\n");
    EXPECT_EQ(listed.out, "0\t5\ta.txt\n1\t4\tb.txt\n");
}

TEST_F(CliFormats, AnOpenedAndRewrittenSafeGetsANewIvButTheSameContainer) {
    auto safe = sealSafe({{"a.txt", "alpha"}});
    const std::string before = readFile(safe);
    ASSERT_EQ(cli({"rename", safe.string(), "0", "a.txt"}).exitCode, 0);
    const std::string after = readFile(safe);
    EXPECT_NE(after.substr(0, 16), before.substr(0, 16));
    EXPECT_EQ(opensslOpen(box, safe, Password), containerBytes({{"a.txt", "alpha"}}));
}

} // namespace
} // namespace quorvane::clitest
