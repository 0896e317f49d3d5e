// The strength score and word of the password dialog, as a table of inputs.

#include "ui/PasswordStrength.h"

#include <gtest/gtest.h>

#include <cctype>
#include <clocale>
#include <cstring>
#include <string>

namespace quorvane {
namespace {

struct ScoreCase {
    const char* what;
    std::string password;
    int score;
    const char* word; // nullptr: the word shown before stays
};

std::string letters(std::size_t n) {
    std::string text;
    for (std::size_t i = 0; i < n; ++i)
        text += static_cast<char>('a' + i % 26);
    return text;
}

const ScoreCase ScoreTable[] = {
    {"empty", "", 0, "- Weak       "},
    {"three lower-case letters", "abc", 18, "- Weak       "},
    {"eight lower-case letters", letters(8), 23, "- Weak       "},
    {"nine lower-case letters", letters(9), 49, "- Ok         "},
    {"upper, two lower, digit", "Abc1", 49, "- Ok         "},
    {"upper, two lower, digit, punctuation", "Abc1!", 65, "- Strong     "},
    {"eight with digit, upper and punctuation", "Abcdef1!", 68, "- Strong     "},
    {"nine with digit, upper and punctuation", "Abcdef1!x", 94, nullptr},
    {"ten lower-case letters", letters(10), 50, "- Strong     "},
    {"29 lower-case letters", letters(29), 69, "- Strong     "},
    {"30 lower-case letters", letters(30), 70, "- Very Strong"},
    {"39 lower-case letters", letters(39), 79, "- Very Strong"},
    {"40 lower-case letters", letters(40), 80, nullptr},
    {"60 lower-case letters", letters(60), 100, nullptr},
    {"four spaces", "    ", 4, "- Weak       "},
    {"twelve spaces", std::string(12, ' '), 37, "- Ok         "},
    {"only digits", "12345", 20, "- Weak       "},
    {"upper-case counts as upper and as letter", "A", 31, "- Ok         "},
    {"each class once however often", "aaaaAAAA", 38, "- Ok         "},
    {"punctuation alone", "!", 16, "- Weak       "},
    {"tab and newline are in no class", "\t\n", 2, "- Weak       "},
    {"UTF-8 letters are in no class", "\xC3\xA9\xC3\xA8", 4, "- Weak       "},
    {"UTF-8 bytes count their length", "\xC3\xA9\xC3\xA8\xC3\xA0\xC3\xB4\xC3\xBB", 35,
     "- Ok         "},
    {"every class and the longest password", "A1!" + letters(246), 334, nullptr},
};

class ScoreTableTest : public testing::TestWithParam<ScoreCase> {};

TEST_P(ScoreTableTest, ScoreAndWord) {
    const ScoreCase& c = GetParam();
    const int score = scorePassword(c.password);
    EXPECT_EQ(score, c.score) << c.what;
    const char* word = strengthWord(score);
    if (c.word == nullptr) {
        EXPECT_EQ(word, nullptr) << c.what;
        return;
    }
    ASSERT_NE(word, nullptr) << c.what;
    EXPECT_STREQ(word, c.word) << c.what;
}

INSTANTIATE_TEST_SUITE_P(ScoreExamples, ScoreTableTest, testing::ValuesIn(ScoreTable));

TEST(StrengthWord, BandsAndPadding) {
    const struct {
        int score;
        const char* word;
    } bands[] = {{-1, "- Weak       "}, {0, "- Weak       "},  {24, "- Weak       "},
                 {25, "- Ok         "}, {49, "- Ok         "}, {50, "- Strong     "},
                 {69, "- Strong     "}, {70, "- Very Strong"}, {79, "- Very Strong"}};
    for (const auto& band : bands) {
        const char* word = strengthWord(band.score);
        ASSERT_NE(word, nullptr) << band.score;
        EXPECT_STREQ(word, band.word) << band.score;
        EXPECT_EQ(std::strlen(word), 13u) << band.score;
    }
    for (int score : {80, 99, 100, 334})
        EXPECT_EQ(strengthWord(score), nullptr) << score;
    EXPECT_STREQ(InitialStrengthWord, "- Weak");
}

// Every single byte against the C library's own classification in the "C"
// locale: one byte scores 1 plus 15 for each class it is in.
TEST(ScoreClasses, EverySingleByteMatchesTheCLocale) {
    ASSERT_NE(std::setlocale(LC_CTYPE, "C"), nullptr);
    for (int value = 0; value < 256; ++value) {
        const auto byte = static_cast<unsigned char>(value);
        int expected = 1;
        expected += std::isdigit(byte) ? 15 : 0;
        expected += std::isupper(byte) ? 15 : 0;
        expected += std::isalpha(byte) ? 15 : 0;
        expected += std::ispunct(byte) ? 15 : 0;
        EXPECT_EQ(scorePassword(std::string(1, static_cast<char>(byte))), expected)
            << "byte " << value;
    }
}

TEST(ScoreClasses, ByteAboveAsciiStaysOutOfEveryClassUnderAUtf8Locale) {
    // The desktop program runs under the user's locale; the score must not
    // change with it.
    if (std::setlocale(LC_CTYPE, "C.UTF-8") == nullptr)
        GTEST_SKIP() << "no C.UTF-8 locale here";
    EXPECT_EQ(scorePassword("\xC3\x89"), 2); // an upper-case letter in UTF-8
    EXPECT_EQ(scorePassword("\xA7"), 1);
    std::setlocale(LC_CTYPE, "C");
}

} // namespace
} // namespace quorvane
