#include "ui/PasswordStrength.h"

namespace quorvane {

int scorePassword(const std::string&) { return 0; }

const char* strengthWord(int) { return nullptr; }

} // namespace quorvane
