#pragma once

// Stored names as text. A name is whatever bytes a safe made anywhere holds,
// so before it is shown it is walked as UTF-8: what would act on a terminal
// or a text box instead of being shown (control characters, C1 controls,
// line separators, the marks that reverse the direction of the text) and
// bytes that are no UTF-8 at all are escaped by the caller's rule.

#include <cstddef>
#include <string>

namespace quorvane {

// The length of the printable character that starts at name[at], or 0 when
// the byte there has to be escaped (a control, a C1 control, U+2028/U+2029,
// a bidirectional control, or a byte that starts no valid UTF-8 sequence).
std::size_t printableSequenceAt(const std::string& name, std::size_t at);

// The name with every character that would act instead of showing written
// as \xNN per byte; bytes that are no UTF-8 are kept, for a display that
// shows them as replacement characters anyway (the window's list).
std::string withActingCharactersEscaped(const std::string& name);

// True when the whole name is valid UTF-8 (controls included).
bool isUtf8(const std::string& name);

// The code point of the valid UTF-8 sequence at name[at] and its length in
// length; length 0 when the bytes there are no valid sequence.
char32_t utf8CodePointAt(const std::string& name, std::size_t at, std::size_t& length);

} // namespace quorvane
