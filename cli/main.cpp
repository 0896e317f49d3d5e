#include "cli/CliRun.h"

#include <string>
#include <vector>

int main(int argc, char** argv) {
    std::vector<std::string> args;
    for (int i = 1; i < argc; ++i)
        args.emplace_back(argv[i]);
    // Returning (rather than exiting) lets the working directory be removed on the way out.
    return quorvane::runCli(args);
}
