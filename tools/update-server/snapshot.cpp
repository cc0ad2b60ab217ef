// Reading a published snapshot: its manifest, its bodies, the selection.
#include "snapshot.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sstream>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tvserver {

namespace {

bool ReadFd(int fd, std::string& text) {
    char buf[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0)
            return false;
        if (n == 0)
            return true;
        text.append(buf, static_cast<std::size_t>(n));
    }
}

bool ParseU32(const std::string& s, std::uint32_t& v) {
    if (s.empty() || s.size() > 10 || s.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const unsigned long long x = std::stoull(s);
    if (x > UINT32_MAX)
        return false;
    v = static_cast<std::uint32_t>(x);
    return true;
}

// "file G V SIZE KEY NAME": the name is the rest of the line, blanks and all.
bool ParseFile(const std::string& line, SnapshotFile& f) {
    std::istringstream in(line);
    std::string word, g, v, size, key;
    if (!(in >> word >> g >> v >> size >> key) || (g != "0" && g != "1"))
        return false;
    std::uint32_t sz = 0;
    if (!ParseU32(v, f.version) || !ParseU32(size, sz) || sz > INT32_MAX)
        return false;
    const std::streamoff at = in.tellg();
    if (at < 0 || static_cast<std::size_t>(at) + 1 >= line.size())
        return false;
    f.group = g[0] - '0';
    f.size = sz;
    f.name = line.substr(static_cast<std::size_t>(at) + 1);
    return true;
}

} // namespace

std::string StorePath(const std::string& contentDir) {
    return contentDir + "/" + kStoreName;
}

unsigned Snapshot::CurrentId(const std::string& storeDir) {
    char target[256];
    const ssize_t n = ::readlink((storeDir + "/current").c_str(), target, sizeof target - 1);
    if (n <= 0)
        return 0;
    target[n] = '\0';
    const char* slash = std::strrchr(target, '/');
    std::uint32_t id = 0;
    return slash && ParseU32(slash + 1, id) ? id : 0;
}

