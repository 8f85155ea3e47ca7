// Delivery against a small fake server: resumed and continued downloads,
// deliveries by ranges that fetch only what changed or is missing, their
// fall-backs to the whole download, and runs cut off at any point; and one
// delivery through libcurl from a real nginx.
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ZipTestFixture.h"
#include "delivery/CurlTransport.h"
#include "delivery/Delivery.h"
#include "delivery/Download.h"
#include "delivery/InstallState.h"
#include "services/FileSystem.h"
#include "services/TextFile.h"

using namespace qorv;

namespace {

// Serves one file as nginx does: 200 with an ETag, 206 for a range whose
// If-Range still matches, 200 for one that does not, 416 past the end.
// cutAfter ends the next answers' bodies after that many bytes; from the
// moment deadAfter bytes have gone out, or the power is cut, every request
// fails, as when the installer is killed. The hostile switches make it answer as a broken
// server or proxy may: 206 whatever If-Range says, 206 to any request, a
// Content-Range total of its own, no Content-Length.
class FakeServer : public Transport {
public:
    std::string body;
    std::wstring etag = L"\"v1\"";
    bool ranges = true;
    bool ignoresIfRange = false;
    bool alwaysPartial = false;
    uint64_t claimedTotal = 0;  // 0: the body's size
    bool sendsLength = true;
    int cuts = 0;  // answers still to cut
    uint64_t cutAfter = 0;
    uint64_t deadAfter = UINT64_MAX;
    uint64_t sent = 0;
    std::vector<HttpRequest> requests;

    HRESULT Open(const HttpRequest& request, HttpAnswer* answer) override {
        *answer = HttpAnswer();
        if (sent >= deadAfter || !HasPower()) return kResultFailed;
        requests.push_back(request);
        uint64_t first = 0;
        uint64_t last = body.size() - 1;
        const bool ranged = (request.ranged || alwaysPartial) && ranges &&
                            (ignoresIfRange || request.ifRange.empty() || request.ifRange == etag);
        answer->status = 200;
        if (ranged) {
            if (request.suffix > 0) {
                first = request.suffix < body.size() ? body.size() - request.suffix : 0;
            } else {
                first = request.first;
                if (request.last < last) last = request.last;
            }
            if (first >= body.size()) {
                answer->status = 416;
                m_pending.clear();
                return S_OK;
            }
            answer->status = 206;
            answer->contentRange = L"bytes " + std::to_wstring(first) + L"-" +
                                   std::to_wstring(last) + L"/" +
                                   std::to_wstring(claimedTotal > 0 ? claimedTotal : body.size());
        }
        answer->etag = etag;
        m_pending = body.substr(static_cast<size_t>(first), static_cast<size_t>(last - first + 1));
        answer->lengthKnown = sendsLength;
        answer->length = sendsLength ? m_pending.size() : 0;
        m_cut = cuts > 0 ? (--cuts, cutAfter) : UINT64_MAX;
        return S_OK;
    }

    HRESULT Read(void* buffer, uint32_t capacity, uint32_t* read) override {
        *read = 0;
        if (m_cut == 0 || sent >= deadAfter || !HasPower()) return kResultFailed;
        uint64_t count = m_pending.size() < capacity ? m_pending.size() : capacity;
        if (count > m_cut) count = m_cut;
        if (count > deadAfter - sent) count = deadAfter - sent;
        memcpy(buffer, m_pending.data(), static_cast<size_t>(count));
        m_pending.erase(0, static_cast<size_t>(count));
        m_cut -= count;
        sent += count;
        *read = static_cast<uint32_t>(count);
        return S_OK;
    }

private:
    std::string m_pending;
    uint64_t m_cut = UINT64_MAX;
};

class Observer : public DeliveryObserver {
public:
    std::vector<uint32_t> pauses;
    std::vector<FetchSummary> fetched;
    uint64_t lastDone = 0;
    bool backwards = false;

