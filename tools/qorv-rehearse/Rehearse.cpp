// qorv-rehearse: a patch day's rehearsal. Simulated players, each with an
// install folder of its own, do what the installer does on one run against
// a resource base URL, a few at a time; some runs are cut off after a number
// of bytes and run again, as a player's killed installer would be. Reports
// per player what the run was, the bytes and time it took and whether the
// files came out exactly right, as JSON Lines; and from the origin's access
// log, when given, what the origin served.
#include <unistd.h>
#include <cjson/cJSON.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "InstallNames.h"
#include "InstallRun.h"
#include "OriginLog.h"
#include "PlayerCheck.h"
#include "delivery/CurlTransport.h"
#include "delivery/Download.h"
#include "services/FileSystem.h"
#include "services/LocalFile.h"
#include "services/Text.h"
#include "workflow/RequestUrl.h"

namespace qorv {

namespace {

constexpr int kExitOk = 0;
constexpr int kExitNotExact = 1;
constexpr int kExitUsage = 2;

// The bounds: what one rehearsal may ask of the servers and of this machine.
constexpr unsigned long kMaxPlayers = 1000;
constexpr unsigned long kMaxThreads = 64;
constexpr unsigned long kMaxSeconds = 3600;
constexpr uint32_t kMaxRequestsPerRun = 256;

using Clock = std::chrono::steady_clock;

const char kUsage[] =
    "Usage: qorv-rehearse BASE_URL WORK_DIR [--players N] [--threads N] [--seconds N]\n"
    "                     [--kill-every K --kill-after BYTES] [--expect DIR]\n"
    "                     [--origin-log FILE]\n"
    "\n"
    "Runs N players (default 8, at most 1000), T at a time (default 8, at most\n"
    "64), against the resource server at BASE_URL (the installer's base, such\n"
    "as http://cdn.example.com/rc). Each player's install folder is\n"
    "WORK_DIR/player-NNN and stays for the next rehearsal: run it again after\n"
    "a publish for the update, and once more for up-to-date runs. A run does\n"
    "what the installer does before the launch: the shell package, pkg.ver,\n"
    "and the client package when the version changed or an installed file is\n"
    "missing. With --kill-every K, the run of every K-th player is cut off\n"
    "once BYTES have arrived, then run again. A run makes at most 256\n"
    "requests; after --seconds (default 600, at most 3600) every request fails.\n"
    "\n"
    "Exactly right: every file under --expect DIR (an install folder as it\n"
    "should be) is there with the same bytes; without it, every file of the\n"
    "packages' install states has its entry's size and CRC-32 and pkg.ver is the\n"
    "served one. --origin-log names the origin's nginx access log (the\n"
    "status followed by $body_bytes_sent, as in the default format): the lines\n"
    "it gains meanwhile give the origin's requests and bytes.\n"
    "\n"
    "Output: JSON Lines, one per player\n"
    "  {\"player\":I,\"run\":KIND,\"killed\":B,\"done\":B,\"failure\":TEXT,\n"
    "   \"requests\":N,\"bytes\":N,\"seconds\":S,\"exact\":B,\"differs\":TEXT}\n"
    "then one summary with the bounds and, with --origin-log, \"origin\".\n"
    "Exit status: 0 when every player came out exactly right, 1 when one did\n"
    "not, 2 for usage errors.\n";

struct Options {
    std::string baseUrl;
    std::string workDir;
    unsigned long players = 8;
    unsigned long threads = 8;
    unsigned long seconds = 600;
    unsigned long killEvery = 0;
    unsigned long long killAfter = 0;
    std::string expectDir;
    std::string originLog;
};

// A player's transport: counts what it asked and received, and fails every
// request once the run made too many, the rehearsal's time is up, or the
// bytes reached the kill.
class BoundedTransport : public Transport {
public:
    BoundedTransport(Clock::time_point deadline, uint64_t killAfter)
        : m_deadline(deadline), m_killAfter(killAfter) {}

    HRESULT Open(const HttpRequest& request, HttpAnswer* answer) override {
        *answer = HttpAnswer();
        if (Stopped() || m_requests == kMaxRequestsPerRun) return kResultFailed;
        ++m_requests;
        return m_curl.Open(request, answer);
    }

