#include "workflow/PackageDigest.h"

#include <windows.h>

#include <wincrypt.h>

#include "services/UniqueHandle.h"

namespace qorv {

namespace {

struct CryptProviderTraits {
    using Handle = HCRYPTPROV;
    static Handle None() { return 0; }
    static bool IsValid(Handle handle) { return handle != 0; }
    static void Close(Handle handle) { CryptReleaseContext(handle, 0); }
};

struct CryptHashTraits {
    using Handle = HCRYPTHASH;
    static Handle None() { return 0; }
    static bool IsValid(Handle handle) { return handle != 0; }
    static void Close(Handle handle) { CryptDestroyHash(handle); }
};

}  // namespace

bool Sha256OfFile(const std::wstring& path, Sha256Digest* digest) {
    // Shared for reading only: nobody may change the bytes while they count.
    KernelHandle file(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
    UniqueHandle<CryptProviderTraits> provider;
    UniqueHandle<CryptHashTraits> hash;
    if (!file.IsValid() ||
        !CryptAcquireContextW(provider.Receive(), nullptr, nullptr, PROV_RSA_AES,
                              CRYPT_VERIFYCONTEXT | CRYPT_SILENT) ||
        !CryptCreateHash(provider.Get(), CALG_SHA_256, 0, 0, hash.Receive())) {
        return false;
    }
    BYTE buffer[64 * 1024];
    for (;;) {
        DWORD read = 0;
        if (!ReadFile(file.Get(), buffer, sizeof(buffer), &read, nullptr)) return false;
        if (read == 0) break;
        if (!CryptHashData(hash.Get(), buffer, read, 0)) return false;
    }
    DWORD size = static_cast<DWORD>(digest->size());
    return CryptGetHashParam(hash.Get(), HP_HASHVAL, digest->data(), &size, 0) &&
           size == digest->size();
}

}  // namespace qorv
