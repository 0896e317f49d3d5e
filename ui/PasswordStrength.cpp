#include "ui/PasswordStrength.h"

namespace quorvane {

namespace {

// Each class counts once, however many of its bytes the text holds.
constexpr int ClassBonus = 15;
constexpr int LengthBonus = 25;
constexpr std::size_t LengthBonusAbove = 8;

struct ClassesPresent {
    bool digit = false;
    bool upper = false;
    bool letter = false;
    bool punctuation = false;
};

// The classes are the "C" locale's over unsigned byte values, spelled out
// here because the desktop program runs under the user's locale (Qt sets it),
// where <cctype> could classify bytes from 0x80 up. Those bytes, which carry
// every multi-byte UTF-8 character, belong to no class.
bool isDigit(unsigned char byte) {
    return byte >= '0' && byte <= '9';
}
bool isUpper(unsigned char byte) {
    return byte >= 'A' && byte <= 'Z';
}
bool isLower(unsigned char byte) {
    return byte >= 'a' && byte <= 'z';
}
bool isLetter(unsigned char byte) {
    return isUpper(byte) || isLower(byte);
}
// Printable, neither a letter, a digit nor the space.
bool isPunctuation(unsigned char byte) {
    return byte > ' ' && byte < 0x7F && !isLetter(byte) && !isDigit(byte);
}

ClassesPresent classify(const std::string& password) {
    ClassesPresent found;
    for (const char c : password) {
        const auto byte = static_cast<unsigned char>(c);
        found.digit = found.digit || isDigit(byte);
        found.upper = found.upper || isUpper(byte);
        found.letter = found.letter || isLetter(byte);
        found.punctuation = found.punctuation || isPunctuation(byte);
    }
    return found;
}

int bonus(bool present) {
    return present ? ClassBonus : 0;
}

} // namespace

int scorePassword(const std::string& password) {
    const ClassesPresent found = classify(password);
    int score = static_cast<int>(password.size());
    if (password.size() > LengthBonusAbove)
        score += LengthBonus;
    score +=
        bonus(found.digit) + bonus(found.upper) + bonus(found.letter) + bonus(found.punctuation);
    return score;
}

const char* strengthWord(int score) {
    if (score < 25)
        return "- Weak       ";
    if (score < 50)
        return "- Ok         ";
    if (score < 70)
        return "- Strong     ";
    if (score < 80)
        return "- Very Strong";
    return nullptr;
}

} // namespace quorvane