    void Progress(uint64_t done, uint64_t) override { lastDone = done; }
    void Pause(uint32_t milliseconds) override { pauses.push_back(milliseconds); }
    void Fetched(const FetchSummary& summary) override { fetched.push_back(summary); }
};

std::string Noise(size_t size, unsigned seed) {
    std::string bytes(size, '\0');
    for (char& c : bytes) {
        seed = seed * 1103515245u + 12345u;
        c = static_cast<char>(seed >> 16);
    }
    return bytes;
}

TestZipEntry Stored(const std::string& name, const std::string& data) {
    TestZipEntry entry;
    entry.name = name;
    entry.data = data;
    entry.method = 0;
    return entry;
}

// What the kit's version text names for a package: its digest and its
// directory's.
PackageVersion VersionOf(const std::string& package) {
    PackageVersion version;
    Sha256 whole;
    whole.Update(package.data(), package.size());
    version.package = whole.Final();
    version.hasPackage = true;
    const size_t tail = std::min<size_t>(package.size(), kPackageTailBytes);
    DirectoryLocation location;
    if (LocateDirectory(std::vector<unsigned char>(package.end() - tail, package.end()),
                        &location)) {
        Sha256 directory;
        directory.Update(package.data() + location.offset, package.size() - location.offset);
        version.directory = directory.Final();
        version.hasDirectory = true;
    }
    return version;
}

// The version text the state holds, "(none)" without one.
std::string StateVersion(const std::string& path) {
    InstallState state;
    return ReadInstallState(Wide(path), &state) ? state.version : std::string("(none)");
}

// Twelve incompressible files, the first version.
std::vector<TestZipEntry> Package() {
    std::vector<TestZipEntry> entries;
    for (int i = 0; i < 12; ++i) {
        entries.push_back(Stored("res/f" + std::to_string(i) + ".dat", Noise(20000, i + 1)));
    }
    entries.push_back(Stored("game.exe", "MZ game"));
    return entries;
}

class DeliveryTest : public ZipTest {
protected:
    void SetUp() override {
        ZipTest::SetUp();
        std::filesystem::create_directories(Path("install/client"));
        delivery.url = L"http://server/pkg/client.zip?skq=1";
        delivery.copyPath = Wide(Path("install/client.zip"));
        delivery.targetDir = Wide(Path("install/client/"));
        delivery.statePath = Wide(Path("install/client.state"));
    }

    DeliveryResult Deliver(RepairRule rule) {
        server.requests.clear();
        server.sent = 0;
        return Deliver(rule, server);
    }

    DeliveryResult Deliver(RepairRule rule, Transport& transport) {
        delivery.rule = rule;
        observer = Observer();
        return DeliverPackage(delivery, transport, observer);
    }

    // True when every file of entries is installed with its data.
    bool Installed(const std::vector<TestZipEntry>& entries) const {
        for (const TestZipEntry& entry : entries) {
            if (Read("install/client/" + entry.name) != entry.data) return false;
        }
        return true;
    }

