#pragma once

// A random key that lives for one session and only in memory: on a page of
// its own, locked against swapping, left out of core dumps, and wiped when it
// goes.

#include <cstddef>

namespace quorvane {

class SessionKey {
  public:
    static constexpr std::size_t Size = 64; // two AES-256 keys, as XTS takes them

    SessionKey();
    ~SessionKey();
    SessionKey(const SessionKey&) = delete;
    SessionKey& operator=(const SessionKey&) = delete;

    // Fills the key with fresh random bytes; false when the system gave none
    // (or no page could be had for it).
    bool generate();
    void wipe();
    const unsigned char* data() const { return bytes_; }

  private:
    unsigned char* bytes_ = nullptr;
};

} // namespace quorvane
