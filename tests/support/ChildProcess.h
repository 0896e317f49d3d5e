#pragma once

#include <functional>
#include <sys/types.h>

namespace quorvane::test {

// Runs body in a forked child so that a fault provoked there (a file size
// limit, another user id, a kill) cannot harm the test process. GoogleTest
// assertions work inside body; their messages reach the output as usual.
// Returns the child's exit code: 0 when body passed, 1 when an assertion
// failed, 2 when it threw; 128 + n when signal n ended it.
int runInChild(const std::function<void()>& body);

// Starts body in a forked child and returns at once with its process id;
// the child ends with exit code 0 when body returns.
pid_t startChild(const std::function<void()>& body);

// Waits for pid and returns its exit code as runInChild does.
int waitForChild(pid_t pid);

} // namespace quorvane::test
