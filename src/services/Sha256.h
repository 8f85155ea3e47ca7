// SHA-256 (FIPS 180-4) in plain C++, so a package and its entries are judged
// by the same code on every build.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace qorv {

using Sha256Digest = std::array<unsigned char, 32>;

// The digest of bytes given in any number of pieces.
class Sha256 {
public:
    Sha256();
    void Update(const void* data, size_t size);
    // The digest of everything given; the object is spent afterwards.
    Sha256Digest Final();

private:
    void Compress(const unsigned char* block);

    uint32_t m_state[8];
    unsigned char m_block[64];
    size_t m_blockUsed = 0;
    uint64_t m_total = 0;  // bytes given so far
};

// The SHA-256 of the whole file at path; false when it cannot be read to
// its end.
bool Sha256OfFile(const std::wstring& path, Sha256Digest* digest);

}  // namespace qorv
