// Uninstall.exe: removes, for the current user, what the installer made: the
// install directory, the desktop shortcut when it still points there, the
// uninstall entry, and the install directory's parent when that is left
// empty. "/S" removes without asking and shows nothing; the exit code and the
// trace (one line per item) say what happened.
//
// Started from the folder it removes, as the uninstall entry starts it, it
// continues from a copy in the temporary folder. A running program's file
// cannot be deleted, and only a handle opened before a program starts can
// delete its file when it ends; so the first process makes the copy with such
// a handle, hands it to the copy, and waits for the copy's result. The copy
// moves the first program out of the folder (into the temporary folder, or
// into the parent when that lies on another volume), removes everything,
// reports the result, waits for the first process to end and deletes its
// file; its own goes with the handle when it ends.
#include <windows.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shlwapi.h>
#include <tlhelp32.h>

#include <cwchar>
#include <string>
#include <vector>

#include "Constants.h"
#include "services/FileSystem.h"
#include "services/Shortcut.h"
#include "services/UninstallEntry.h"
#include "services/UniqueHandle.h"
#include "services/InstallDirectory.h"
#include "uninstall/RemoveTree.h"
#include "services/Trace.h"

namespace qorv {

namespace {

constexpr DWORD kCallerEndMilliseconds = 30000;
constexpr int kDeleteAttempts = 20;
constexpr DWORD kDeleteRetryMilliseconds = 100;

void TraceItem(const char* text, const std::wstring& path) {
    TraceLog("%s", text);
    TraceLogW(path.c_str());
    TraceLog("%s", kTraceLineEnd);
}

// Compares as Windows compares file names: ordinal, ignoring case.
bool SameName(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                                static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

// True when path lies below folder, which ends in a backslash.
bool IsInside(const std::wstring& path, const std::wstring& folder) {
    return path.size() > folder.size() && SameName(path.substr(0, folder.size()), folder);
}

std::wstring WithoutTrailingSlash(std::wstring path) {
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

// The folder that holds directory, with its trailing backslash.
std::wstring ParentOf(const std::wstring& directory) {
    const std::wstring path = WithoutTrailingSlash(directory);
    return path.substr(0, path.find_last_of(L'\\') + 1);
}

// The attributes of path itself when it is a junction or symbolic link (any
// reparse point): the link's own, never those of what it points to. 0 when
// it is no link or does not exist.
DWORD LinkAttributes(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(WithoutTrailingSlash(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return 0;
    return (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0 ? attributes : 0;
}

// The install directory is removed with everything in it, so it must be an
// absolute path strictly below the user's local application-data folder; a
// failed folder query would otherwise leave a path relative to wherever this
// process runs.
bool UnderLocalAppData(const std::wstring& installDir) {
    wchar_t local[MAX_PATH] = {};
    if (!SHGetSpecialFolderPathW(nullptr, local, CSIDL_LOCAL_APPDATA, FALSE)) return false;
    wchar_t full[MAX_PATH] = {};
    const DWORD length = GetFullPathNameW(installDir.c_str(), MAX_PATH, full, nullptr);
    if (length == 0 || length >= MAX_PATH || !SameName(full, installDir)) return false;
    return IsInside(installDir, WithoutTrailingSlash(local) + L"\\");
}

// The installed shell program or game client when one of them is running.
// When the processes cannot be listed that is unknown too, and the install
// directory itself is returned so that nothing is removed.
std::wstring RunningInstalledProgram(const std::wstring& installDir) {
    const std::wstring programs[] = {AppendPath(installDir, kShellProgram),
                                     AppendPath(installDir, kClientProgram)};
    KernelHandle snapshot(CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0));
    PROCESSENTRY32W entry = {};
    entry.dwSize = sizeof entry;
    if (!snapshot.IsValid() || !Process32FirstW(snapshot.Get(), &entry)) return installDir;
    do {
        KernelHandle process(
            OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, entry.th32ProcessID));
        if (!process.IsValid()) continue;  // another user's or a system process
        wchar_t image[MAX_PATH] = {};
        DWORD size = MAX_PATH;
        if (!QueryFullProcessImageNameW(process.Get(), 0, image, &size)) continue;
        for (const std::wstring& program : programs) {
            if (SameName(image, program)) return program;
        }
    } while (Process32NextW(snapshot.Get(), &entry));
    return std::wstring();
}

// The path of this program's image; empty when it does not fit MAX_PATH.
std::wstring OwnImage() {
    wchar_t path[MAX_PATH] = {};
    const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    return length > 0 && length < MAX_PATH ? path : std::wstring();
}

// A file name unique to this process, for the uninstaller's files outside
// the install directory.
std::wstring OwnFileName() {
    wchar_t name[32] = {};  // the longest name is 28 units
    wsprintfW(name, kUninstallerTempFormat, GetCurrentProcessId());
    return name;
}

// That name in the temporary folder; empty when the folder's path is too long.
std::wstring TempName() {
    wchar_t temp[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length == 0 || length >= MAX_PATH) return std::wstring();
    return AppendPath(temp, OwnFileName());
}

std::wstring HandleText(HANDLE handle) {
    wchar_t text[16] = {};
    // Handles that processes share hold 32 significant bits on every Windows.
    wsprintfW(text, L"%lx", static_cast<unsigned long>(reinterpret_cast<UINT_PTR>(handle)));
    return text;
}

HANDLE HandleFromText(const wchar_t* text) {
    return reinterpret_cast<HANDLE>(static_cast<UINT_PTR>(wcstoul(text, nullptr, 16)));
}

// The command line: "/S", and from the first process "/handoff PIPE PROCESS
// IMAGE": the inherited pipe that takes the result, the inherited handle of
// the first process and the path of its program.
struct Options {
    bool silent = false;
    HANDLE resultPipe = nullptr;
    HANDLE caller = nullptr;
    std::wstring callerImage;
};

Options ReadOptions() {
    Options options;
    int count = 0;
    const LocalMemory<wchar_t**> args(CommandLineToArgvW(GetCommandLineW(), &count));
    if (!args.IsValid()) return options;
    for (int i = 1; i < count; ++i) {
        if (lstrcmpiW(args.Get()[i], kSilentSwitch) == 0) options.silent = true;
        if (lstrcmpW(args.Get()[i], kHandOffSwitch) == 0 && i + 3 < count) {
            options.resultPipe = HandleFromText(args.Get()[i + 1]);
            options.caller = HandleFromText(args.Get()[i + 2]);
            options.callerImage = args.Get()[i + 3];
            i += 3;
        }
    }
    return options;
}

// Runs the copy and returns its result; -1 when no copy could be started.
int HandOff(const std::wstring& image, bool silent) {
    const std::wstring copy = TempName();
    if (copy.empty() || !CopyFileW(image.c_str(), copy.c_str(), FALSE)) return -1;
    // Inherited by the copy, this handle deletes the copy's file when the
    // copy ends; and the file of a copy that never started when this ends.
    SECURITY_ATTRIBUTES inherit = {sizeof inherit, nullptr, TRUE};
    KernelHandle copyFile(CreateFileW(copy.c_str(), DELETE, FILE_SHARE_READ | FILE_SHARE_DELETE,
                                      &inherit, OPEN_EXISTING, FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (!copyFile.IsValid()) {
        DeleteFileW(copy.c_str());
        return -1;
    }
    HANDLE readEnd = nullptr;
    HANDLE writeEnd = nullptr;
    if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) return -1;
    KernelHandle resultRead(readEnd);
    SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);
    PROCESS_INFORMATION process = {};
    {
        // Closed here once the copy has inherited them, so that the pipe
        // ends when the copy's end closes.
        KernelHandle resultWrite(writeEnd);
        HANDLE self = nullptr;
        if (!DuplicateHandle(GetCurrentProcess(), GetCurrentProcess(), GetCurrentProcess(), &self,
                             SYNCHRONIZE, TRUE, 0)) {
            return -1;
        }
        KernelHandle selfForCopy(self);
        std::wstring commandLine = L"\"" + copy + L"\" " + (silent ? kSilentSwitch : L"") + L" " +
                                   kHandOffSwitch + L" " + HandleText(writeEnd) + L" " +
                                   HandleText(self) + L" \"" + image + L"\"";
        STARTUPINFOW startup = {};
        startup.cb = sizeof startup;
        startup.dwFlags = STARTF_USESTDHANDLES;  // the trace goes on where it went
        startup.hStdInput = GetStdHandle(STD_INPUT_HANDLE);
        startup.hStdOutput = GetStdHandle(STD_OUTPUT_HANDLE);
        startup.hStdError = GetStdHandle(STD_ERROR_HANDLE);
        if (!CreateProcessW(copy.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr,
                            nullptr, &startup, &process)) {
            return -1;
        }
    }
    KernelHandle copyProcess(process.hProcess);
    CloseHandle(process.hThread);
    int result = 0;
    DWORD got = 0;
    if (ReadFile(readEnd, &result, sizeof result, &got, nullptr) && got == sizeof result) {
        return result;
    }
    // The copy ended without a word: its exit code is all there is.
    WaitForSingleObject(copyProcess.Get(), INFINITE);
    DWORD code = static_cast<DWORD>(kExitLeftSome);
    GetExitCodeProcess(copyProcess.Get(), &code);
    return static_cast<int>(code);
}

class Uninstall {
public:
    explicit Uninstall(bool silent) : m_silent(silent) {}

    // callerImage: the first process's program, when this is its copy.
    int Run(const std::wstring& callerImage);
    // Deletes the caller's program, moved out of the install directory, once
    // the caller has ended; and the parent, when the program was moved there.
    void DeleteMovedCaller(HANDLE caller) const;

private:
    void Say(const wchar_t* text, UINT icon) const {
        if (!m_silent) MessageBoxW(nullptr, text, kUninstallTitle, MB_OK | icon);
    }
    std::wstring LinkInPlace() const;
    std::wstring MoveOut(const std::wstring& image);
    bool RemoveInstallDirectory();
    bool RemoveLink(const std::wstring& link);
    void RemoveShortcut();
    void RemoveEntry();
    void RemoveEmptyParent() const;
    void Failed(const std::wstring& path) {
        TraceItem(kTraceNotRemoved, path);
        m_leftSome = true;
    }

    const bool m_silent;
    const std::wstring m_installDir = InstallDirectory();
    const std::wstring m_parent = ParentOf(m_installDir);
    const std::wstring m_link = DesktopLinkPath(kShortcutFile);
    bool m_leftSome = false;
    bool m_linkIsOurs = false;
    std::wstring m_movedCaller;
};

int Uninstall::Run(const std::wstring& callerImage) {
    if (!UnderLocalAppData(m_installDir)) {
        TraceItem(kTraceRefused, m_installDir);
        Say(kUninstallRefused, MB_ICONERROR);
        return kExitRefused;
    }
    std::wstring target;
    m_linkIsOurs = !m_link.empty() && PathExists(m_link) && ReadShortcutTarget(m_link, &target) &&
                   IsInside(target, m_installDir);
    const bool hasEntry = HasUninstallEntry();
    if (!PathExists(WithoutTrailingSlash(m_installDir)) && !m_linkIsOurs && !hasEntry) {
        TraceLog("%s", kTraceNothingToRemove);
        Say(kUninstallNothing, MB_ICONINFORMATION);
        return kExitRemoved;
    }

    if (!m_silent && MessageBoxW(nullptr, kUninstallQuestion, kUninstallTitle,
                                 MB_YESNO | MB_ICONQUESTION) != IDYES) {
        TraceLog("%s", kTraceCancelled);
        return kExitCancelled;
    }
    // An installer running now would write into what is removed, and one
    // started while this holds the installers' mutex ends at once. A mutex
    // that cannot be created or opened may be an installer's too. Only the
    // process that removes takes it, never a first process that hands off:
    // its copy would find it taken.
    const KernelHandle instance(CreateMutexW(nullptr, FALSE, kInstanceMutexName));
    if (!instance.IsValid() || GetLastError() == ERROR_ALREADY_EXISTS) {
        TraceItem(kTraceRunning, kInstanceMutexName);
        Say(kUninstallRunning, MB_ICONWARNING);
        return kExitRunning;
    }
    const std::wstring running = RunningInstalledProgram(m_installDir);
    if (!running.empty()) {
        TraceItem(kTraceRunning, running);
        Say(kUninstallRunning, MB_ICONWARNING);
        return kExitRunning;
    }

    // The first process's program comes back when the folder stays, so that
    // the uninstall entry can run it again to finish the job. Behind a link
    // it stays where it is: moving it would change what the link points to.
    const std::wstring link = LinkInPlace();
    const std::wstring moved =
        link.empty() && IsInside(callerImage, m_installDir) ? MoveOut(callerImage) : L"";
    const bool directoryGone = link.empty() ? RemoveInstallDirectory() : RemoveLink(link);
    if (directoryGone) {
        m_movedCaller = moved;
    } else if (!moved.empty() &&  // from another volume too, where it could be deleted
               !MoveFileExW(moved.c_str(), callerImage.c_str(), MOVEFILE_COPY_ALLOWED)) {
        Failed(moved);  // stranded outside the install directory
    }
    RemoveShortcut();
    if (directoryGone) {
        RemoveEntry();
    } else {
        TraceItem(kTraceKept, kUninstallKey);
    }
    if (!IsInside(m_movedCaller, m_parent)) RemoveEmptyParent();  // else once that has gone

    if (!link.empty()) {
        Say(directoryGone ? kUninstallLinkRemoved : kUninstallLinkKept, MB_ICONWARNING);
    } else {
        Say(m_leftSome ? kUninstallLeftSome : kUninstallDone,
            m_leftSome ? MB_ICONWARNING : MB_ICONINFORMATION);
    }
    return m_leftSome ? kExitLeftSome : kExitRemoved;
}

// The install directory's parent or the directory itself when it is a
// junction or symbolic link, the parent first (the install directory then
// lies behind it); empty when both are real folders or absent.
std::wstring Uninstall::LinkInPlace() const {
    for (const std::wstring& path : {m_parent, m_installDir}) {
        if (LinkAttributes(path) != 0) return WithoutTrailingSlash(path);
    }
    return std::wstring();
}

// Moves a running program's file, which cannot be deleted but can be
// renamed, out of the folder being removed; the new path, empty when it
// stays. The temporary folder may lie on another volume, where a move
// copies and then deletes; a running program's file cannot be deleted, so
// the move may leave it in place beside a copy, even when it reports
// success. The copy then goes again, and a rename on the file's own volume
// takes it into the install directory's parent instead.
std::wstring Uninstall::MoveOut(const std::wstring& image) {
    const std::wstring temp = TempName();
    if (!temp.empty()) {
        if (MoveFileExW(image.c_str(), temp.c_str(),
                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_COPY_ALLOWED) &&
            !PathExists(image)) {
            return temp;
        }
        if (PathExists(temp) && !DeleteFileW(temp.c_str())) Failed(temp);
    }
    const std::wstring beside = AppendPath(m_parent, OwnFileName());
    if (!beside.empty() && MoveFileExW(image.c_str(), beside.c_str(), MOVEFILE_REPLACE_EXISTING)) {
        return beside;
    }
    return std::wstring();
}

bool Uninstall::RemoveInstallDirectory() {
    const std::wstring directory = WithoutTrailingSlash(m_installDir);
    if (!PathExists(directory)) {
        TraceItem(kTraceAbsent, m_installDir);
        return true;
    }
    std::vector<std::wstring> failed;
    if (RemoveTree(m_installDir, &failed)) {
        TraceItem(kTraceRemoved, m_installDir);
        return true;
    }
    for (const std::wstring& path : failed) Failed(path);
    return false;
}

// What a link points to is not this program's to remove: the link goes
// alone, which counts as leaving something. It then stands for the install
// directory: gone, the entry goes too; left, the entry stays.
bool Uninstall::RemoveLink(const std::wstring& link) {
    TraceItem(kTraceLink, link);
    m_leftSome = true;
    const DWORD attributes = LinkAttributes(link);
    const DirEntry entry{link, (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0, true};
    if (attributes != 0 && RemoveDirectoryOrLink(link, entry)) {
        TraceItem(kTraceRemoved, link);
        return true;
    }
    Failed(link);
    return false;
}

void Uninstall::RemoveShortcut() {
    if (m_link.empty() || !PathExists(m_link)) {
        TraceItem(kTraceAbsent, m_link);
    } else if (!m_linkIsOurs) {
        TraceItem(kTraceKept, m_link);  // the player pointed it elsewhere
    } else if (DeleteFileW(m_link.c_str())) {
        TraceItem(kTraceRemoved, m_link);
    } else {
        Failed(m_link);
    }
}

void Uninstall::RemoveEntry() {
    const long result = RemoveUninstallEntry();
    if (result == ERROR_SUCCESS) {
        TraceItem(kTraceRemoved, kUninstallKey);
    } else if (result == ERROR_FILE_NOT_FOUND) {
        TraceItem(kTraceAbsent, kUninstallKey);
    } else {
        Failed(kUninstallKey);
    }
}

// Another program of the same maker may keep its files there: the folder goes
// only when it is empty, and staying is no failure. A link there is never
// removed here: RemoveDirectoryW would take it whatever it points to.
void Uninstall::RemoveEmptyParent() const {
    if (!PathExists(WithoutTrailingSlash(m_parent))) {
        TraceItem(kTraceAbsent, m_parent);
    } else if (LinkAttributes(m_parent) == 0 && RemoveDirectoryW(m_parent.c_str())) {
        TraceItem(kTraceRemoved, m_parent);
    } else {
        TraceItem(kTraceKept, m_parent);
    }
}

void Uninstall::DeleteMovedCaller(HANDLE caller) const {
    if (m_movedCaller.empty()) return;
    WaitForSingleObject(caller, kCallerEndMilliseconds);
    for (int attempt = 0; attempt < kDeleteAttempts; ++attempt) {
        if (DeleteFileW(m_movedCaller.c_str())) {
            if (IsInside(m_movedCaller, m_parent)) RemoveEmptyParent();
            return;
        }
        Sleep(kDeleteRetryMilliseconds);
    }
    TraceItem(kTraceNotRemoved, m_movedCaller);
}

// The copy's last duty: its result to the first process, then that
// process's program, which can go only once the process has ended.
void Report(const Options& options, int result, const Uninstall& uninstall) {
    KernelHandle pipe(options.resultPipe);
    KernelHandle caller(options.caller);
    DWORD written = 0;
    WriteFile(pipe.Get(), &result, sizeof result, &written, nullptr);
    uninstall.DeleteMovedCaller(caller.Get());
}

int RunUninstaller() {
    // The folder being removed must not be this process's working directory.
    wchar_t temp[MAX_PATH] = {};
    const DWORD length = GetTempPathW(MAX_PATH, temp);
    if (length > 0 && length < MAX_PATH) SetCurrentDirectoryW(temp);
    const Options options = ReadOptions();
    if (options.resultPipe == nullptr) {
        const std::wstring image = OwnImage();
        if (IsInside(image, InstallDirectory())) {
            const int result = HandOff(image, options.silent);
            if (result >= 0) return result;
            // Without a copy it removes what it can; its own file stays.
        }
    }
    Uninstall uninstall(options.silent);
    const int result = uninstall.Run(options.callerImage);
    if (options.resultPipe != nullptr) Report(options, result, uninstall);
    return result;
}

}  // namespace

}  // namespace qorv

int WINAPI wWinMain(HINSTANCE, HINSTANCE, PWSTR, int) {
    return qorv::RunUninstaller();
}
