// Runs decompress_file in a fresh temporary directory, with the fatal path
// turned into an exception and standard error captured.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

#include "gunzip/gunzip.h"
#include "gunzip/shared.h"
#include "syscall_seam.h"

namespace gztest {

using namespace ::gunzip;

namespace fs = std::filesystem;

struct FatalExit {
    int32_t code;
};

inline std::string ReadBytes(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

inline void WriteBytes(const fs::path& p, const std::string& data) {
    std::ofstream f(p, std::ios::binary);
    f << data;
}

// The outcome of one decompress_file call.
struct Outcome {
    int32_t status = -1; // the result, or the exit code of the fatal path
    bool fatal = false;  // the fatal path ran
    std::string err;     // everything written to standard error
};

class GunzipTest : public ::testing::Test {
  protected:
    void SetUp() override {
        old_cwd_ = fs::current_path();
        dir_ = fs::temp_directory_path() /
               ("gunzip_test_" + std::to_string(getpid()) + "_" +
                ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
        fs::current_path(dir_);
        set_gunzip_exit_handler([](int32_t code) { throw FatalExit{code}; });
    }
    void TearDown() override {
        crtsys::ResetSyscalls();
        set_gunzip_exit_handler(nullptr);
        fs::current_path(old_cwd_);
        fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add);
#ifdef _WIN32
        // Windows refuses to delete a read-only file.
        for (const auto& e : fs::recursive_directory_iterator(dir_))
            fs::permissions(e.path(), fs::perms::owner_write, fs::perm_options::add);
#endif
        fs::remove_all(dir_);
    }

    // Copies fixture NAME.gz from the committed set (or the large set) here.
    static std::string Fixture(const std::string& name, const char* dir = TV_GZIP_FIXTURES) {
        return ReadBytes(fs::path(dir) / (name + ".gz"));
    }
    static std::string Expected(const std::string& name, const char* dir = TV_GZIP_FIXTURES) {
        return ReadBytes(fs::path(dir) / (name + ".expected"));
    }

    Outcome Run(const std::string& path) {
        Outcome o;
        std::fflush(stderr);
        int saved = dup(2);
        std::FILE* capture = std::tmpfile();
        dup2(fileno(capture), 2);
        try {
            o.status = decompress_file(path.c_str());
        } catch (const FatalExit& e) {
            o.fatal = true;
            o.status = e.code;
            // The process would have ended here; the harness closes the input.
            if (input_fd >= 0)
                crt_close(input_fd);
            input_fd = -1;
        }
        std::fflush(stderr);
        dup2(saved, 2);
        close(saved);
        std::rewind(capture);
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, capture)) > 0)
            o.err.append(buf, n);
        std::fclose(capture);
        return o;
    }

    fs::path dir_;
    fs::path old_cwd_;
};

} // namespace gztest
