#include <openssl/evp.h>

#include <cstdio>
#include <memory>

#include "services/FileSystem.h"
#include "workflow/PackageDigest.h"

namespace qorv {

namespace {

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};

struct DigestContextDeleter {
    void operator()(EVP_MD_CTX* context) const { EVP_MD_CTX_free(context); }
};

}  // namespace

bool Sha256OfFile(const std::wstring& path, Sha256Digest* digest) {
    std::unique_ptr<FILE, FileCloser> file(fopen(NativePath(path).c_str(), "rb"));
    std::unique_ptr<EVP_MD_CTX, DigestContextDeleter> context(EVP_MD_CTX_new());
    if (!file || !context || EVP_DigestInit_ex(context.get(), EVP_sha256(), nullptr) != 1) {
        return false;
    }
    unsigned char buffer[64 * 1024];
    size_t read = 0;
    while ((read = fread(buffer, 1, sizeof(buffer), file.get())) > 0) {
        if (EVP_DigestUpdate(context.get(), buffer, read) != 1) return false;
    }
    unsigned int size = 0;
    return !ferror(file.get()) && EVP_DigestFinal_ex(context.get(), digest->data(), &size) == 1 &&
           size == digest->size();
}

}  // namespace qorv
