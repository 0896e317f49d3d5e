#pragma once

#include <string>

namespace quorvane {

// The strength score of a password: its length, 25 above 8 bytes, and 15 for
// each class present (digit, upper-case letter, letter, punctuation), the
// bytes classified as unsigned values in the "C" locale.
int scorePassword(const std::string& password);

// The word shown beside the strength bar, padded to 13 characters; nullptr
// from 80 up, where the word shown before stays.
const char* strengthWord(int score);

// Shown when the dialog opens, before anything is typed.
inline constexpr const char* InitialStrengthWord = "- Weak";

} // namespace quorvane