    PackageDelivery delivery;
    FakeServer server;
    Observer observer;
};

TEST(ContinuationPause, GrowsAndStaysWithinAQuarter) {
    EXPECT_EQ(ContinuationPause(0, 0), 300u);
    EXPECT_EQ(ContinuationPause(0, 200), 500u);
    EXPECT_EQ(ContinuationPause(0, 201), 300u);
    EXPECT_EQ(ContinuationPause(4, 0), 4800u);
    EXPECT_LE(ContinuationPause(kMaxContinuations - 1, UINT32_MAX), 8000u);
}

TEST_F(DeliveryTest, ADownloadGoesOnFromWhereItBroke) {
    server.body = Noise(300000, 7);
    const std::wstring path = Wide(Path("install/file.bin"));
    // Cut at 60 %: the same call goes on with a range.
    server.cuts = 1;
    server.cutAfter = 180000;
    ASSERT_EQ(DownloadWhole(server, delivery.url, path, observer), S_OK);
    EXPECT_EQ(Read("install/file.bin"), server.body);
    ASSERT_EQ(server.requests.size(), 2u);
    EXPECT_TRUE(server.requests[1].ranged);
    EXPECT_EQ(server.requests[1].first, 180000u);
    EXPECT_EQ(server.requests[1].ifRange, server.etag);
    EXPECT_EQ(server.sent, server.body.size());
    EXPECT_EQ(observer.pauses.size(), 1u);
    ForgetDownload(path);

    // Cut on every answer: the continuations run out, and what arrived stays.
    server.requests.clear();
    server.sent = 0;
    server.cuts = 1 + kMaxContinuations;
    server.cutAfter = 10000;
    EXPECT_NE(DownloadWhole(server, delivery.url, path, observer), S_OK);
    EXPECT_EQ(server.requests.size(), 1u + kMaxContinuations);
    EXPECT_FALSE(Exists("install/file.bin"));
    EXPECT_EQ(Read("install/file.bin.part"), server.body.substr(0, 60000));
    // The next run asks only for the rest, even under another query.
    server.requests.clear();
    server.sent = 0;
    ASSERT_EQ(DownloadWhole(server, L"http://server/pkg/client.zip?skq=2", path, observer), S_OK);
    EXPECT_EQ(server.sent, server.body.size() - 60000);
    EXPECT_EQ(Read("install/file.bin"), server.body);
    // A whole copy a run left unused costs one byte to confirm.
    server.requests.clear();
    server.sent = 0;
    ASSERT_EQ(DownloadWhole(server, delivery.url, path, observer), S_OK);
    EXPECT_EQ(server.sent, 1u);
    ForgetDownload(path);
    EXPECT_FALSE(Exists("install/file.bin.resume"));
}

TEST_F(DeliveryTest, ADownloadStartsOverOrStopsWhenItCannotGoOn) {
    server.body = Noise(200000, 9);
    const std::wstring path = Wide(Path("install/file.bin"));
    server.cuts = 1 + kMaxContinuations;
    server.cutAfter = 20000;
    EXPECT_NE(DownloadWhole(server, delivery.url, path, observer), S_OK);
    // The file changed meanwhile: If-Range gets it whole, from zero.
    server.body = Noise(210000, 10);
    server.etag = L"\"v2\"";
    server.requests.clear();
    ASSERT_EQ(DownloadWhole(server, delivery.url, path, observer), S_OK);
    EXPECT_EQ(Read("install/file.bin"), server.body);
    EXPECT_EQ(server.requests.size(), 1u);
    ForgetDownload(path);

    // Without a validator nothing is kept or continued.
    server.etag.clear();
    server.requests.clear();
    server.cuts = 1;
    EXPECT_NE(DownloadWhole(server, delivery.url, path, observer), S_OK);
    EXPECT_EQ(server.requests.size(), 1u);
    EXPECT_FALSE(Exists("install/file.bin.part"));
    // A failure before any byte is not retried, and keeps what was there.
    server.etag = L"\"v2\"";
    server.cuts = 1;
    server.cutAfter = 0;
    server.requests.clear();
    EXPECT_NE(DownloadWhole(server, delivery.url, path, observer), S_OK);
    EXPECT_EQ(server.requests.size(), 1u);
    EXPECT_FALSE(Exists("install/file.bin"));
}

// Answers that do not fit what was asked are never kept: a 206 of another
// total, or of a changed file from a server that ignores If-Range, is not
// appended to a partial copy; a 206 to a request for the whole file is not
// taken as the file; no body is taken past the download's cap.
TEST_F(DeliveryTest, AnswersThatDoNotFitAreNotKept) {
    struct Case {
        const char* name;
        bool resume;                 // a partial copy of the file is on disk, with its tag
        void (*serve)(FakeServer&);  // how the server answers from then on
        size_t size;
        uint64_t cap;
        HRESULT expected;                 // S_OK: the file as the server now has it
        const char* freeBytes = nullptr;  // the volume's free space from the answer on
    };
    const size_t small = kMaxTextFileBytes;
    const Case cases[] = {
        {"206 of another total, to the resume and to the whole request", true,
         [](FakeServer& s) {
             s.alwaysPartial = true;
             s.claimedTotal = s.body.size() + 1;
         },
         50000, kMaxFileBytes, kResultDownloadFailed},
        {"206 of a changed file from a server that ignores If-Range", true,
         [](FakeServer& s) {
             s.body = Noise(s.body.size(), 12);
             s.etag = L"\"v2\"";
             s.ignoresIfRange = true;
         },
         50000, kMaxFileBytes, S_OK},
        {"206 to a request for the whole file", false,
         [](FakeServer& s) { s.alwaysPartial = true; }, 50000, kMaxFileBytes,
         kResultDownloadFailed},
        {"no length, up to the cap", false, [](FakeServer& s) { s.sendsLength = false; }, small,
         small, S_OK},
        {"no length, a byte past the cap", false, [](FakeServer& s) { s.sendsLength = false; },
         small + 1, small, kResultTooLarge},
        {"a length past the cap", false, [](FakeServer&) {}, small + 1, small, kResultTooLarge},
        {"a length past the free space", false, [](FakeServer&) {}, 50000, kMaxFileBytes,
         kResultDiskFull, "49999"},
        // The partial copy takes its room already: the rest fits.
        {"a resume whose rest fits the free space", true, [](FakeServer&) {}, 50000, kMaxFileBytes,
         S_OK, "45000"},
    };
    const std::wstring path = Wide(Path("install/file.bin"));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ForgetDownload(path);
        server = FakeServer();
        server.body = Noise(c.size, 11);
        if (c.resume) {
            server.cuts = 1 + kMaxContinuations;
            server.cutAfter = 5000;
            ASSERT_NE(DownloadUpTo(server, delivery.url, path, c.cap, observer), S_OK);
            ASSERT_TRUE(Exists("install/file.bin.part"));
        }
        c.serve(server);
        if (c.freeBytes != nullptr) setenv("QORV_FREE_BYTES", c.freeBytes, 1);
        server.sent = 0;
        uint64_t needed = 0;
        EXPECT_EQ(DownloadUpTo(server, delivery.url, path, c.cap, observer, &needed), c.expected);
        unsetenv("QORV_FREE_BYTES");
        if (c.expected == kResultDiskFull) {
            EXPECT_EQ(needed, c.size);
            EXPECT_EQ(server.sent, 0u);
        }
        if (c.expected == S_OK) {
            EXPECT_TRUE(Read("install/file.bin") == server.body);
        } else {
            EXPECT_FALSE(Exists("install/file.bin"));
            EXPECT_FALSE(Exists("install/file.bin.part"));
        }
    }

