#include <windows.h>

#include <winioctl.h>

#include <cwctype>

#include "services/FileSystem.h"
#include "services/LocalFile.h"
#include "services/SystemPath.h"
#include "services/TargetFile.h"
#include "services/UniqueHandle.h"

namespace qorv {

namespace {

HRESULT LastError() {
    return HRESULT_FROM_WIN32(GetLastError());
}

HRESULT Seek(HANDLE file, uint64_t offset) {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(offset);
    return SetFilePointerEx(file, position, nullptr, FILE_BEGIN) ? S_OK : LastError();
}

bool IsSeparator(wchar_t c) {
    return c == L'\\' || c == L'/';
}

// Ends the component at the end of result as Windows' own parsing would:
// a "." component goes, and trailing dots and spaces go unless nothing but
// them is left. A package's "a." therefore stays the "a" the game opens.
void EndComponent(std::wstring* result) {
    const size_t start = result->rfind(L'\\') + 1;
    size_t end = result->size();
    while (end > start && ((*result)[end - 1] == L'.' || (*result)[end - 1] == L' ')) --end;
    if (result->size() - start == 1 && result->back() == L'.') {
        result->resize(start);
    } else if (end > start) {
        result->resize(end);
    }
}

// The extended-length form of an absolute path ("\\?\C:\..." or
// "\\?\UNC\server\..."): the file calls take it up to 32767 characters
// long and pass it on unparsed. Unparsed also means that what that parsing
// did is done here: "/" becomes "\", doubled separators and "." components
// go, trailing dots and spaces of a name go. A relative path, or one already
// in a device form, stays as given.
std::wstring Extended(const std::wstring& path) {
    std::wstring result;
    size_t from = 0;
    if (path.size() >= 3 && iswalpha(path[0]) && path[1] == L':' && IsSeparator(path[2])) {
        result = L"\\\\?\\";
    } else if (path.size() >= 3 && IsSeparator(path[0]) && IsSeparator(path[1]) &&
               path[2] != L'?' && path[2] != L'.') {
        result = L"\\\\?\\UNC\\";
        from = 2;
    } else {
        return path;
    }
    const size_t root = result.size();
    for (size_t i = from; i < path.size(); ++i) {
        if (!IsSeparator(path[i])) {
            result += path[i];
            continue;
        }
        if (result.size() > root && result.back() != L'\\') EndComponent(&result);
        if (result.back() != L'\\') result += L'\\';
    }
    if (result.size() > root && result.back() != L'\\') EndComponent(&result);
    return result;
}

FILETIME ToFileTime(uint64_t value) {
    FILETIME time;
    time.dwLowDateTime = static_cast<DWORD>(value);
    time.dwHighDateTime = static_cast<DWORD>(value >> 32);
    return time;
}

}  // namespace

std::wstring CurrentDirectory() {
    return GrowingPath(
        [](wchar_t* buffer, DWORD capacity) { return GetCurrentDirectoryW(capacity, buffer); });
}

HRESULT MakeOneDirectory(const std::wstring& path) {
    return CreateDirectoryW(Extended(path).c_str(), nullptr) ? S_OK : LastError();
}

bool PathExists(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    return FindHandle(FindFirstFileW(Extended(path).c_str(), &found)).IsValid();
}

bool DeleteOneFile(const std::wstring& path) {
    return DeleteFileW(Extended(path).c_str()) != FALSE;
}

void ClearReadOnly(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(Extended(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 ||
        (attributes & FILE_ATTRIBUTE_READONLY) == 0) {
        return;
    }
    SetFileAttributesW(Extended(path).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
}

bool ListDirectory(const std::wstring& directory, std::vector<DirEntry>* entries) {
    const std::wstring pattern = AppendPath(directory, L"*");
    if (pattern.empty()) return false;
    WIN32_FIND_DATAW found;
    const FindHandle search(FindFirstFileW(Extended(pattern).c_str(), &found));
    if (!search.IsValid()) return false;
    do {
        const std::wstring name = found.cFileName;
        if (name == L"." || name == L"..") continue;
        DirEntry entry;
        entry.name = name;
        entry.directory = (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
        entry.link = (found.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        entries->push_back(entry);
    } while (FindNextFileW(search.Get(), &found));
    return GetLastError() == ERROR_NO_MORE_FILES;
}

// RemoveDirectoryW on a junction or a directory link removes the link, not
// the folder it points to; a file link goes with DeleteFileW.
bool RemoveDirectoryOrLink(const std::wstring& path, const DirEntry& entry) {
    if (entry.link && !entry.directory) return DeleteFileW(Extended(path).c_str()) != FALSE;
    return RemoveDirectoryW(Extended(path).c_str()) != FALSE;
}

FileFacts ReadFileFacts(const std::wstring& path) {
    FileFacts facts;
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(Extended(path).c_str(), GetFileExInfoStandard, &data)) return facts;
    facts.exists = true;
    facts.directory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    facts.size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    facts.writeTime = (static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32) |
                      data.ftLastWriteTime.dwLowDateTime;
    return facts;
}

HRESULT MoveOver(const std::wstring& from, const std::wstring& to) {
    return MoveFileExW(Extended(from).c_str(), Extended(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? S_OK
               : LastError();
}

namespace {

// S_OK when path opens for access with every sharing allowed.
HRESULT OpensFor(const std::wstring& path, DWORD access) {
    const KernelHandle file(CreateFileW(Extended(path).c_str(), access,
                                        FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    return file.IsValid() ? S_OK : LastError();
}

}  // namespace

HRESULT CheckReplaceable(const std::wstring& path, bool* moveAside) {
    *moveAside = false;
    const DWORD attributes = GetFileAttributesW(Extended(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        return S_OK;
    }
    // Writing with every sharing allowed fails where replacing would: a
    // holder that shares nothing, a running image. A read-only file takes
    // no writer; its sharing is told by asking to delete it.
    const DWORD access = (attributes & FILE_ATTRIBUTE_READONLY) != 0 ? DELETE : GENERIC_WRITE;
    const HRESULT writable = OpensFor(path, access);
    if (writable == S_OK || access == DELETE) return writable;
    // A running image still lets itself be renamed; a holder sharing
    // nothing does not.
    if (OpensFor(path, DELETE) != S_OK) return writable;
    *moveAside = true;
    return S_OK;
}

HRESULT FreeBytes(const std::wstring& path, uint64_t* bytes) {
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(Extended(path).c_str(), &available, nullptr, nullptr)) {
        return LastError();
    }
    *bytes = available.QuadPart;
    return S_OK;
}

HRESULT MoveAside(const std::wstring& path, const std::wstring& aside) {
    if (!MoveFileExW(Extended(path).c_str(), Extended(aside).c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return LastError();
    }
    const DWORD attributes = GetFileAttributesW(Extended(aside).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES) {
        SetFileAttributesW(Extended(aside).c_str(), attributes | FILE_ATTRIBUTE_HIDDEN);
    }
    return S_OK;
}

HRESULT FlushFile(const std::wstring& path) {
    // Flushing needs a writer, which a read-only file refuses: the attribute
    // goes for that time.
    const DWORD attributes = GetFileAttributesW(Extended(path).c_str());
    const bool readOnly =
        attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly) SetFileAttributesW(Extended(path).c_str(), attributes & ~FILE_ATTRIBUTE_READONLY);
    HRESULT result = S_OK;
    {
        const KernelHandle file(CreateFileW(Extended(path).c_str(), GENERIC_WRITE, FILE_SHARE_READ,
                                            nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                            nullptr));
        if (!file.IsValid() || !FlushFileBuffers(file.Get())) {
            result = LastError();
        }
    }
    if (readOnly) SetFileAttributesW(Extended(path).c_str(), attributes);
    return result;
}

// The open file (LocalFile.h).

LocalFile::~LocalFile() {
    Close();
}

void LocalFile::Close() {
    m_file.Reset();
}

HRESULT LocalFile::Open(const std::wstring& path, Mode mode) {
    Close();
    const DWORD access = mode == Mode::kRead ? GENERIC_READ : GENERIC_READ | GENERIC_WRITE;
    const DWORD disposition = mode == Mode::kRead     ? OPEN_EXISTING
                              : mode == Mode::kUpdate ? OPEN_ALWAYS
                                                      : CREATE_ALWAYS;
    // Readers may share; nobody writes beside the one writer.
    m_file.Reset(CreateFileW(Extended(path).c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                             FILE_ATTRIBUTE_NORMAL, nullptr));
    return m_file.IsValid() ? S_OK : LastError();
}

HRESULT LocalFile::ReadUpTo(uint64_t offset, void* data, size_t size, size_t* read) {
    *read = 0;
    const HRESULT sought = Seek(m_file.Get(), offset);
    if (sought != S_OK) return sought;
    auto* bytes = static_cast<unsigned char*>(data);
    while (*read < size) {
        const size_t left = size - *read;
        const DWORD piece = left > 0x10000000 ? 0x10000000 : static_cast<DWORD>(left);
        DWORD got = 0;
        if (!ReadFile(m_file.Get(), bytes + *read, piece, &got, nullptr)) return LastError();
        if (got == 0) break;  // the end of the file
        *read += got;
    }
    return S_OK;
}

HRESULT LocalFile::WriteAt(uint64_t offset, const void* data, size_t size) {
    HRESULT hr = Seek(m_file.Get(), offset);
    const auto* bytes = static_cast<const unsigned char*>(data);
    while (hr == S_OK && size > 0) {
        const DWORD piece = size > 0x10000000 ? 0x10000000 : static_cast<DWORD>(size);
        DWORD written = 0;
        if (!WriteFile(m_file.Get(), bytes, piece, &written, nullptr)) return LastError();
        if (written == 0) return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
        bytes += written;
        size -= written;
    }
    return hr;
}

HRESULT LocalFile::Size(uint64_t* size) {
    LARGE_INTEGER value{};
    if (!GetFileSizeEx(m_file.Get(), &value)) return LastError();
    *size = static_cast<uint64_t>(value.QuadPart);
    return S_OK;
}

HRESULT LocalFile::Flush() {
    return FlushFileBuffers(m_file.Get()) ? S_OK : LastError();
}

void LocalFile::MakeSparse() {
    DWORD returned = 0;
    DeviceIoControl(m_file.Get(), FSCTL_SET_SPARSE, nullptr, 0, nullptr, 0, &returned, nullptr);
}

// The target file (TargetFile.h).

TargetFile::~TargetFile() {
    m_file.Reset();
    if (!m_committed && !m_written.empty()) DeleteFileW(Extended(m_written).c_str());
}

TargetFile::Opened TargetFile::Open(const std::wstring& path, uint32_t attributes) {
    m_target = path;
    m_attributes = attributes;
    // Never created read-only: a file that fails must be deletable.
    m_file.Reset(CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                             attributes & ~FILE_ATTRIBUTE_READONLY, nullptr));
    const DWORD error = GetLastError();  // Reset closed nothing: it held no file
    if (m_file.IsValid()) {
        m_written = path;
        return Opened::kOk;
    }
    if (error == ERROR_PATH_NOT_FOUND) return Opened::kFolderMissing;
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? Opened::kExists
                                                                       : Opened::kFailed;
}

TargetFile::Opened TargetFile::OpenReplacement(const std::wstring& replacement) {
    // Plain attributes: an earlier replacement left hidden would refuse
    // CREATE_ALWAYS with others. Commit gives the entry's.
    m_file.Reset(CreateFileW(Extended(replacement).c_str(), GENERIC_WRITE, 0, nullptr,
                             CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!m_file.IsValid()) return Opened::kFailed;
    m_written = replacement;
    return Opened::kOk;
}

bool TargetFile::Write(const void* data, uint32_t size) {
    DWORD written = 0;
    return WriteFile(m_file.Get(), data, size, &written, nullptr) && written == size;
}

bool TargetFile::SetTimes(uint64_t creation, uint64_t access, uint64_t write) {
    const FILETIME times[3] = {ToFileTime(creation), ToFileTime(access), ToFileTime(write)};
    return SetFileTime(m_file.Get(), &times[0], &times[1], &times[2]) != FALSE;
}

TargetFile::Committed TargetFile::Commit(bool flush) {
    bool written = !flush || FlushFileBuffers(m_file.Get());
    // A close can report a write that failed late (a network drive): the
    // bytes are not there then.
    written = CloseHandle(m_file.Release()) && written;
    if (!written) return Committed::kNotWritten;
    const bool replacing = m_written != m_target;
    if (replacing) {
        // A read-only old file refuses to be replaced: packages install
        // files read-only, and the next update must still replace them.
        const DWORD old = GetFileAttributesW(Extended(m_target).c_str());
        const bool unlocked =
            old != INVALID_FILE_ATTRIBUTES && (old & FILE_ATTRIBUTE_READONLY) != 0 &&
            SetFileAttributesW(Extended(m_target).c_str(), old & ~FILE_ATTRIBUTE_READONLY);
        if (!MoveFileExW(Extended(m_written).c_str(), Extended(m_target).c_str(),
                         MOVEFILE_REPLACE_EXISTING)) {
            if (unlocked) SetFileAttributesW(Extended(m_target).c_str(), old);
            return Committed::kNotMoved;
        }
    }
    m_committed = true;
    if (replacing || (m_attributes & FILE_ATTRIBUTE_READONLY) != 0) {
        SetFileAttributesW(Extended(m_target).c_str(),
                           m_attributes != 0 ? m_attributes : FILE_ATTRIBUTE_NORMAL);
    }
    return Committed::kOk;
}

}  // namespace qorv
