#pragma once

// How a step of the tool fails: the exit status a script sees and the line
// that tells a person why. A step returns it to its caller, which reports it
// once, in the tool's own form; nothing on the way prints or keeps it aside.

#include "cli/ExitCode.h"

#include <string>
#include <utility>
#include <variant>

namespace quorvane {

struct CliFailure {
    ExitCode code = ExitCode::Failed;
    std::string message;
};

// What a step gives back: its value, or the failure that kept it from one.
template <typename T> class CliResult {
  public:
    CliResult(T value) : held_(std::move(value)) {}
    CliResult(CliFailure failure) : held_(std::move(failure)) {}

    explicit operator bool() const { return std::holds_alternative<T>(held_); }
    const T& value() const { return std::get<T>(held_); }
    T& value() { return std::get<T>(held_); }
    const CliFailure& failure() const { return std::get<CliFailure>(held_); }

  private:
    std::variant<T, CliFailure> held_;
};

} // namespace quorvane
