#include "storage/workingcopy/SessionKey.h"

#include <cryptopp/misc.h>
#include <cryptopp/osrng.h>

#include <sys/mman.h>
#include <unistd.h>

namespace quorvane {

namespace {

std::size_t pageSize() {
    return static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
}

} // namespace

SessionKey::SessionKey() {
    void* page =
        ::mmap(nullptr, pageSize(), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED)
        return;
    // Both are best effort: a system that refuses them still gets a key that
    // never touches a file of ours.
    ::mlock(page, pageSize());
    ::madvise(page, pageSize(), MADV_DONTDUMP);
    bytes_ = static_cast<unsigned char*>(page);
}

SessionKey::~SessionKey() {
    if (bytes_ == nullptr)
        return;
    wipe();
    ::munlock(bytes_, pageSize());
    ::munmap(bytes_, pageSize());
}

bool SessionKey::generate() {
    if (bytes_ == nullptr)
        return false;
    try {
        CryptoPP::AutoSeededRandomPool pool(false, 32);
        pool.GenerateBlock(bytes_, Size);
        return true;
    } catch (const std::exception&) {
        wipe();
        return false;
    }
}

void SessionKey::wipe() {
    if (bytes_ != nullptr)
        CryptoPP::SecureWipeBuffer(bytes_, Size);
}

} // namespace quorvane
