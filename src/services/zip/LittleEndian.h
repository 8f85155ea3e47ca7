// Reading the little-endian integers of zip records from bytes.
#pragma once

#include <cstdint>

namespace qorv {

inline uint16_t ZipRead16(const unsigned char* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline uint32_t ZipRead32(const unsigned char* p) {
    return static_cast<uint32_t>(ZipRead16(p)) | (static_cast<uint32_t>(ZipRead16(p + 2)) << 16);
}

inline uint64_t ZipRead64(const unsigned char* p) {
    return static_cast<uint64_t>(ZipRead32(p)) | (static_cast<uint64_t>(ZipRead32(p + 4)) << 32);
}

}  // namespace qorv
