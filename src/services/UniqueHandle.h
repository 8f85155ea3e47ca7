// The one owner of a system handle: closed when the owner goes, moved but
// never copied. Traits name the handle's type, the value that holds none and
// the call that closes it; the kinds the installer uses are below, Windows
// handles on Windows and POSIX descriptors elsewhere.
#pragma once

#ifdef _WIN32
#include <windows.h>
#else
#include <dirent.h>
#include <unistd.h>
#endif

namespace qorv {

template <typename Traits>
class UniqueHandle {
public:
    using Handle = typename Traits::Handle;

    UniqueHandle() = default;
    explicit UniqueHandle(Handle handle) : m_handle(handle) {}
    ~UniqueHandle() { Reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : m_handle(other.Release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        Reset(other.Release());
        return *this;
    }
    UniqueHandle(const UniqueHandle&) = delete;
    UniqueHandle& operator=(const UniqueHandle&) = delete;

    bool IsValid() const { return Traits::IsValid(m_handle); }
    Handle Get() const { return m_handle; }
    // For a call that hands a new handle out through a pointer.
    Handle* Receive() {
        Reset();
        return &m_handle;
    }
    Handle Release() {
        const Handle handle = m_handle;
        m_handle = Traits::None();
        return handle;
    }
    void Reset(Handle handle = Traits::None()) {
        if (IsValid()) Traits::Close(m_handle);
        m_handle = handle;
    }

private:
    Handle m_handle = Traits::None();
};

#ifdef _WIN32

// Files, mutexes, processes, pipes, snapshots: CloseHandle. Calls that fail
// give either null or INVALID_HANDLE_VALUE; neither is closed.
struct KernelHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return nullptr; }
    static bool IsValid(Handle handle) {
        return handle != nullptr && handle != INVALID_HANDLE_VALUE;
    }
    static void Close(Handle handle) { CloseHandle(handle); }
};
using KernelHandle = UniqueHandle<KernelHandleTraits>;

// A directory search: FindClose.
struct FindHandleTraits {
    using Handle = HANDLE;
    static Handle None() { return INVALID_HANDLE_VALUE; }
    static bool IsValid(Handle handle) { return handle != INVALID_HANDLE_VALUE; }
    static void Close(Handle handle) { FindClose(handle); }
};
using FindHandle = UniqueHandle<FindHandleTraits>;

// Memory the system allocated for the caller: LocalFree.
template <typename Pointer>
struct LocalMemoryTraits {
    using Handle = Pointer;
    static Handle None() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { LocalFree(handle); }
};
template <typename Pointer>
using LocalMemory = UniqueHandle<LocalMemoryTraits<Pointer>>;

#else

// An open file: close.
struct DescriptorTraits {
    using Handle = int;
    static Handle None() { return -1; }
    static bool IsValid(Handle handle) { return handle >= 0; }
    static void Close(Handle handle) { close(handle); }
};
using FileDescriptor = UniqueHandle<DescriptorTraits>;

// A directory being read: closedir.
struct DirectoryStreamTraits {
    using Handle = DIR*;
    static Handle None() { return nullptr; }
    static bool IsValid(Handle handle) { return handle != nullptr; }
    static void Close(Handle handle) { closedir(handle); }
};
using DirectoryStream = UniqueHandle<DirectoryStreamTraits>;

#endif

}  // namespace qorv
