#include "cli/SafeInfo.h"

#include "cli/CliTexts.h"
#include "cli/JsonText.h"
#include "storage/format/SealedSafe.h"
#include "storage/format/sealed/VaultHeader.h"

#include <cerrno>
#include <cstring>
#include <fstream>

namespace quorvane {

namespace {

void printText(SealedHeaderResult header, const SealParameters& parameters, std::ostream& out) {
    out << "format: " << (header == SealedHeaderResult::NotSealed ? "plain" : "sealed") << '\n';
    if (header == SealedHeaderResult::NotSealed)
        out << "note: " << clitext::PlainHasNoSignature << '\n';
    if (header == SealedHeaderResult::Read)
        out << "kdf: argon2id passes=" << parameters.passes << " memory=" << parameters.memoryKiB
            << "KiB\n";
}

void printJson(SealedHeaderResult header, const SealParameters& parameters, std::ostream& out) {
    if (header == SealedHeaderResult::NotSealed) {
        out << "{\"format\":\"plain\",\"signature\":false,\"note\":"
            << jsonString(clitext::PlainHasNoSignature) << "}\n";
        return;
    }
    out << "{\"format\":\"sealed\",\"signature\":true,\"kdf\":";
    if (header == SealedHeaderResult::Read)
        out << "{\"algorithm\":\"argon2id\",\"passes\":" << parameters.passes
            << ",\"memory_kib\":" << parameters.memoryKiB << "}";
    else
        out << "null";
    out << "}\n";
}

// The second sealed version: its version named, its key's derivation from
// the newest key slot.
ExitCode printVaultInfo(const std::string& safePath, const vault::Bytes& header, bool json,
                        std::ostream& out, std::ostream& errors) {
    const auto description = vault::describeVault(header.data(), header.size());
    if (json) {
        out << "{\"format\":\"sealed\",\"version\":2,\"signature\":true,\"kdf\":";
        if (description)
            out << "{\"algorithm\":\"argon2id\",\"passes\":" << description->kdf.passes
                << ",\"memory_kib\":" << description->kdf.memoryKiB << "}";
        else
            out << "null";
        out << "}\n";
    } else {
        out << "format: sealed, version 2\n";
        if (description)
            out << "kdf: argon2id passes=" << description->kdf.passes
                << " memory=" << description->kdf.memoryKiB << "KiB\n";
    }
    out.flush();
    if (!description) {
        errors << clitext::MessagePrefix << safePath << ": " << clitext::UnreadableSealedHeader
               << '\n';
        return ExitCode::Failed;
    }
    return out ? ExitCode::Success : ExitCode::Failed;
}

} // namespace

ExitCode printSafeInfo(const std::string& safePath, bool json, std::ostream& out,
                       std::ostream& errors) {
    std::ifstream safe(safePath, std::ios::binary);
    vault::Bytes first(vault::HeaderSize);
    safe.read(reinterpret_cast<char*>(first.data()), static_cast<std::streamsize>(first.size()));
    first.resize(static_cast<std::size_t>(safe.gcount()));
    if (!safe.bad() && vault::sealedFormatOf(first.data(), first.size()) == vault::FormatNumber)
        return printVaultInfo(safePath, first, json, out, errors);
    safe.clear();
    SealParameters parameters;
    const SealedHeaderResult header =
        safe.is_open() ? readSealedHeader(safe, parameters) : SealedHeaderResult::ReadFailed;
    if (header == SealedHeaderResult::ReadFailed) {
        errors << clitext::MessagePrefix << safePath << ": " << std::strerror(errno) << '\n';
        return ExitCode::Failed;
    }
    if (json)
        printJson(header, parameters, out);
    else
        printText(header, parameters, out);
    out.flush();
    if (header == SealedHeaderResult::Unacceptable) {
        errors << clitext::MessagePrefix << safePath << ": " << clitext::UnreadableSealedHeader
               << '\n';
        return ExitCode::Failed;
    }
    return out ? ExitCode::Success : ExitCode::Failed;
}

} // namespace quorvane
