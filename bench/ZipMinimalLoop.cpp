// The floor for the extraction benchmark: walks the entries with minizip,
// reads each through a 16 KiB buffer and writes it, and does nothing else.
// Built natively and for Windows (through the C runtime's file calls).
// Usage: zip-minimal-loop ARCHIVE BASEDIR
#include <fcntl.h>
#include <unistd.h>
#include <minizip/unzip.h>
#include <sys/stat.h>
#ifdef _WIN32
#include <direct.h>
#include <io.h>
#endif

#include <cerrno>
#include <cstdio>
#include <string>

namespace {

constexpr unsigned kBufferSize = 16384;

#ifdef _WIN32
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_TRUNC | O_BINARY;
int MakeDir(const char* path) {
    return _mkdir(path);
}
#else
constexpr int kCreateFlags = O_WRONLY | O_CREAT | O_TRUNC;
int MakeDir(const char* path) {
    return mkdir(path, 0777);
}
#endif

void MakeParents(const std::string& path) {
    for (size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        MakeDir(path.substr(0, slash).c_str());
    }
}

int CreateTarget(const std::string& path) {
    int fd = open(path.c_str(), kCreateFlags, 0666);
    if (fd < 0 && errno == ENOENT) {
        MakeParents(path);
        fd = open(path.c_str(), kCreateFlags, 0666);
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 3) {
        fputs("usage: zip-minimal-loop ARCHIVE BASEDIR\n", stderr);
        return 2;
    }
    unzFile archive = unzOpen64(argv[1]);
    if (archive == nullptr) return 1;
    const std::string base = std::string(argv[2]) + "/";
    MakeDir(argv[2]);
    static unsigned char buffer[kBufferSize];
    int failures = 0;
    for (int status = unzGoToFirstFile(archive); status == UNZ_OK;
         status = unzGoToNextFile(archive)) {
        char name[260];
        unz_file_info64 info;
        if (unzGetCurrentFileInfo64(archive, &info, name, sizeof(name), nullptr, 0, nullptr, 0) !=
            UNZ_OK) {
            return 1;
        }
        const std::string path = base + name;
        if (!path.empty() && path.back() == '/') {
            MakeParents(path);
            continue;
        }
        const int fd = CreateTarget(path);
        if (fd < 0 || unzOpenCurrentFile(archive) != UNZ_OK) {
            ++failures;
            if (fd >= 0) close(fd);
            continue;
        }
        int read;
        while ((read = unzReadCurrentFile(archive, buffer, kBufferSize)) > 0) {
            if (write(fd, buffer, static_cast<size_t>(read)) != read) ++failures;
        }
        if (read < 0 || unzCloseCurrentFile(archive) != UNZ_OK) ++failures;
        close(fd);
    }
    unzClose(archive);
    return failures == 0 ? 0 : 1;
}