    // Spans of a file changed since its tail was read, from a server that
    // ignores If-Range: refused unread.
    server = FakeServer();
    server.body = Noise(50000, 13);
    LocalFile file;
    ASSERT_EQ(file.Open(path, LocalFile::Mode::kTruncate), S_OK);
    SpanFetch fetch(server, delivery.url, file, observer);
    uint64_t start = 0;
    ASSERT_EQ(fetch.Tail(1000, &start), S_OK);
    server.body = Noise(50000, 14);
    server.etag = L"\"v2\"";
    server.ignoresIfRange = true;
    server.sent = 0;
    EXPECT_EQ(fetch.Span(100, 199), kResultDownloadFailed);
    EXPECT_EQ(server.sent, 0u);
}

TEST_F(DeliveryTest, OnlyWhatChangedOrIsMissingIsFetched) {
    std::vector<TestZipEntry> entries = Package();
    server.body = BuildTestZip(entries);
    // No state: the whole way, and the state kept.
    ASSERT_EQ(Deliver(RepairRule::kReplaceChanged).status, DeliveryStatus::kInLine);
    EXPECT_TRUE(Installed(entries));
    EXPECT_TRUE(Exists("install/client.state"));
    EXPECT_FALSE(observer.fetched.at(0).ranged);
    EXPECT_FALSE(Exists("install/client.zip"));

    // Nothing changed: only the tail.
    ASSERT_EQ(Deliver(RepairRule::kReplaceChanged).status, DeliveryStatus::kInLine);
    EXPECT_EQ(server.requests.size(), 1u);
    EXPECT_LT(server.sent, server.body.size() / 20);
    EXPECT_EQ(observer.fetched.at(0).entries, 0u);

    // One file changed on the server, one on disk, one gone from disk.
    entries[6].data = Noise(20000, 99);
    server.body = BuildTestZip(entries);
    server.etag = L"\"v2\"";
    Write("install/client/res/f2.dat", "damaged");
    std::filesystem::remove(Path("install/client/game.exe"));
    Write("install/client/mine.txt", "the player's");
    ASSERT_EQ(Deliver(RepairRule::kReplaceChanged).status, DeliveryStatus::kInLine);
    EXPECT_TRUE(Installed(entries));
    EXPECT_EQ(observer.fetched.at(0).entries, 3u);
    EXPECT_LT(server.sent, server.body.size() / 4);
    EXPECT_EQ(Read("install/client/mine.txt"), "the player's");

    // The same version: a missing file comes back, a rewritten one stays.
    Write("install/client/res/f3.dat", "rewritten by the game");
    std::filesystem::remove(Path("install/client/res/f4.dat"));
    ASSERT_EQ(Deliver(RepairRule::kRestoreMissing).status, DeliveryStatus::kInLine);
    EXPECT_EQ(Read("install/client/res/f4.dat"), entries[4].data);
    EXPECT_EQ(Read("install/client/res/f3.dat"), "rewritten by the game");
    EXPECT_TRUE(observer.fetched.at(0).ranged);
}

