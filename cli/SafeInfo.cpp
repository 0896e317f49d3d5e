#include "cli/SafeInfo.h"

#include "cli/CliTexts.h"
#include "cli/JsonText.h"
#include "storage/format/SealedSafe.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace quorvane {

namespace {

void printText(SealedHeaderRead header, const SealParameters& parameters, std::ostream& out) {
    out << "format: " << (header == SealedHeaderRead::NotSealed ? "plain" : "sealed") << '\n';
    if (header == SealedHeaderRead::NotSealed)
        out << "note: " << clitext::PlainHasNoSignature << '\n';
    if (header == SealedHeaderRead::Read)
        out << "kdf: argon2id passes=" << parameters.passes << " memory=" << parameters.memoryKiB
            << "KiB\n";
}

void printJson(SealedHeaderRead header, const SealParameters& parameters, std::ostream& out) {
    if (header == SealedHeaderRead::NotSealed) {
        out << "{\"format\":\"plain\",\"signature\":false,\"note\":"
            << jsonString(clitext::PlainHasNoSignature) << "}\n";
        return;
    }
    out << "{\"format\":\"sealed\",\"signature\":true,\"kdf\":";
    if (header == SealedHeaderRead::Read)
        out << "{\"algorithm\":\"argon2id\",\"passes\":" << parameters.passes
            << ",\"memory_kib\":" << parameters.memoryKiB << "}";
    else
        out << "null";
    out << "}\n";
}

} // namespace

ExitCode printSafeInfo(const std::string& safePath, bool json, std::ostream& out,
                       std::ostream& errors) {
    std::ifstream safe(safePath, std::ios::binary);
    SealParameters parameters;
    const SealedHeaderRead header =
        safe.is_open() ? readSealedHeader(safe, parameters) : SealedHeaderRead::ReadFailed;
    if (header == SealedHeaderRead::ReadFailed) {
        errors << clitext::MessagePrefix << safePath << ": " << std::strerror(errno) << '\n';
        return ExitCode::Failed;
    }
    if (json)
        printJson(header, parameters, out);
    else
        printText(header, parameters, out);
    out.flush();
    if (header == SealedHeaderRead::Unacceptable) {
        errors << clitext::MessagePrefix << safePath << ": " << clitext::UnreadableSealedHeader
               << '\n';
        return ExitCode::Failed;
    }
    return out ? ExitCode::Success : ExitCode::Failed;
}

} // namespace quorvane
