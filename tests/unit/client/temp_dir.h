// A fresh temporary working directory for one test; the previous working
// directory is restored and the directory removed afterwards. Also the
// temporary-directory variable of the platform, set for one scope.
#pragma once

#include "platform/wintypes.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <optional>
#include <random>
#include <string>

class TempWorkDir {
  public:
    TempWorkDir() {
        m_old = std::filesystem::current_path();
        std::random_device rd;
        for (;;) {
            m_dir = std::filesystem::temp_directory_path() /
                    ("tv_client_test_" + std::to_string(rd()) + std::to_string(rd()));
            if (std::filesystem::create_directory(m_dir))
                break;
        }
        std::filesystem::current_path(m_dir);
    }
    ~TempWorkDir() {
        std::filesystem::current_path(m_old);
        std::error_code ec;
        // Read-only leftovers must not block the clean-up.
        for (auto& e : std::filesystem::recursive_directory_iterator(m_dir, ec))
            std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                         std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_dir, ec);
    }
    TempWorkDir(const TempWorkDir&) = delete;
    TempWorkDir& operator=(const TempWorkDir&) = delete;

    const std::filesystem::path& path() const { return m_dir; }

    static void Write(const std::string& name, const std::string& data) {
        std::ofstream(name, std::ios::binary) << data;
    }
    static std::string Read(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    // Read-only as the platform knows it: the owner-write bit on the host,
    // the read-only attribute on Windows.
    static void MakeReadOnly(const std::string& name) {
        std::filesystem::permissions(name,
                                     std::filesystem::perms::owner_write |
                                         std::filesystem::perms::group_write |
                                         std::filesystem::perms::others_write,
                                     std::filesystem::perm_options::remove);
    }

  private:
    std::filesystem::path m_old;
    std::filesystem::path m_dir;
};

// The variable GetTempPathA reads first (TMPDIR on the host, TMP on
// Windows), set for the scope of the object.
class TempDirVariable {
  public:
#ifdef _WIN32
    static constexpr const char* kName = "TMP";
#else
    static constexpr const char* kName = "TMPDIR";
#endif
    explicit TempDirVariable(const std::string& value) {
        if (const char* old = std::getenv(kName))
            m_old = old;
        Set(value.c_str());
    }
    ~TempDirVariable() {
        Set(m_old ? m_old->c_str() : nullptr);
    }
    TempDirVariable(const TempDirVariable&) = delete;
    TempDirVariable& operator=(const TempDirVariable&) = delete;

  private:
    static void Set(const char* value) {
#ifdef _WIN32
        SetEnvironmentVariableA(kName, value);
        _putenv_s(kName, value ? value : "");
#else
        if (value)
            ::setenv(kName, value, 1);
        else
            ::unsetenv(kName);
#endif
    }
    std::optional<std::string> m_old;
};