TEST_F(DeliveryTest, WhatRangesCannotJudgeGoesTheWholeWay) {
    std::vector<TestZipEntry> entries = Package();
    server.body = BuildTestZip(entries);
    ASSERT_EQ(Deliver(RepairRule::kNewVersion).status, DeliveryStatus::kInLine);
    // A new version over the same package, named by an older kit's version
    // (the package's digest alone): the whole download lets it judge.
    delivery.version = "1";
    delivery.expected = VersionOf("another package");
    delivery.expected.hasDirectory = false;
    EXPECT_EQ(Deliver(RepairRule::kNewVersion).status, DeliveryStatus::kMismatch);
    EXPECT_EQ(server.requests.size(), 2u);
    EXPECT_FALSE(server.requests[1].ranged);
    EXPECT_EQ(StateVersion(Path("install/client.state")), "");
    // The copy stays, to be judged against the version read again: the
    // package it names costs one byte to confirm, not a second download.
    delivery.version = "2";
    delivery.expected = VersionOf(server.body);
    ASSERT_EQ(Deliver(RepairRule::kNewVersion).status, DeliveryStatus::kInLine);
    EXPECT_EQ(server.sent, 1u);
    EXPECT_EQ(StateVersion(Path("install/client.state")), "2");
    EXPECT_FALSE(Exists("install/client.zip"));
    delivery.expected = PackageVersion();

    // The same version, but the package changed: the whole way.
    entries[0].data = Noise(20000, 55);
    server.body = BuildTestZip(entries);
    server.etag = L"\"v2\"";
    std::filesystem::remove(Path("install/client/res/f1.dat"));
    ASSERT_EQ(Deliver(RepairRule::kRestoreMissing).status, DeliveryStatus::kInLine);
    EXPECT_FALSE(observer.fetched.at(0).ranged);
    EXPECT_TRUE(Installed(entries));

    // A server that ignores ranges: the whole download, yet only the
    // entries the rule asks for, so a file the game rewrote stays.
    delivery.version = "2";
    server.ranges = false;
    Write("install/client/res/f7.dat", "rewritten by the game");
    std::filesystem::remove(Path("install/client/res/f8.dat"));
    ASSERT_EQ(Deliver(RepairRule::kRestoreMissing).status, DeliveryStatus::kInLine);
    EXPECT_FALSE(observer.fetched.at(0).ranged);
    EXPECT_EQ(Read("install/client/res/f7.dat"), "rewritten by the game");
    EXPECT_EQ(Read("install/client/res/f8.dat"), entries[8].data);
    EXPECT_EQ(StateVersion(Path("install/client.state")), "2");
}

// The state, not the zip's word, tells what is installed: a stale package
// under a new version is refused by ranges as by a whole download, a failure
// forgets nothing, and entries of odd shapes are fetched once.
TEST_F(DeliveryTest, TheStateIsTheOneTruthOfWhatIsInstalled) {
    const std::vector<TestZipEntry> first = Package();
    std::vector<TestZipEntry> second = first;
    second[6].data = Noise(20000, 66);
    const std::string v1 = BuildTestZip(first);
    const std::string v2 = BuildTestZip(second);
    server.body = v1;
    delivery.version = "v1";
    delivery.expected = VersionOf(v1);
    ASSERT_EQ(Deliver(RepairRule::kNewVersion).status, DeliveryStatus::kInLine);

    // A new version while the edge still serves the old package, with a file
    // the game rewrote: nothing is committed or touched.
    Write("install/client/res/f3.dat", "rewritten");
    delivery.version = "v2";
    delivery.expected = VersionOf(v2);
    EXPECT_EQ(Deliver(RepairRule::kNewVersion).status, DeliveryStatus::kMismatch);
    EXPECT_EQ(StateVersion(Path("install/client.state")), "v1");
    EXPECT_EQ(Read("install/client/res/f3.dat"), "rewritten");
    EXPECT_EQ(Read("install/client/res/f6.dat"), first[6].data);
    // Once the edge serves it, by ranges.
    server.body = v2;
    server.etag = L"\"v2\"";
    ASSERT_EQ(Deliver(RepairRule::kNewVersion).status, DeliveryStatus::kInLine);
    EXPECT_TRUE(observer.fetched.at(0).ranged);
    EXPECT_TRUE(Installed(second));
    EXPECT_EQ(StateVersion(Path("install/client.state")), "v2");

    // A repair that fails for a cause other than the bytes (a player's file
    // where a lost file goes) keeps the state; the next healthy run restores
    // by ranges.
    std::filesystem::remove(Path("install/client/res/f4.dat"));
    std::filesystem::create_directories(Path("install/client/res/f4.dat"));
    Write("install/client/res/f4.dat/mine.txt", "the player's");
    const DeliveryResult blocked = Deliver(RepairRule::kRestoreMissing);
    EXPECT_EQ(blocked.status, DeliveryStatus::kUnpackFailed);
    EXPECT_NE(blocked.path.find(L"f4.dat\\mine.txt"), std::wstring::npos);
    EXPECT_EQ(Read("install/client/res/f4.dat/mine.txt"), "the player's");
    std::filesystem::remove_all(Path("install/client/res/f4.dat"));
    ASSERT_TRUE(InstalledFileMissing(delivery.statePath, delivery.targetDir));
    ASSERT_EQ(Deliver(RepairRule::kRestoreMissing).status, DeliveryStatus::kInLine);
    EXPECT_TRUE(observer.fetched.at(0).ranged);
    EXPECT_LT(server.sent, v2.size() / 4);
    EXPECT_TRUE(Installed(second));
}

