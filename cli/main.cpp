#include "cli/CliRun.h"
#include "cli/CliTexts.h"
#include "lifecycle/ProcessEnds.h"

#include <csignal>
#include <exception>
#include <iostream>
#include <string>
#include <vector>

int main(int argc, char** argv) {
    quorvane::keepProcessPrivate();
    // A reader that goes away (list | head) must not kill the process before
    // it has removed its working directory; the failed write is reported instead.
    std::signal(SIGPIPE, SIG_IGN);
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    // Returning (rather than exiting) lets the working directory be removed on
    // the way out, and so does catching here: an exception that nothing
    // catches ends the process without unwinding.
    try {
        return quorvane::runCli(args);
    } catch (const std::exception& failure) {
        std::cerr << quorvane::clitext::MessagePrefix
                  << quorvane::clitext::internalError(failure.what()) << '\n';
    } catch (...) {
        std::cerr << quorvane::clitext::MessagePrefix
                  << quorvane::clitext::internalError(quorvane::clitext::UnknownFailure) << '\n';
    }
    return 1;
}
