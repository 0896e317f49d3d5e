// What a user of a photo library meets: folders added whole, names that
// clash on the way in and out, new names that could never come out again,
// hostile names in messages, and the two JSON documents read by a parser.

#include "tests/cli/CliFixture.h"

#include <sys/stat.h>

namespace quorvane::clitest {
namespace {

namespace fs = std::filesystem;

using CliFoldersAndNames = CliTest;

// The lines a JSON document gives Python's own parser, or "" when it cannot
// parse it: every entry as "number size name-as-UTF-8-in-hex name_hex", or
// the info document's keys and values.
std::string parsedByPython(const CliSandbox& box, const std::string& document,
                           const std::string& program) {
    const auto in = box.writeFile("document.json", document);
    const auto out = box.files() / "parsed.txt";
    const std::string command =
        "python3 -c '" + program + "' < '" + in.string() + "' > '" + out.string() + "'";
    if (runProgram({"/bin/sh", "-c", command}) != 0)
        return "";
    return readFile(out);
}

constexpr const char* EntryLines = "import json,sys\n"
                                   "for e in json.load(sys.stdin)[\"entries\"]:\n"
                                   "    print(e[\"number\"], e[\"size\"], "
                                   "e[\"name\"].encode().hex(), e.get(\"name_hex\", \"-\"))\n";

TEST_F(CliFoldersAndNames, AFolderAddsEveryRegularFileBelowItAndListsWhatItLeavesOut) {
    auto safe = sealSafe({{"IMG_0001.JPG", "there before"}});
    const fs::path library = file("library");
    fs::create_directories(library / "2023" / "camera-b");
    fs::create_directories(library / "2024");
    test::writeFile(library / "2023" / "IMG_0001.JPG", "from camera a");
    test::writeFile(library / "2023" / "camera-b" / "IMG_0001.JPG", "from camera b");
    test::writeFile(library / "2024" / "notes.txt", "notes");
    test::writeFile(library / "empty", "");
    fs::create_symlink(library / "2024" / "notes.txt", library / "link-to-notes");
    fs::create_directory_symlink(box.root(), library / "link-to-sandbox");
    // A hostile name in the folder is shown escaped.
    ASSERT_EQ(::mkfifo((library / "fifo\x1b[2J").c_str(), 0600), 0);

    RunResult added = cli({"add", safe.string(), library.string()});
    EXPECT_EQ(added.exitCode, 0) << added.err;
    const std::string prefix = "quorvane-cli: ";
    const std::string taken = ": stored as IMG_0001.JPG, which another entry already has\n";
    EXPECT_EQ(added.err, prefix + (library / "empty").string() +
                             ": not added: empty; a safe stores no "
                             "empty files\n" +
                             prefix + (library / "fifo\\x1b[2J").string() +
                             ": not added: not a regular file (a FIFO, a device or a socket)\n" +
                             prefix + (library / "link-to-notes").string() +
                             ": not added: a symbolic link, which is not followed\n" + prefix +
                             (library / "link-to-sandbox").string() +
                             ": not added: a symbolic link, which is not followed\n" + prefix +
                             (library / "2023" / "IMG_0001.JPG").string() + taken + prefix +
                             (library / "2023" / "camera-b" / "IMG_0001.JPG").string() + taken);
    EXPECT_EQ(listOf(safe), "0\t12\tIMG_0001.JPG\n1\t13\tIMG_0001.JPG\n2\t13\tIMG_0001.JPG\n"
                            "3\t5\tnotes.txt\n");

    // Extracting all writes each of them: the later ones under numbered names.
    const fs::path out = file("out");
    fs::create_directory(out);
    RunResult extracted = cli({"extract", safe.string(), out.string()});
    EXPECT_EQ(extracted.exitCode, 0) << extracted.err;
    EXPECT_EQ(extracted.err,
              "quorvane-cli: 2 entries were written under a new name, as a file of its name had "
              "already been extracted:\n"
              "quorvane-cli: Entry 1 \"IMG_0001.JPG\" was written as \"IMG_0001 (2).JPG\"\n"
              "quorvane-cli: Entry 2 \"IMG_0001.JPG\" was written as \"IMG_0001 (3).JPG\"\n");
    EXPECT_EQ(treeOf(out), (std::vector<std::string>{"IMG_0001 (2).JPG", "IMG_0001 (3).JPG",
                                                     "IMG_0001.JPG", "notes.txt"}));
    EXPECT_EQ(readFile(out / "IMG_0001.JPG"), "there before");
    EXPECT_EQ(readFile(out / "IMG_0001 (3).JPG"), "from camera b");
}

TEST_F(CliFoldersAndNames, RenameRefusesANameThatExtractingWouldRefuse) {
    auto safe = sealSafe({{"a.txt", "a"}});
    const std::string before = readFile(safe);
    const std::vector<std::pair<std::string, std::string>> refused = {
        {"", "the new name is empty"},
        {"../evil.txt", "the new name holds \"/\""},
        {"\x1b[2J", "control character"},
    };
    for (const auto& [name, why] : refused) {
        RunResult run = cli({"rename", safe.string(), "0", name});
        EXPECT_EQ(run.exitCode, 2) << name;
        EXPECT_TRUE(contains(run.err, "quorvane-cli: The entry was not renamed: ")) << run.err;
        EXPECT_TRUE(contains(run.err, why)) << run.err;
        EXPECT_EQ(readFile(safe), before) << name;
    }
}

// Hostile names from a safe made anywhere reach the terminal escaped: a name
// whose extraction fails cannot retitle the terminal or forge a line.
TEST_F(CliFoldersAndNames, AHostileNameInAReportIsEscaped) {
    const std::string hostile = "\x1b]0;owned\x07\nquorvane-cli: All 2 entries";
    const std::string control = "\xc2\x9b"
                                "2J";
    // The first cannot be put in place (linking or renaming it fails; the
    // working folder is made with renameat2 and keeps working), the second
    // finds a folder in its way.
    auto safe = sealSafe({{hostile, "x"}, {control, "y"}});
    const fs::path out = file("out");
    fs::create_directory(out);
    fs::create_directory(out / control);
    RunOptions failingRename;
    failingRename.wrapper = {"/usr/bin/strace",
                             "-f",
                             "-qq",
                             "-o",
                             "/dev/null",
                             "-e",
                             "trace=renameat,linkat",
                             "-e",
                             "inject=renameat,linkat:error=EROFS"};
    RunResult run = cli({"extract", safe.string(), out.string()}, failingRename);
    EXPECT_EQ(run.exitCode, 1);
    EXPECT_EQ(run.err.find_first_of("\x1b\x07"), std::string::npos) << run.err;
    EXPECT_FALSE(contains(run.err, control)) << run.err;
    EXPECT_FALSE(contains(run.err, "\nquorvane-cli: All 2")) << run.err;
    EXPECT_TRUE(contains(run.err, out.string() +
                                      "/\\x1B]0;owned\\x07\\x0Aquorvane-cli: All 2 entries: "
                                      "Read-only file system"))
        << run.err;
    EXPECT_TRUE(contains(run.err, "\"\\xC2\\x9B2J\"")) << run.err;
}

TEST_F(CliFoldersAndNames, ListJsonIsOneDocumentWithTheRawBytesOfNamesThatAreNotUtf8) {
    auto safe = sealSafe({{"caf\xc3\xa9 \xf0\x9f\x93\xb7.jpg", "12345"},
                          {"quote\" back\\ tab\t", "1"},
                          {"latin1 \xe9t\xe9", "22"},
                          {"esc\x1b[31m \xc2\x9b", "333"}});
    RunResult listed = cli({"list", safe.string(), "--json"});
    EXPECT_EQ(listed.exitCode, 0) << listed.err;
    EXPECT_EQ(listed.out.find_first_of("\x1b\t"), std::string::npos) << listed.out;
    EXPECT_EQ(parsedByPython(box, listed.out, EntryLines),
              "0 5 636166c3a920f09f93b72e6a7067 -\n"
              "1 1 71756f746522206261636b5c2074616209 -\n"
              "2 2 6c6174696e3120efbfbd74efbfbd 6c6174696e3120e974e9\n"
              "3 3 6573631b5b33316d20c29b -\n");
    RunResult empty = cli({"list", sealSafe({}, "empty.cx").string(), "--json"});
    EXPECT_EQ(parsedByPython(box, empty.out, EntryLines + std::string("print(\"parsed\")\n")),
              "parsed\n");
}

// info tells a plain safe from a sealed one by the sealed header alone: the
// plain format has no signature, so any other file shows as plain, and says so.
TEST_F(CliFoldersAndNames, InfoJsonGivesFormatSignatureAndKeyDerivation) {
    auto plain = sealSafe({{"a", "a"}});
    auto picture = box.writeFile("photo.png", "\x89PNG\r\n\x1a\n not a safe at all");
    auto sealed = file("sealed.cx");
    ASSERT_EQ(cli({"create", sealed.string(), "--sealed"}).exitCode, 0);
    const std::string fields =
        "import json,sys\n"
        "d=json.load(sys.stdin)\n"
        "print(d[\"format\"], d[\"signature\"], d.get(\"kdf\"), \"note\" in d)\n";
    const std::vector<std::pair<fs::path, std::string>> cases = {
        {plain, "plain False None True\n"},
        {picture, "plain False None True\n"},
        {sealed, "sealed True {'algorithm': 'argon2id', 'passes': 3, 'memory_kib': 65536} "
                 "False\n"},
    };
    for (const auto& [path, expected] : cases) {
        RunResult info = box.run({"info", path.string(), "--json"});
        EXPECT_EQ(info.exitCode, 0) << info.err;
        EXPECT_EQ(parsedByPython(box, info.out, fields), expected) << info.out;
    }
    EXPECT_EQ(box.run({"info", picture.string()}).out,
              "format: plain\nnote: the plain format has no signature, so any file that is not "
              "sealed shows as plain; only its password can tell whether it is a safe\n");
    EXPECT_EQ(box.run({"info", plain.string(), "--json", "x"}).exitCode, 2);
    EXPECT_EQ(cli({"add", plain.string(), picture.string(), "--json"}).exitCode, 2);
}

} // namespace
} // namespace quorvane::clitest
