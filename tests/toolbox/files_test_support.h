/* A temporary folder in the Wine prefix for the file-helper suites, files
 * written and read back with the test's own runtime, and streams opened with
 * the engine's fopen. */
#pragma once
#include <windows.h>
#include <fstream>
#include <sstream>
#include <string>
#include "toolbox_test_support.h"

namespace toolbox_test {

class FilesTest : public ToolboxTest {
protected:
    void SetUp() override
    {
        ToolboxTest::SetUp();
        standin_rte_streams_reset();
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        dir_ = std::string(temp) + "tbfiles" + std::to_string(GetCurrentProcessId()) + "\\";
        CreateDirectoryA(dir_.c_str(), nullptr);
    }
    void TearDown() override
    {
        standin_rte_streams_reset();
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((dir_ + "*").c_str(), &found);
        if (h != INVALID_HANDLE_VALUE) {
            do {
                std::string name = dir_ + found.cFileName;
                SetFileAttributesA(name.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileA(name.c_str());
            } while (FindNextFileA(h, &found));
            FindClose(h);
        }
        RemoveDirectoryA(dir_.c_str());
        ToolboxTest::TearDown();
    }
    std::string path(const std::string &name) const { return dir_ + name; }
    std::string write(const std::string &name, const std::string &bytes) const
    {
        std::ofstream(path(name), std::ios::binary) << bytes;
        return path(name);
    }
    static std::string read(const std::string &full_path)
    {
        std::ifstream in(full_path, std::ios::binary);
        std::stringstream text;
        text << in.rdbuf();
        return text.str();
    }
    /* An engine stream on a new file holding bytes, at position 0. */
    FILE *stream_of(const std::string &bytes, const char *name = "s.bin")
    {
        write(name, bytes);
        return qex_rte_fopen(path(name).c_str(), "r+b");
    }
    std::string dir_;
};

} // namespace toolbox_test
