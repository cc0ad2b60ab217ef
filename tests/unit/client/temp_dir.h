// A fresh temporary working directory for one test; the previous working
// directory is restored and the directory removed afterwards.
#pragma once

#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>

class TempWorkDir {
  public:
    TempWorkDir() {
        m_old = std::filesystem::current_path();
        char templ[] = "/tmp/tv_client_test_XXXXXX";
        m_dir = ::mkdtemp(templ);
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

  private:
    std::filesystem::path m_old;
    std::filesystem::path m_dir;
};
