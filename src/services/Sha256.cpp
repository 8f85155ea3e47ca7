#include "services/Sha256.h"

#include <cstring>
#include <vector>

#include "services/LocalFile.h"

namespace qorv {

namespace {

constexpr uint32_t kRound[64] = {
    0x428a2f98, 0x71374491, 0xb5c0fbcf, 0xe9b5dba5, 0x3956c25b, 0x59f111f1, 0x923f82a4, 0xab1c5ed5,
    0xd807aa98, 0x12835b01, 0x243185be, 0x550c7dc3, 0x72be5d74, 0x80deb1fe, 0x9bdc06a7, 0xc19bf174,
    0xe49b69c1, 0xefbe4786, 0x0fc19dc6, 0x240ca1cc, 0x2de92c6f, 0x4a7484aa, 0x5cb0a9dc, 0x76f988da,
    0x983e5152, 0xa831c66d, 0xb00327c8, 0xbf597fc7, 0xc6e00bf3, 0xd5a79147, 0x06ca6351, 0x14292967,
    0x27b70a85, 0x2e1b2138, 0x4d2c6dfc, 0x53380d13, 0x650a7354, 0x766a0abb, 0x81c2c92e, 0x92722c85,
    0xa2bfe8a1, 0xa81a664b, 0xc24b8b70, 0xc76c51a3, 0xd192e819, 0xd6990624, 0xf40e3585, 0x106aa070,
    0x19a4c116, 0x1e376c08, 0x2748774c, 0x34b0bcb5, 0x391c0cb3, 0x4ed8aa4a, 0x5b9cca4f, 0x682e6ff3,
    0x748f82ee, 0x78a5636f, 0x84c87814, 0x8cc70208, 0x90befffa, 0xa4506ceb, 0xbef9a3f7, 0xc67178f2};

inline uint32_t Rotate(uint32_t value, int bits) {
    return (value >> bits) | (value << (32 - bits));
}

inline uint32_t ReadBig32(const unsigned char* p) {
    return (static_cast<uint32_t>(p[0]) << 24) | (static_cast<uint32_t>(p[1]) << 16) |
           (static_cast<uint32_t>(p[2]) << 8) | p[3];
}

}  // namespace

Sha256::Sha256()
    : m_state{0x6a09e667, 0xbb67ae85, 0x3c6ef372, 0xa54ff53a,
              0x510e527f, 0x9b05688c, 0x1f83d9ab, 0x5be0cd19} {}

void Sha256::Compress(const unsigned char* block) {
    uint32_t w[64];
    for (int i = 0; i < 16; ++i) w[i] = ReadBig32(block + 4 * i);
    for (int i = 16; i < 64; ++i) {
        const uint32_t s0 = Rotate(w[i - 15], 7) ^ Rotate(w[i - 15], 18) ^ (w[i - 15] >> 3);
        const uint32_t s1 = Rotate(w[i - 2], 17) ^ Rotate(w[i - 2], 19) ^ (w[i - 2] >> 10);
        w[i] = w[i - 16] + s0 + w[i - 7] + s1;
    }
    uint32_t a = m_state[0], b = m_state[1], c = m_state[2], d = m_state[3];
    uint32_t e = m_state[4], f = m_state[5], g = m_state[6], h = m_state[7];
    for (int i = 0; i < 64; ++i) {
        const uint32_t t1 = h + (Rotate(e, 6) ^ Rotate(e, 11) ^ Rotate(e, 25)) +
                            ((e & f) ^ (~e & g)) + kRound[i] + w[i];
        const uint32_t t2 =
            (Rotate(a, 2) ^ Rotate(a, 13) ^ Rotate(a, 22)) + ((a & b) ^ (a & c) ^ (b & c));
        h = g;
        g = f;
        f = e;
        e = d + t1;
        d = c;
        c = b;
        b = a;
        a = t1 + t2;
    }
    m_state[0] += a;
    m_state[1] += b;
    m_state[2] += c;
    m_state[3] += d;
    m_state[4] += e;
    m_state[5] += f;
    m_state[6] += g;
    m_state[7] += h;
}

void Sha256::Update(const void* data, size_t size) {
    if (size == 0) return;
    const auto* bytes = static_cast<const unsigned char*>(data);
    m_total += size;
    if (m_blockUsed > 0) {
        const size_t take =
            size < sizeof(m_block) - m_blockUsed ? size : sizeof(m_block) - m_blockUsed;
        memcpy(m_block + m_blockUsed, bytes, take);
        m_blockUsed += take;
        bytes += take;
        size -= take;
        if (m_blockUsed < sizeof(m_block)) return;
        Compress(m_block);
        m_blockUsed = 0;
    }
    // Whole blocks straight from the caller's bytes: no copy.
    for (; size >= sizeof(m_block); bytes += sizeof(m_block), size -= sizeof(m_block)) {
        Compress(bytes);
    }
    memcpy(m_block, bytes, size);
    m_blockUsed = size;
}

Sha256Digest Sha256::Final() {
    // A 1 bit and zeros up to 8 bytes short of a block's end, then the
    // message length in bits, big-endian.
    const uint64_t bits = m_total * 8;
    unsigned char padding[72] = {0x80};
    const size_t fill = (m_blockUsed < 56 ? 56 : 120) - m_blockUsed;
    for (int i = 0; i < 8; ++i) {
        padding[fill + i] = static_cast<unsigned char>(bits >> (56 - 8 * i));
    }
    Update(padding, fill + 8);
    Sha256Digest digest;
    for (size_t i = 0; i < digest.size(); ++i) {
        digest[i] = static_cast<unsigned char>(m_state[i / 4] >> (24 - 8 * (i % 4)));
    }
    return digest;
}

bool Sha256OfFile(const std::wstring& path, Sha256Digest* digest) {
    // Opened for reading, shared only with readers: nobody changes the bytes
    // while they are counted.
    LocalFile file;
    uint64_t size = 0;
    if (file.Open(path, LocalFile::Mode::kRead) != S_OK || file.Size(&size) != S_OK) return false;
    std::vector<unsigned char> buffer(256 * 1024);
    Sha256 hash;
    for (uint64_t offset = 0; offset < size;) {
        const size_t piece =
            size - offset < buffer.size() ? static_cast<size_t>(size - offset) : buffer.size();
        if (file.ReadAt(offset, buffer.data(), piece) != S_OK) return false;
        hash.Update(buffer.data(), piece);
        offset += piece;
    }
    *digest = hash.Final();
    return true;
}

}  // namespace qorv
