#include "tests/support/ChildProcess.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <exception>
#include <iostream>
#include <sys/wait.h>
#include <unistd.h>

namespace quorvane::test {

namespace {

[[noreturn]] void runAndExit(const std::function<void()>& body) {
    int code = 0;
    try {
        body();
        code = ::testing::Test::HasFailure() ? 1 : 0;
    } catch (const std::exception& failure) {
        std::cerr << "child threw: " << failure.what() << '\n';
        code = 2;
    }
    std::cout.flush();
    std::fflush(nullptr);
    // _exit: the parent's objects copied into the child must not be torn down twice.
    ::_exit(code);
}

} // namespace

pid_t startChild(const std::function<void()>& body) {
    std::cout.flush();
    std::fflush(nullptr);
    pid_t pid = ::fork();
    if (pid == 0)
        runAndExit(body);
    return pid;
}

int waitForChild(pid_t pid) {
    int status = 0;
    if (pid < 0 || ::waitpid(pid, &status, 0) != pid)
        return -1;
    if (WIFSIGNALED(status))
        return 128 + WTERMSIG(status);
    return WEXITSTATUS(status);
}

int runInChild(const std::function<void()>& body) {
    return waitForChild(startChild(body));
}

} // namespace quorvane::test