// Too little room, before a byte of what does not fit is fetched or
// staged: the space state with what is needed, nothing installed changed,
// and what was fetched kept; once there is room, the next run completes
// fetching only what is still missing.
TEST_F(DeliveryTest, TooLittleRoomChangesNothingAndTheRetryCompletes) {
    std::vector<TestZipEntry> first = Package();
    TestZipEntry zeros;
    zeros.name = "res/zeros.dat";
    zeros.data = std::string(300000, '\0');  // deflates to next to nothing
    first.push_back(zeros);
    std::vector<TestZipEntry> second = first;
    for (int i : {2, 3, 9}) second[i].data = Noise(20000, 200 + i);
    const std::string v1 = BuildTestZip(first);
    const std::string v2 = BuildTestZip(second);
    const uint64_t extracted = 12 * 20000 + 7 + 300000;
    struct Case {
        const char* name;
        bool update;  // v1 installed first, v2 delivered; else a first install of v1
        uint64_t freeBytes;
        uint64_t needed;        // what the space state asks for
        uint64_t fetchedFirst;  // at most, by the run without room
        uint64_t fetchedRetry;  // at most, by the run with room
    };
    const Case cases[] = {
        {"a first install whose download does not fit", false, v1.size() - 1, v1.size(), 0,
         v1.size()},
        {"a first install whose entries do not fit beside the download", false, v1.size() + 1000,
         extracted, v1.size(), 1},
        // The ranges and the entries staged from them.
        {"an update whose entries do not fit", true, 50000, 2 * 3 * 20000, 8192, 3 * 20000 + 8192},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove_all(Path("install"));
        std::filesystem::create_directories(Path("install/client"));
        server = FakeServer();
        server.body = v1;
        if (c.update) {
            ASSERT_EQ(Deliver(RepairRule::kNewVersion).status, DeliveryStatus::kInLine);
            server.body = v2;
            server.etag = L"\"v2\"";
        }
        const std::vector<TestZipEntry>& wanted = c.update ? second : first;
        setenv("QORV_FREE_BYTES", std::to_string(c.freeBytes).c_str(), 1);
        const DeliveryResult full = Deliver(RepairRule::kNewVersion);
        unsetenv("QORV_FREE_BYTES");
        EXPECT_EQ(full.status, DeliveryStatus::kUnpackFailed);
        EXPECT_EQ(full.error, kResultDiskFull);
        EXPECT_GE(full.bytesNeeded, c.needed);
        EXPECT_LE(full.bytesNeeded, c.needed + 8192);
        EXPECT_LE(server.sent, c.fetchedFirst);
        if (c.update) {
            EXPECT_TRUE(Installed(first));
        } else {
            EXPECT_TRUE(std::filesystem::is_empty(Path("install/client")));
        }
        ASSERT_EQ(Deliver(RepairRule::kNewVersion).status, DeliveryStatus::kInLine);
        EXPECT_TRUE(Installed(wanted));
        EXPECT_LE(server.sent, c.fetchedRetry);
    }
}

