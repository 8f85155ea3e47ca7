#include "services/zip/ZipCrypt.h"

#include <zlib.h>

namespace qorv {

namespace {

uint32_t Crc32Step(const z_crc_t* table, uint32_t crc, uint8_t byte) {
    return table[(crc ^ byte) & 0xFF] ^ (crc >> 8);
}

uint8_t KeyStreamByte(const ZipCryptKeys& keys) {
    const uint32_t temp = (keys.k[2] & 0xFFFF) | 2;
    return static_cast<uint8_t>((temp * (temp ^ 1)) >> 8);
}

void UpdateKeys(const z_crc_t* table, ZipCryptKeys* keys, uint8_t plain) {
    keys->k[0] = Crc32Step(table, keys->k[0], plain);
    keys->k[1] = (keys->k[1] + (keys->k[0] & 0xFF)) * 134775813u + 1;
    keys->k[2] = Crc32Step(table, keys->k[2], static_cast<uint8_t>(keys->k[1] >> 24));
}

}  // namespace

ZipCryptKeys ZipCryptEmptyPasswordKeys() {
    return ZipCryptKeys{{305419896u, 591751049u, 878082192u}};
}

void ZipCryptDecrypt(ZipCryptKeys* keys, unsigned char* data, size_t size) {
    const z_crc_t* table = get_crc_table();
    for (size_t i = 0; i < size; ++i) {
        data[i] = static_cast<unsigned char>(data[i] ^ KeyStreamByte(*keys));
        UpdateKeys(table, keys, data[i]);
    }
}

}  // namespace qorv