std::shared_ptr<const Snapshot> Snapshot::LoadCurrent(const std::string& storeDir,
                                                      std::string& error) {
    const unsigned id = CurrentId(storeDir);
    if (id == 0) {
        error = "nothing published in " + storeDir;
        return nullptr;
    }
    std::shared_ptr<Snapshot> s(new Snapshot);
    s->m_id = id;
    char name[32];
    std::snprintf(name, sizeof name, "/snapshots/%06u", id);
    s->m_dir = storeDir + name;
    s->m_dirFd = ::open(s->m_dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (s->m_dirFd >= 0)
        s->m_lockFd = ::openat(s->m_dirFd, "manifest", O_RDONLY | O_CLOEXEC);
    std::string text;
    if (s->m_lockFd < 0 || ::flock(s->m_lockFd, LOCK_SH) != 0 || !ReadFd(s->m_lockFd, text)) {
        error = "cannot read " + s->m_dir + "/manifest: " + std::strerror(errno);
        return nullptr;
    }
    if (!s->Parse(text, error) || !s->CheckBodies(error)) {
        error = s->m_dir + ": " + error;
        return nullptr;
    }
    return s;
}

// One address or several (older snapshots have one).
bool Snapshot::ParseRedirects(std::istream& words, std::vector<std::uint32_t>& out) {
    if (!out.empty())
        return false;
    for (std::string text; words >> text;) {
        in_addr addr{};
        if (::inet_pton(AF_INET, text.c_str(), &addr) != 1)
            return false;
        out.push_back(addr.s_addr);
    }
    return !out.empty();
}

std::uint32_t Snapshot::NextRedirect() const {
    if (m_redirects.empty())
        return 0;
    return m_redirects[m_redirectTurn.fetch_add(1, std::memory_order_relaxed) % m_redirects.size()];
}

Snapshot::~Snapshot() {
    if (m_lockFd >= 0)
        ::close(m_lockFd);
    if (m_dirFd >= 0)
        ::close(m_dirFd);
}

bool Snapshot::Parse(const std::string& text, std::string& error) {
    std::istringstream in(text);
    std::string line;
    if (!std::getline(in, line) || line != "torvane-snapshot 1") {
        error = "not a snapshot manifest";
        return false;
    }
    std::size_t groupFiles[2] = {0, 0};
    for (int lineNo = 2; std::getline(in, line); ++lineNo) {
        std::istringstream words(line);
        std::string word, a, b;
        words >> word;
        bool ok = true;
        if (word == "version") {
            ok = static_cast<bool>(words >> a >> b) && ParseU32(a, m_version[0]) &&
                 ParseU32(b, m_version[1]);
        } else if (word == "redirect") {
            ok = ParseRedirects(words, m_redirects);
        } else if (word == "file") {
            SnapshotFile f;
            ok = ParseFile(line, f);
            // The sending order is the file order; a group never goes back.
            ok = ok && (m_files.empty() || m_files.back().group < f.group ||
                        (m_files.back().group == f.group && m_files.back().version <= f.version));
            if (ok) {
                ++groupFiles[f.group];
                m_sum.push_back(m_sum.back() + f.size);
                m_files.push_back(std::move(f));
            }
        } else {
            ok = false;
        }
        if (!ok) {
            error = "manifest line " + std::to_string(lineNo) + " is damaged";
            return false;
        }
    }
    if (groupFiles[0] > 65535 || groupFiles[1] > 65535) {
        error = "more than 65535 files in a group";
        return false;
    }
    m_groupEnd[0] = groupFiles[0];
    m_groupEnd[1] = m_files.size();
    return true;
}

std::string Snapshot::BodyPath(std::size_t index) const {
    return m_dir + "/bodies/" + std::to_string(index);
}

int Snapshot::OpenBody(std::size_t index) const {
    const std::string rel = "bodies/" + std::to_string(index);
    return ::openat(m_dirFd, rel.c_str(), O_RDONLY | O_CLOEXEC);
}

// Every body is there with the size the manifest gives, so a client is never
// promised more bytes than the file holds.
bool Snapshot::CheckBodies(std::string& error) const {
    for (std::size_t i = 0; i < m_files.size(); ++i) {
        const std::string rel = "bodies/" + std::to_string(i);
        struct stat st {};
        if (::fstatat(m_dirFd, rel.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode) ||
            st.st_size != static_cast<off_t>(m_files[i].size)) {
            error = rel + " is missing or not " + std::to_string(m_files[i].size) + " bytes long";
            return false;
        }
    }
    return true;
}

Selection Snapshot::Select(const std::uint32_t pair[2], std::int64_t limit) const {
    Selection s;
    const std::size_t groupBegin[2] = {0, m_groupEnd[0]};
    for (int g = 0; g < 2; ++g) {
        const auto first = m_files.begin() + static_cast<std::ptrdiff_t>(groupBegin[g]);
        const auto last = m_files.begin() + static_cast<std::ptrdiff_t>(m_groupEnd[g]);
        const auto newer =
            std::upper_bound(first, last, pair[g],
                             [](std::uint32_t v, const SnapshotFile& f) { return v < f.version; });
        s.begin[g] = static_cast<std::size_t>(newer - m_files.begin());
    }
    bool full = true;
    for (int g = 0; g < 2; ++g) {
        const std::size_t b = s.begin[g], e = m_groupEnd[g];
        std::size_t n = 0;
        if (full) {
            // The longest run from b whose sum fits what is left of the limit.
            const std::int64_t cap = m_sum[b] + (limit - s.bytes);
            n = static_cast<std::size_t>(
                std::upper_bound(m_sum.begin() + static_cast<std::ptrdiff_t>(b) + 1,
                                 m_sum.begin() + static_cast<std::ptrdiff_t>(e) + 1, cap) -
                (m_sum.begin() + static_cast<std::ptrdiff_t>(b) + 1));
        }
        s.count[g] = n;
        s.bytes += m_sum[b + n] - m_sum[b];
        s.leftFiles += e - b - n;
        s.leftBytes += m_sum[e] - m_sum[b + n];
        full = full && n == e - b;
    }
    return s;
}

int RunsNeeded(const Snapshot& snapshot, std::uint32_t pair0, std::uint32_t pair1,
               std::string& stuck) {
    std::uint32_t pair[2] = {pair0, pair1};
    const auto& files = snapshot.Files();
    for (int runs = 0;; ++runs) {
        const Selection s = snapshot.Select(pair, kOffLoopbackLimit);
        if (s.count[0] + s.count[1] == 0) {
            if (s.leftFiles == 0)
                return runs;
            const bool group0Left = s.begin[0] < files.size() && files[s.begin[0]].group == 0;
            stuck = files[group0Left ? s.begin[0] : s.begin[1]].name;
            return -1;
        }
        for (int g = 0; g < 2; ++g)
            if (s.count[g] > 0)
                pair[g] = files[s.begin[g] + s.count[g] - 1].version;
    }
}

} // namespace tvserver
