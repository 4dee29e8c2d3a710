/* A temporary folder in the Wine prefix for the file-helper suites, files
 * written and read back with the test's own runtime, streams opened with the
 * engine's fopen, and the readers' and the search's results as one value. */
#pragma once
#include <windows.h>
#include <fstream>
#include <ostream>
#include <sstream>
#include <string>
#include "toolbox_test_support.h"

namespace toolbox_test {

using namespace std::string_literals;

class FilesTest : public ToolboxTest {
protected:
    void SetUp() override
    {
        ToolboxTest::SetUp();
        standin_rte_streams_reset();
        char temp[MAX_PATH];
        GetTempPathA(sizeof temp, temp);
        CreateDirectoryA((dir_ = temp + "tbfiles"s + std::to_string(GetCurrentProcessId()) + "\\").c_str(), nullptr);
    }
    void TearDown() override
    {
        standin_rte_streams_reset();
        WIN32_FIND_DATAA found;
        HANDLE h = FindFirstFileA((dir_ + "*").c_str(), &found);
        for (bool more = h != INVALID_HANDLE_VALUE; more; more = FindNextFileA(h, &found))
            DeleteFileA((dir_ + found.cFileName).c_str());
        if (h != INVALID_HANDLE_VALUE) FindClose(h);
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
        std::stringstream text;
        text << std::ifstream(full_path, std::ios::binary).rdbuf();
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

/* What ReadStringFromBinaryFile or ReadLineFromBinaryFile gave, and where
 * the stream stands after it. */
struct Read {
    int status;
    std::string text;
    int eof, limit;
    long position;
    bool operator==(const Read &) const = default;
};

inline std::ostream &operator<<(std::ostream &out, const Read &r)
{
    return out << "{" << r.status << ", \"" << r.text << "\", eof " << r.eof << ", limit " << r.limit << ", at "
               << r.position << "}";
}

inline Read read_from(FILE *stream, int maxBytes, bool line = false)
{
    char *text = nullptr;
    int eof = -1, limit = -1;
    int status = (line ? ReadLineFromBinaryFile : ReadStringFromBinaryFile)(stream, &text, maxBytes, &eof, &limit);
    Read r{status, text ? text : "<null>", eof, limit, qex_rte_ftell(stream)};
    qex_rte_free(text);
    return r;
}

} // namespace toolbox_test
