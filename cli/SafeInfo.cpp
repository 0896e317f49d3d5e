#include "cli/SafeInfo.h"

#include "cli/CliTexts.h"
#include "storage/format/SealedSafe.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace quorvane {

ExitCode printSafeInfo(const std::string& safePath, std::ostream& out, std::ostream& errors) {
    std::ifstream safe(safePath, std::ios::binary);
    SealParameters parameters;
    const SealedHeaderRead header =
        safe.is_open() ? readSealedHeader(safe, parameters) : SealedHeaderRead::ReadFailed;
    if (header == SealedHeaderRead::ReadFailed) {
        errors << clitext::MessagePrefix << safePath << ": " << std::strerror(errno) << '\n';
        return ExitCode::Failed;
    }
    out << "format: " << (header == SealedHeaderRead::NotSealed ? "plain" : "sealed") << '\n';
    if (header == SealedHeaderRead::Read)
        out << "kdf: argon2id passes=" << parameters.passes << " memory=" << parameters.memoryKiB
            << "KiB\n";
    out.flush();
    if (header == SealedHeaderRead::Unacceptable) {
        errors << clitext::MessagePrefix << safePath << ": " << clitext::UnreadableSealedHeader
               << '\n';
        return ExitCode::Failed;
    }
    return out ? ExitCode::Success : ExitCode::Failed;
}

} // namespace quorvane
