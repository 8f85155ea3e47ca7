// A scratch directory per test and helpers around the zip operations.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "ZipTestArchive.h"
#include "services/zip/ScopedZip.h"
#include "services/zip/ZipExtract.h"

std::wstring Wide(const std::string& utf8);
std::string Narrow(const wchar_t* wide);

class ZipTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // A path inside the scratch directory.
    std::string Path(const std::string& relative) const { return m_root + "/" + relative; }
    bool Exists(const std::string& relative) const;
    std::string Read(const std::string& relative) const;
    void Write(const std::string& relative, const std::string& bytes) const;

    // Writes the entries as archive.zip and opens it with base directory "out".
    qorv::ScopedZip OpenEntries(const std::vector<TestZipEntry>& entries);
    qorv::ScopedZip OpenFile(const std::string& relative);

    std::string m_root;
};