    HRESULT Read(void* buffer, uint32_t capacity, uint32_t* read) override {
        *read = 0;
        if (Stopped()) return kResultFailed;
        const uint64_t room = m_killAfter - m_bytes;
        const HRESULT hr =
            m_curl.Read(buffer, room < capacity ? static_cast<uint32_t>(room) : capacity, read);
        m_bytes += *read;
        return hr;
    }

    // The run was cut off, or the time is up.
    bool Stopped() const { return m_bytes >= m_killAfter || Clock::now() >= m_deadline; }
    bool Killed() const { return m_bytes >= m_killAfter; }
    uint32_t Requests() const { return m_requests; }
    uint64_t Bytes() const { return m_bytes; }

private:
    CurlTransport m_curl;
    Clock::time_point m_deadline;
    uint64_t m_killAfter;
    uint32_t m_requests = 0;
    uint64_t m_bytes = 0;
};

// Waits before a broken transfer goes on, as the installer does, unless the
// run is over anyway.
class RunObserver : public DeliveryObserver {
public:
    explicit RunObserver(const BoundedTransport& transport) : m_transport(transport) {}
    void Progress(uint64_t, uint64_t) override {}
    void Pause(uint32_t milliseconds) override {
        if (!m_transport.Stopped())
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
    }
    void Fetched(const FetchSummary&) override {}

private:
    const BoundedTransport& m_transport;
};

struct PlayerReport {
    bool ran = false;
    RunOutcome outcome;
    bool killed = false;
    uint32_t requests = 0;
    uint64_t bytes = 0;
    double seconds = 0;
    std::string differs;
};

std::wstring Wide(const std::string& text) {
    return Utf8ToUtf16(text.data(), text.size());
}

std::string PlayerDir(const Options& options, unsigned long player) {
    char name[32] = {};
    snprintf(name, sizeof name, "/player-%03lu", player);
    return options.workDir + name;
}

PlayerReport RunPlayer(const Options& options, unsigned long player, Clock::time_point deadline) {
    PlayerReport report;
    report.ran = true;
    const std::wstring installDir = Wide(PlayerDir(options, player) + "/");
    const bool killing = options.killEvery > 0 && player % options.killEvery == 0;
    const Clock::time_point began = Clock::now();
    {
        BoundedTransport transport(deadline, killing ? options.killAfter : UINT64_MAX);
        RunObserver observer(transport);
        report.outcome = RunInstaller(Wide(options.baseUrl), installDir, transport, observer);
        report.killed = transport.Killed();
        report.requests = transport.Requests();
        report.bytes = transport.Bytes();
    }
    if (report.killed) {
        // The installer started again after the kill.
        BoundedTransport transport(deadline, UINT64_MAX);
        RunObserver observer(transport);
        report.outcome = RunInstaller(Wide(options.baseUrl), installDir, transport, observer);
        report.requests += transport.Requests();
        report.bytes += transport.Bytes();
    }
    report.seconds = std::chrono::duration<double>(Clock::now() - began).count();
    return report;
}

// The served pkg.ver, for the check by the install states; empty when it cannot
// be had.
std::string ServedVersion(const Options& options, Clock::time_point deadline) {
    const std::wstring path = Wide(options.workDir + "/served.ver");
    BoundedTransport transport(deadline, UINT64_MAX);
    RunObserver observer(transport);
    std::vector<unsigned char> bytes;
    const bool read =
        DownloadWhole(transport, PackageUrl(Wide(options.baseUrl), kVersionFilePath, 0), path,
                      observer) == S_OK &&
        ReadWholeFile(path, kMaxVersionBytes, &bytes);
    ForgetDownload(path);
    return read ? std::string(bytes.begin(), bytes.end()) : std::string();
}

bool ParseCount(const char* text, unsigned long long limit, unsigned long long* value) {
    char* end = nullptr;
    if (*text < '0' || *text > '9') return false;
    *value = strtoull(text, &end, 10);
    return *end == '\0' && *value <= limit;
}

bool ParseOptions(int argc, char** argv, Options* options) {
    if (argc < 3) return false;
    options->baseUrl = argv[1];
    options->workDir = argv[2];
    for (int i = 3; i < argc; i += 2) {
        if (i + 1 == argc) return false;
        const std::string name = argv[i];
        const char* value = argv[i + 1];
        unsigned long long number = 0;
        if (name == "--expect") {
            options->expectDir = value;
        } else if (name == "--origin-log") {
            options->originLog = value;
        } else if (name == "--kill-after" && ParseCount(value, UINT64_MAX - 1, &number)) {
            options->killAfter = number;
        } else if (name == "--players" && ParseCount(value, kMaxPlayers, &number) && number > 0) {
            options->players = number;
        } else if (name == "--threads" && ParseCount(value, kMaxThreads, &number) && number > 0) {
            options->threads = number;
        } else if (name == "--seconds" && ParseCount(value, kMaxSeconds, &number) && number > 0) {
            options->seconds = number;
        } else if (name == "--kill-every" && ParseCount(value, kMaxPlayers, &number)) {
            options->killEvery = number;
        } else {
            return false;
        }
    }
    // A kill needs its byte count, and a count its kill.
    return (options->killEvery > 0) == (options->killAfter > 0);
}

struct JsonDelete {
    void operator()(cJSON* item) const { cJSON_Delete(item); }
};
using Json = std::unique_ptr<cJSON, JsonDelete>;

void PrintLine(FILE* out, const Json& object) {
    std::unique_ptr<char, decltype(&cJSON_free)> text(cJSON_PrintUnformatted(object.get()),
                                                      &cJSON_free);
    if (text) fprintf(out, "%s\n", text.get());
}

struct FileCloser {
    void operator()(FILE* file) const { fclose(file); }
};

// The report's stream: standard output as it came. Standard output itself
// goes to WORK_DIR/trace.log, where the unpack's trace lines of every
// player land; null when either cannot be had.
std::unique_ptr<FILE, FileCloser> TakeReportStream(const Options& options) {
    fflush(stdout);
    const int descriptor = dup(STDOUT_FILENO);
    if (descriptor < 0) return nullptr;
    std::unique_ptr<FILE, FileCloser> report(fdopen(descriptor, "w"));
    if (!report) {
        close(descriptor);
        return nullptr;
    }
    if (freopen((options.workDir + "/trace.log").c_str(), "w", stdout) == nullptr) return nullptr;
    return report;
}

void AddOrigin(cJSON* summary, const OriginServed& served) {
    cJSON* origin = cJSON_AddObjectToObject(summary, "origin");
    const std::pair<const char*, const OriginFile*> files[] = {{"shell.zip", &served.shell},
                                                               {"GameClient.zip", &served.client},
                                                               {"pkg.ver", &served.version}};
    for (const auto& [name, file] : files) {
        cJSON* item = cJSON_AddObjectToObject(origin, name);
        cJSON_AddNumberToObject(item, "requests", file->requests);
        cJSON_AddNumberToObject(item, "bytes", static_cast<double>(file->bytes));
    }
}

double Percentile(std::vector<double> values, double fraction) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    return values[static_cast<size_t>(fraction * static_cast<double>(values.size() - 1) + 0.5)];
}

int Rehearse(const Options& options) {
    fprintf(stderr,
            "qorv-rehearse: %lu players, %lu at a time, at most %u requests a run, %lu s in all\n",
            options.players, options.threads, kMaxRequestsPerRun, options.seconds);
    const HRESULT made = MakeDirectories(Wide(options.workDir + "/"));
    if (made != S_OK) {
        fprintf(stderr, "qorv-rehearse: cannot make %s (0x%08X)\n", options.workDir.c_str(),
                static_cast<unsigned>(made));
        return kExitUsage;
    }
    const std::unique_ptr<FILE, FileCloser> out = TakeReportStream(options);
    if (!out) {
        fprintf(stderr, "qorv-rehearse: cannot write %s/trace.log\n", options.workDir.c_str());
        return kExitUsage;
    }
    const uint64_t logStart = options.originLog.empty() ? 0 : LogSize(options.originLog);
    const Clock::time_point began = Clock::now();
    const Clock::time_point deadline = began + std::chrono::seconds(options.seconds);
    std::vector<PlayerReport> reports(options.players);
    std::atomic<unsigned long> next{0};
    std::vector<std::thread> pool;
    for (unsigned long t = 0; t < std::min(options.threads, options.players); ++t) {
        pool.emplace_back([&] {
            for (unsigned long player; (player = next++) < options.players;) {
                if (Clock::now() < deadline) reports[player] = RunPlayer(options, player, deadline);
            }
        });
    }
    for (std::thread& thread : pool) thread.join();
    const double elapsed = std::chrono::duration<double>(Clock::now() - began).count();

    const std::string served = options.expectDir.empty() ? ServedVersion(options, deadline) : "";
    unsigned long exact = 0;
    std::vector<double> times;
    uint64_t bytes = 0;
    for (unsigned long player = 0; player < options.players; ++player) {
        PlayerReport& report = reports[player];
        if (!report.ran) {
            report.differs = "not run: the time was up";
        } else if (!options.expectDir.empty()) {
            report.differs = DiffersFromExpected(options.expectDir, PlayerDir(options, player));
        } else {
            report.differs = DiffersFromStates(Wide(PlayerDir(options, player) + "/"), served);
        }
        const bool isExact = report.ran && report.outcome.done && report.differs.empty();
        exact += isExact ? 1 : 0;
        bytes += report.bytes;
        if (report.ran) times.push_back(report.seconds);
        Json line(cJSON_CreateObject());
        cJSON_AddNumberToObject(line.get(), "player", static_cast<double>(player));
        cJSON_AddStringToObject(line.get(), "run", RunKindName(report.outcome.kind));
        cJSON_AddBoolToObject(line.get(), "killed", report.killed);
        cJSON_AddBoolToObject(line.get(), "done", report.outcome.done);
        cJSON_AddStringToObject(line.get(), "failure", report.outcome.failure.c_str());
        cJSON_AddNumberToObject(line.get(), "requests", report.requests);
        cJSON_AddNumberToObject(line.get(), "bytes", static_cast<double>(report.bytes));
        cJSON_AddNumberToObject(line.get(), "seconds", report.seconds);
        cJSON_AddBoolToObject(line.get(), "exact", isExact);
        cJSON_AddStringToObject(line.get(), "differs", report.differs.c_str());
        PrintLine(out.get(), line);
    }

    Json summary(cJSON_CreateObject());
    cJSON_AddNumberToObject(summary.get(), "players", static_cast<double>(options.players));
    cJSON_AddNumberToObject(summary.get(), "exact", static_cast<double>(exact));
    cJSON_AddNumberToObject(summary.get(), "bytes", static_cast<double>(bytes));
    cJSON_AddNumberToObject(summary.get(), "seconds", elapsed);
    cJSON_AddNumberToObject(summary.get(), "median_seconds", Percentile(times, 0.5));
    cJSON_AddNumberToObject(summary.get(), "p95_seconds", Percentile(times, 0.95));
    cJSON* limits = cJSON_AddObjectToObject(summary.get(), "limits");
    cJSON_AddNumberToObject(limits, "threads", static_cast<double>(options.threads));
    cJSON_AddNumberToObject(limits, "requests_per_run", kMaxRequestsPerRun);
    cJSON_AddNumberToObject(limits, "seconds", static_cast<double>(options.seconds));
    cJSON_AddBoolToObject(limits, "time_up", Clock::now() >= deadline);
    if (!options.originLog.empty()) {
        OriginServed origin;
        if (!ReadOriginLog(options.originLog, logStart, &origin)) {
            fprintf(stderr, "qorv-rehearse: cannot read %s\n", options.originLog.c_str());
        } else {
            AddOrigin(summary.get(), origin);
        }
    }
    PrintLine(out.get(), summary);
    return exact == options.players ? kExitOk : kExitNotExact;
}

}  // namespace

}  // namespace qorv

int main(int argc, char** argv) {
    qorv::Options options;
    if (!qorv::ParseOptions(argc, argv, &options)) {
        fputs(qorv::kUsage, stderr);
        return qorv::kExitUsage;
    }
    return qorv::Rehearse(options);
}
