// A fresh temporary directory, made the current directory for the test's
// lifetime and removed afterwards.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>
#include <unistd.h>

class TempDir {
  public:
    TempDir() {
        char tmpl[] = "/tmp/tv_platform_XXXXXX";
        m_path = mkdtemp(tmpl);
        m_old = std::filesystem::current_path();
        std::filesystem::current_path(m_path);
    }
    ~TempDir() {
        std::filesystem::current_path(m_old);
        std::error_code ec;
        // Read-only entries are made writable again so that removal succeeds.
        for (auto& e : std::filesystem::recursive_directory_iterator(m_path, ec))
            if (!e.is_symlink())
                std::filesystem::permissions(e.path(), std::filesystem::perms::owner_all,
                                             std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(m_path, ec);
    }
    const std::string& path() const { return m_path; }

    static void Write(const std::string& name, const std::string& content) {
        std::ofstream(name, std::ios::binary) << content;
    }
    static std::string Read(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

  private:
    std::string m_path;
    std::filesystem::path m_old;
};
