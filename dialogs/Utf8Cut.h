#pragma once

#include <QString>

#include <cstddef>
#include <string>

namespace quorvane::dialogs {

// The first limit bytes of text's UTF-8 form, cut wherever the limit falls:
// what a fixed-size byte buffer would have kept.
std::string firstBytes(const QString& text, std::size_t limit);

// At most limit bytes of text's UTF-8 form, ending on a whole character.
std::string firstWholeCharacters(const QString& text, std::size_t limit);

} // namespace quorvane::dialogs
