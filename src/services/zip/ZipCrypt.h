// The traditional PKWARE encryption's check of the 12-byte encryption
// header, for the empty password that every entry is read with.
#pragma once

#include <cstdint>

constexpr int kZipEncryptionHeaderSize = 12;

// Decrypts header with the empty password and returns its last byte, which
// must equal the high byte of the entry's CRC-32 (or of its DOS time when
// general-purpose bit 3 is set).
uint8_t ZipDecryptCheckByte(const uint8_t (&header)[kZipEncryptionHeaderSize]);