TEST_F(DeliveryTest, OddEntriesAreFetchedOnceAndKindsMayChange) {
    std::vector<TestZipEntry> entries = Package();
    TestZipEntry undated = Stored("undated.txt", "no date");
    undated.dosDateTime = 0;
    TestZipEntry localTime = Stored("local-time.txt", "time in the local header only");
    localTime.localExtra = ExtendedTimeBlock(1, {1600000000});
    TestZipEntry folder = Stored("both/", "");
    folder.externalAttributes = 0x41ED0010;
    entries.insert(entries.end(),
                   {undated, localTime, Stored("both", "a file first"), folder,
                    Stored("dup.txt", "first"), Stored("DUP.TXT", "last"),
                    Stored("kind/a.ini", "a folder of files"), Stored("plain", "a file")});
    server.body = BuildTestZip(entries);
    ASSERT_EQ(Deliver(RepairRule::kReplaceChanged).status, DeliveryStatus::kInLine);
    EXPECT_TRUE(std::filesystem::is_directory(Path("install/client/both")));
    for (int run = 0; run < 2; ++run) {
        ASSERT_EQ(Deliver(RepairRule::kReplaceChanged).status, DeliveryStatus::kInLine);
        EXPECT_EQ(server.requests.size(), 1u) << run;
        EXPECT_EQ(observer.fetched.at(0).entries, 0u) << run;
    }
    // A new version turns a folder of the package into a file and a file
    // into a folder.
    entries.resize(entries.size() - 2);
    entries.push_back(Stored("kind", "now a file"));
    entries.push_back(Stored("plain/b.bin", "now in a folder"));
    server.body = BuildTestZip(entries);
    server.etag = L"\"v2\"";
    ASSERT_EQ(Deliver(RepairRule::kNewVersion).status, DeliveryStatus::kInLine);
    EXPECT_EQ(Read("install/client/kind"), "now a file");
    EXPECT_EQ(Read("install/client/plain/b.bin"), "now in a folder");
}

// A run killed while it moved the staged files is finished by the next one
// from the state, with nothing fetched but the tail.
TEST_F(DeliveryTest, MovesAKilledRunLeftAreFinished) {
    const std::vector<TestZipEntry> entries = Package();
    server.body = BuildTestZip(entries);
    ASSERT_EQ(Deliver(RepairRule::kReplaceChanged).status, DeliveryStatus::kInLine);
    InstallState state;
    ASSERT_TRUE(ReadInstallState(delivery.statePath, &state));
    // Entry 0 waits staged; entry 1 was moved already.
    Write("install/client/res/~qorv-0.stage", entries[0].data);
    std::filesystem::remove(Path("install/client/res/f0.dat"));
    state.entries[0].staged = "res/~qorv-0.stage";
    state.entries[1].staged = "res/~qorv-1.stage";
    state.applying = true;
    ASSERT_TRUE(WriteInstallState(state, delivery.statePath));
    ASSERT_EQ(Deliver(RepairRule::kReplaceChanged).status, DeliveryStatus::kInLine);
    EXPECT_TRUE(Installed(entries));
    EXPECT_FALSE(Exists("install/client/res/~qorv-0.stage"));
    ASSERT_TRUE(ReadInstallState(delivery.statePath, &state));
    EXPECT_FALSE(state.applying);
    EXPECT_EQ(server.requests.size(), 1u);
}

TEST_F(DeliveryTest, ARunCutOffAnywhereCostsOnlyWhatIsStillMissing) {
    const std::vector<TestZipEntry> first = Package();
    std::vector<TestZipEntry> second = first;
    for (int i : {2, 3, 9}) second[i].data = Noise(20000, 100 + i);
    const std::string v1 = BuildTestZip(first);
    const std::string v2 = BuildTestZip(second);
    for (bool ranged : {false, true}) {
        for (uint64_t dead = 1000; dead < v2.size(); dead += v2.size() / 7) {
            SCOPED_TRACE(std::to_string(ranged) + " " + std::to_string(dead));
            std::filesystem::remove_all(Path("install"));
            std::filesystem::create_directories(Path("install/client"));
            if (ranged) {
                server = FakeServer();
                server.body = v1;
                ASSERT_EQ(Deliver(RepairRule::kNewVersion).status, DeliveryStatus::kInLine);
            }
            server = FakeServer();
            server.body = v2;
            server.etag = L"\"v2\"";
            server.deadAfter = dead;
            if (Deliver(RepairRule::kNewVersion).status == DeliveryStatus::kInLine) continue;
            server.deadAfter = UINT64_MAX;
            ASSERT_EQ(Deliver(RepairRule::kNewVersion).status, DeliveryStatus::kInLine);
            EXPECT_TRUE(Installed(second));
            // The rest of a whole download, or the changed entries again
            // and the tail.
            const uint64_t bound = ranged ? 3 * 20000 + 8192 : v2.size() - dead + 1;
            EXPECT_LE(server.sent, bound);
        }
    }
}

