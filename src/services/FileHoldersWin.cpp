#include <windows.h>

#include <restartmanager.h>

#include <vector>

#include "services/FileSystem.h"

namespace qorv {

namespace {

// A Restart Manager session, ended however the query ends.
class RestartSession {
public:
    RestartSession() {
        WCHAR key[CCH_RM_SESSION_KEY + 1] = {};
        m_started = RmStartSession(&m_handle, 0, key) == ERROR_SUCCESS;
    }
    ~RestartSession() {
        if (m_started) RmEndSession(m_handle);
    }
    RestartSession(const RestartSession&) = delete;
    RestartSession& operator=(const RestartSession&) = delete;

    bool started() const { return m_started; }
    DWORD handle() const { return m_handle; }

private:
    DWORD m_handle = 0;
    bool m_started = false;
};

// Holders come and go between the two calls; a few tries are plenty.
constexpr int kListTries = 3;

}  // namespace

std::wstring FileHolders(const std::wstring& path) {
    RestartSession session;
    if (!session.started()) return {};
    LPCWSTR files[] = {path.c_str()};
    if (RmRegisterResources(session.handle(), 1, files, 0, nullptr, 0, nullptr) != ERROR_SUCCESS) {
        return {};
    }
    std::vector<RM_PROCESS_INFO> holders;
    for (int tries = 0; tries < kListTries; ++tries) {
        UINT needed = 0;
        UINT count = static_cast<UINT>(holders.size());
        DWORD reasons = 0;
        const DWORD listed = RmGetList(session.handle(), &needed, &count, holders.data(), &reasons);
        if (listed == ERROR_MORE_DATA) {
            holders.resize(needed);
            continue;
        }
        if (listed != ERROR_SUCCESS) return {};
        std::wstring names;
        for (UINT i = 0; i < count; ++i) {
            if (!names.empty()) names += L", ";
            names += holders[i].strAppName;
        }
        return names;
    }
    return {};
}

}  // namespace qorv
