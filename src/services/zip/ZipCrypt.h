// Traditional PKWARE decryption with the empty password, the only password
// entries are read with. The minizip builds in use leave decryption out, so
// encrypted entries are read raw and decrypted here.
#pragma once

#include <cstddef>
#include <cstdint>

namespace qorv {

constexpr int kZipEncryptionHeaderSize = 12;

struct ZipCryptKeys {
    uint32_t k[3];
};

// The keys of the empty password.
ZipCryptKeys ZipCryptEmptyPasswordKeys();

// Decrypts data in place, advancing the keys.
void ZipCryptDecrypt(ZipCryptKeys* keys, unsigned char* data, size_t size);

}  // namespace qorv
