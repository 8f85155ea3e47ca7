#include "ZipTestFixture.h"

#include <stdlib.h>
#include <sys/stat.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "services/Text.h"

using namespace qorv;

std::wstring Wide(const std::string& utf8) {
    return qorv::Utf8ToUtf16(utf8.data(), utf8.size());
}

std::string Narrow(const wchar_t* wide) {
    return qorv::Utf16ToUtf8(wide, wcslen(wide));
}

void ZipTest::SetUp() {
    std::string pattern = (std::filesystem::temp_directory_path() / "qorv-zip-XXXXXX").string();
    ASSERT_NE(mkdtemp(&pattern[0]), nullptr);
    m_root = pattern;
}

void ZipTest::TearDown() {
    // Read-only files and folders must not stop the clean-up.
    for (const auto& item : std::filesystem::recursive_directory_iterator(m_root)) {
        chmod(item.path().c_str(), item.is_directory() ? 0755 : 0644);
    }
    std::filesystem::remove_all(m_root);
}

bool ZipTest::Exists(const std::string& relative) const {
    struct stat status;
    return lstat(Path(relative).c_str(), &status) == 0;
}

std::string ZipTest::Read(const std::string& relative) const {
    std::ifstream in(Path(relative), std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

void ZipTest::Write(const std::string& relative, const std::string& bytes) const {
    std::ofstream out(Path(relative), std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

ScopedZip ZipTest::OpenEntries(const std::vector<TestZipEntry>& entries) {
    Write("archive.zip", BuildTestZip(entries));
    return OpenFile("archive.zip");
}

ScopedZip ZipTest::OpenFile(const std::string& relative) {
    ScopedZip zip(ZipOpen(Wide(Path(relative)).c_str()));
    EXPECT_NE(zip, nullptr);
    if (zip) {
        EXPECT_EQ(ZipSetBaseDir(zip.get(), Wide(Path("out")).c_str()), ZipOk);
    }
    return zip;
}
