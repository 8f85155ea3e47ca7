// Writing an encrypted entry: its data read raw, decrypted, inflated and
// checked here, since the reader in use does not decrypt.
#pragma once

#include "services/TargetFile.h"
#include "services/zip/ZipExtractor.h"

namespace qorv {

// Copies the reader's current entry into file through output, which holds
// kZipOutputBufferSize bytes. ZipErrPassword when the decrypted header
// fails its check byte, ZipErrInflate when the data cannot be read or
// decompressed to its end or its size or CRC-32 is wrong, ZipErrWrite when
// file cannot be written.
ZipResult ZipWriteEncryptedEntry(unzFile reader, const ZipEntryFacts& facts, unsigned char* output,
                                 TargetFile& file);

}  // namespace qorv
