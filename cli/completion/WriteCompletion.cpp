// Writes the bash completion of quorvane-cli to the file named by its one
// argument, at build time, from the same table the tool parses with.

#include "cli/CompletionScript.h"

#include <fstream>
#include <iostream>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: quorvane-cli-completion FILE\n";
        return 2;
    }
    std::ofstream out(argv[1], std::ios::binary);
    out << quorvane::bashCompletionScript();
    out.close();
    if (!out) {
        std::cerr << "quorvane-cli-completion: cannot write " << argv[1] << '\n';
        return 1;
    }
    return 0;
}
