#include "workflow/PackageDigest.h"

#include <windows.h>

#include <wincrypt.h>

#include "workflow/FileHandle.h"

namespace qorv {

namespace {

class CryptProvider {
public:
    CryptProvider() {
        if (!CryptAcquireContextW(&m_handle, nullptr, nullptr, PROV_RSA_AES,
                                  CRYPT_VERIFYCONTEXT | CRYPT_SILENT)) {
            m_handle = 0;
        }
    }
    ~CryptProvider() {
        if (m_handle) CryptReleaseContext(m_handle, 0);
    }
    CryptProvider(const CryptProvider&) = delete;
    CryptProvider& operator=(const CryptProvider&) = delete;
    HCRYPTPROV get() const { return m_handle; }

private:
    HCRYPTPROV m_handle = 0;
};

class CryptHash {
public:
    explicit CryptHash(HCRYPTPROV provider) {
        if (!provider || !CryptCreateHash(provider, CALG_SHA_256, 0, 0, &m_handle)) m_handle = 0;
    }
    ~CryptHash() {
        if (m_handle) CryptDestroyHash(m_handle);
    }
    CryptHash(const CryptHash&) = delete;
    CryptHash& operator=(const CryptHash&) = delete;
    HCRYPTHASH get() const { return m_handle; }

private:
    HCRYPTHASH m_handle = 0;
};

// The SHA-256 of the whole file, read in 64 KiB pieces; false when the file
// cannot be read or the system's provider cannot hash.
bool Sha256OfFile(const std::wstring& path, Sha256Digest* digest) {
    // Shared for reading only: nobody may change the bytes while they count.
    FileHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    CryptProvider provider;
    CryptHash hash(provider.get());
    if (!file.valid() || !hash.get()) return false;
    BYTE buffer[64 * 1024];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.get(), buffer, sizeof(buffer), &read, nullptr)) return false;
        if (read == 0) break;
        if (!CryptHashData(hash.get(), buffer, read, 0)) return false;
    }
    DWORD size = static_cast<DWORD>(digest->size());
    return CryptGetHashParam(hash.get(), HP_HASHVAL, digest->data(), &size, 0) &&
           size == digest->size();
}

}  // namespace

bool PackageMatchesVersion(const std::wstring& archivePath, const std::wstring& versionText) {
    Sha256Digest expected{};
    if (!ParseSha256Hex(versionText, &expected)) return true;
    Sha256Digest actual{};
    return Sha256OfFile(archivePath, &actual) && actual == expected;
}

}  // namespace qorv