// A power cut after any change of an update by ranges: whatever was not
// flushed is lost (the file keeps its size and time, not its bytes), and the
// next run, as the version it finds asks, ends in the new package committed,
// fetching the changed entries at most once more.
TEST_F(DeliveryTest, APowerCutAnywhereEndsRightOnTheNextRun) {
    const std::vector<TestZipEntry> first = Package();
    std::vector<TestZipEntry> second = first;
    for (int i : {2, 3, 9}) second[i].data = Noise(20000, 100 + i);
    const std::string v1 = BuildTestZip(first);
    const std::string v2 = BuildTestZip(second);
    uint64_t changes = 0;
    for (;; ++changes) {
        SCOPED_TRACE(changes);
        std::filesystem::remove_all(Path("install"));
        std::filesystem::create_directories(Path("install/client"));
        server = FakeServer();
        server.body = v1;
        delivery.version = "v1";
        delivery.expected = VersionOf(v1);
        CutPowerAfter(UINT64_MAX);
        ASSERT_EQ(Deliver(RepairRule::kNewVersion).status, DeliveryStatus::kInLine);
        // A cut right after a run that ended loses nothing of it.
        ASSERT_TRUE(RestorePower());
        ASSERT_TRUE(Installed(first));
        server = FakeServer();
        server.body = v2;
        server.etag = L"\"v2\"";
        delivery.version = "v2";
        delivery.expected = VersionOf(v2);
        CutPowerAfter(changes);
        const bool ended = Deliver(RepairRule::kNewVersion).status == DeliveryStatus::kInLine;
        const bool cut = !HasPower();
        ASSERT_TRUE(RestorePower());
        if (ended && !cut) break;  // the update made fewer changes
        const std::string found = StateVersion(Path("install/client.state"));
        ASSERT_TRUE(found == "v1" || found == "v2") << found;
        const RepairRule rule =
            found == "v2" ? RepairRule::kRestoreMissing : RepairRule::kNewVersion;
        CutPowerAfter(UINT64_MAX);
        ASSERT_EQ(Deliver(rule).status, DeliveryStatus::kInLine);
        ASSERT_TRUE(RestorePower());
        EXPECT_TRUE(Installed(second));
        InstallState state;
        ASSERT_TRUE(ReadInstallState(delivery.statePath, &state));
        EXPECT_EQ(state.version, "v2");
        EXPECT_FALSE(state.applying);
        EXPECT_LE(server.sent, 3 * 20000 + 8192);
        // Nothing staged is left behind.
        size_t files = 0;
        for (const auto& item :
             std::filesystem::recursive_directory_iterator(Path("install/client"))) {
            files += item.is_regular_file() ? 1 : 0;
        }
        EXPECT_EQ(files, second.size());
    }
    // Every phase was cut: the fetch, the staging, the flushes, both state
    // writes and the moves.
    EXPECT_GT(changes, 30u);
}

// Against the nginx that QORV_NGINX_ROOT (its folder) and QORV_NGINX_URL
// (its URL) name: tests/native/cdn_test.py starts one and runs this.
TEST_F(DeliveryTest, OverNginxFreshThenUpToDate) {
    const char* root = getenv("QORV_NGINX_ROOT");
    const char* url = getenv("QORV_NGINX_URL");
    if (root == nullptr || url == nullptr) GTEST_SKIP() << "needs nginx: run by cdn_test.py";
    const std::vector<TestZipEntry> entries = Package();
    const std::string package = BuildTestZip(entries);
    std::filesystem::create_directories(std::string(root) + "/pkg");
    {
        std::ofstream out(std::string(root) + "/pkg/client.zip", std::ios::binary);
        out << package;
    }
    delivery.url = Wide(std::string(url) + "/pkg/client.zip?skq=1");
    CurlTransport curl;
    ASSERT_EQ(Deliver(RepairRule::kReplaceChanged, curl).status, DeliveryStatus::kInLine);
    EXPECT_TRUE(Installed(entries));
    EXPECT_FALSE(observer.fetched.at(0).ranged);
    // Up to date: the tail alone, by a suffix range nginx answers.
    ASSERT_EQ(Deliver(RepairRule::kReplaceChanged, curl).status, DeliveryStatus::kInLine);
    EXPECT_TRUE(observer.fetched.at(0).ranged);
    EXPECT_EQ(observer.fetched.at(0).entries, 0u);
    EXPECT_LT(observer.fetched.at(0).bytes, package.size() / 20);
    EXPECT_TRUE(Installed(entries));
}

}  // namespace
