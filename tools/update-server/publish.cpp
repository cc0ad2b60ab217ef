// Publishing a content directory into its store (see snapshot.h for the
// layout). Runs under the store's lock, so two publishes never interleave;
// servers only ever read what a rename has put in place.
#include "publish.h"

#include "gunzip/gunzip.h"
#include "gzip_encoder.h"
#include "manifest.h"
#include "sha256.h"
#include "snapshot.h"
#include "store_files.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tvserver {

namespace {

const std::int64_t kMaxBody = 2147483647; // the header's signed 32-bit body length

struct Body {
    std::string key;
    std::int64_t size = 0;
    bool asIs = false;
    bool cached = false;
};

std::string SnapshotName(unsigned id) {
    char s[32];
    std::snprintf(s, sizeof s, "snapshots/%06u", id);
    return s;
}

bool Exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

// The first bytes of the containers the client's decompressor reads.
bool HasCompressedMagic(const std::string& path) {
    unsigned char m[4] = {};
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    const ssize_t n = ::read(fd, m, sizeof m);
    ::close(fd);
    if (n < 2)
        return false;
    if (m[0] == 0x1f)
        return m[1] == 0x8b || m[1] == 0x9e || m[1] == 0x9d || m[1] == 0x1e || m[1] == 0xa0;
    return n == 4 && m[0] == 'P' && m[1] == 'K' && m[2] == 3 && m[3] == 4;
}

// A name that says the player is to get a compressed file itself (an archive
// the game opens): its data is compressed again, not unpacked on arrival.
bool NameSaysCompressed(const std::string& name) {
    std::string n = name;
    for (char& c : n)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* suffix :
         {".gz", ".z", ".zip", ".lzh", ".lha", ".tgz", ".taz", "-gz", "-z", "_z"}) {
        const std::size_t len = std::strlen(suffix);
        if (n.size() > len && n.compare(n.size() - len, len, suffix) == 0)
            return true;
    }
    return false;
}

std::string BaseName(const std::string& name) {
    const std::size_t slash = name.find_last_of('\\');
    return slash == std::string::npos ? name : name.substr(slash + 1);
}

class Publisher {
  public:
    Publisher(const PublishOptions& o, const PublishReport& r, std::vector<std::string>& errors)
        : m_o(o), m_r(r), m_errors(errors), m_store(StorePath(o.contentDir)) {}
    ~Publisher() {
        if (m_lockFd >= 0)
            ::close(m_lockFd);
    }
    bool Run();

  private:
    bool Fail(const std::string& why) {
        m_errors.push_back(why);
        return false;
    }
    bool PrepareStore();
    bool PrepareBody(const ContentFile& f, Body& body);
    bool TryAsIs(const ContentFile& f, const std::string& hash, Body& body);
    bool Compress(const ContentFile& f, const std::string& hash, std::uint32_t mtime, Body& body);
    bool ClientAccepts(const std::string& bodyPath, std::string& why);
    std::string SnapshotText(const std::vector<std::size_t>& order) const;
    bool WriteSnapshot(const std::string& text, const std::vector<std::size_t>& order,
                       unsigned& id);
    void Prune(unsigned current);
    void WarnAboutRuns(unsigned id);
    std::string TempName() {
        return ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(++m_temps);
    }

    const PublishOptions& m_o;
    const PublishReport& m_r;
    std::vector<std::string>& m_errors;
    const std::string m_store;
    int m_lockFd = -1;
    unsigned m_temps = 0;
    Manifest m_manifest;
    std::vector<Body> m_bodies;
};

bool Publisher::PrepareStore() {
    std::string error;
    for (const char* sub : {"", "/cache", "/snapshots", "/servers"})
        if (!MakeDir(m_store + sub, error))
            return Fail(error);
    const std::string lock = m_store + "/lock";
    m_lockFd = ::open(lock.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (m_lockFd < 0)
        return Fail("cannot open " + lock + ": " + std::strerror(errno));
    if (::flock(m_lockFd, LOCK_EX | LOCK_NB) != 0)
        return Fail("another publish is running on " + m_o.contentDir);
    // Left by a publish that was killed; nothing refers to them.
    for (const char* sub : {"/cache/", "/snapshots/"})
        for (const std::string& name : ListDir(m_store + sub))
            if (name.rfind(".tmp-", 0) == 0 || name.rfind(".check-", 0) == 0)
                RemoveTree(m_store + sub + name);
    return true;
}

// Runs the client's own decompressor on a copy, in a child process because a
// damaged body ends the decompressor's process.
bool Publisher::ClientAccepts(const std::string& bodyPath, std::string& why) {
    const std::string dir = m_store + "/cache/.check-" + std::to_string(::getpid());
    std::string error;
    RemoveTree(dir);
    if (!MakeDir(dir, error) || (::link(bodyPath.c_str(), (dir + "/body.gz").c_str()) != 0 &&
                                 !CopyFileSynced(bodyPath, dir + "/body.gz", error))) {
        why = error.empty() ? std::strerror(errno) : error;
        RemoveTree(dir);
        return false;
    }
    int pipeFds[2];
    if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
        why = std::strerror(errno);
        RemoveTree(dir);
        return false;
    }
    std::fflush(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(pipeFds[1], 2);
        const std::string path = dir + "/body.gz";
        ::_exit(decompress_file(path.c_str()));
    }
    ::close(pipeFds[1]);
    std::string diagnostics;
    char buf[512];
    ssize_t n;
    while ((n = ::read(pipeFds[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0)
            diagnostics.append(buf, static_cast<std::size_t>(n));
    ::close(pipeFds[0]);
    int status = 0;
    while (pid > 0 && ::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    RemoveTree(dir);
    const bool ok = pid > 0 && WIFEXITED(status) && WEXITSTATUS(status) == 0;
    if (!ok) {
        while (!diagnostics.empty() && diagnostics.back() == '\n')
            diagnostics.pop_back();
        why = diagnostics.empty() ? "status " + std::to_string(WEXITSTATUS(status)) : diagnostics;
    }
    return ok;
}

bool Publisher::TryAsIs(const ContentFile& f, const std::string& hash, Body& body) {
    Sha256 k;
    const std::string desc = "as-is\n" + hash;
    k.Update(desc.data(), desc.size());
    const std::string key = k.HexDigest();
    const std::string cached = m_store + "/cache/" + key;
    const std::string refused = cached + ".refused";
    std::string why;
    if (Exists(cached)) {
        body.key = key;
        body.asIs = body.cached = true;
        return true;
    }
    if (ReadSmallFile(refused, why)) {
        m_r.warn(f.path + " looks compressed, but the client's decompressor refuses it (" + why +
                 "): it is compressed again and arrives as it is");
        return false;
    }
    const std::string tmp = m_store + "/cache/" + TempName();
    std::string error;
    if (!CopyFileSynced(f.path, tmp, error)) {
        Fail(error);
        return false;
    }
    if (ClientAccepts(tmp, why) && ::rename(tmp.c_str(), cached.c_str()) == 0) {
        body.key = key;
        body.asIs = true;
        return true;
    }
    ::unlink(tmp.c_str());
    WriteFileSynced(refused, why, error);
    m_r.warn(f.path + " looks compressed, but the client's decompressor refuses it (" + why +
             "): it is compressed again and arrives as it is");
    return false;
}

bool Publisher::Compress(const ContentFile& f, const std::string& hash, std::uint32_t mtime,
                         Body& body) {
    const std::string name = BaseName(f.name);
    Sha256 k;
    const std::string desc = "gzip level " + std::to_string(m_o.level) + " mtime " +
                             std::to_string(mtime) + " name " + name + "\n" + hash;
    k.Update(desc.data(), desc.size());
    body.key = k.HexDigest();
    const std::string cached = m_store + "/cache/" + body.key;
    if (Exists(cached)) {
        body.cached = true;
        return true;
    }
    const std::string tmp = m_store + "/cache/" + TempName();
    std::string error;
    if (!GzipCompressFile(f.path, tmp, m_o.level, name, mtime, error) || !SyncPath(tmp, error) ||
        ::rename(tmp.c_str(), cached.c_str()) != 0) {
        ::unlink(tmp.c_str());
        return Fail(f.path + ": " + (error.empty() ? std::strerror(errno) : error));
    }
    return true;
}

bool Publisher::PrepareBody(const ContentFile& f, Body& body) {
    struct stat before {};
    if (::stat(f.path.c_str(), &before) != 0)
        return Fail("cannot read " + f.path + ": " + std::strerror(errno));
    const std::uint32_t mtime = before.st_mtime > 0 && before.st_mtime <= 0xffffffffLL
                                    ? static_cast<std::uint32_t>(before.st_mtime)
                                    : 0;
    const bool candidate = HasCompressedMagic(f.path) && !NameSaysCompressed(f.name);
    if (candidate && before.st_size > kMaxBody)
        return Fail(m_manifest.path + ":" + std::to_string(f.line) + ": " + f.path + " is " +
                    std::to_string(before.st_size) +
                    " bytes: a body must be below 2 GiB (2147483648 bytes)");
    std::string hash, error;
    if (!Sha256File(f.path, hash, error))
        return Fail(error);
    if (!(candidate && TryAsIs(f, hash, body)) && !Compress(f, hash, mtime, body))
        return false;
    struct stat after {
    }, cached{};
    if (::stat(f.path.c_str(), &after) != 0 || after.st_mtim.tv_sec != before.st_mtim.tv_sec ||
        after.st_mtim.tv_nsec != before.st_mtim.tv_nsec || after.st_size != before.st_size) {
        ::unlink((m_store + "/cache/" + body.key).c_str());
        return Fail(f.path + " changed while it was published; publish again");
    }
    if (::stat((m_store + "/cache/" + body.key).c_str(), &cached) != 0)
        return Fail("cannot read the cache entry of " + f.path + ": " + std::strerror(errno));
    body.size = cached.st_size;
    if (body.size > kMaxBody)
        return Fail(m_manifest.path + ":" + std::to_string(f.line) + ": the body of " + f.path +
                    " is " + std::to_string(body.size) +
                    " bytes: a body must be below 2 GiB (2147483648 bytes)");
    return true;
}

std::string Publisher::SnapshotText(const std::vector<std::size_t>& order) const {
    std::string text = "torvane-snapshot 1\n";
    text += "version " + std::to_string(m_manifest.version[0]) + " " +
            std::to_string(m_manifest.version[1]) + "\n";
    if (!m_manifest.redirects.empty()) {
        // One line, addresses separated by blanks: a server that knows only
        // one address reads the first.
        text += "redirect";
        for (const std::uint32_t r : m_manifest.redirects) {
            char addr[INET_ADDRSTRLEN];
            in_addr a{};
            a.s_addr = r;
            ::inet_ntop(AF_INET, &a, addr, sizeof addr);
            text += std::string(" ") + addr;
        }
        text += "\n";
    }
    for (std::size_t i : order) {
        const ContentFile& f = m_manifest.files[i];
        text += "file " + std::to_string(f.group) + " " + std::to_string(f.version) + " " +
                std::to_string(m_bodies[i].size) + " " + m_bodies[i].key + " " + f.name + "\n";
    }
    return text;
}

bool Publisher::WriteSnapshot(const std::string& text, const std::vector<std::size_t>& order,
                              unsigned& id) {
    id = Snapshot::CurrentId(m_store);
    for (const std::string& name : ListDir(m_store + "/snapshots"))
        if (name.find_first_not_of("0123456789") == std::string::npos && name.size() < 10)
            id = std::max(id, static_cast<unsigned>(std::stoul(name)));
    ++id;
    const std::string tmp = m_store + "/snapshots/" + TempName();
    std::string error;
    if (!MakeDir(tmp, error) || !MakeDir(tmp + "/bodies", error))
        return Fail(error);
    for (std::size_t n = 0; n < order.size(); ++n) {
        const std::string from = m_store + "/cache/" + m_bodies[order[n]].key;
        const std::string to = tmp + "/bodies/" + std::to_string(n);
        if (::link(from.c_str(), to.c_str()) != 0 && !CopyFileSynced(from, to, error))
            return Fail(error);
    }
    const std::string final = m_store + "/" + SnapshotName(id);
    const std::string link = m_store + "/current.tmp";
    ::unlink(link.c_str());
    if (!SyncPath(tmp + "/bodies", error) || !WriteFileSynced(tmp + "/manifest", text, error) ||
        !SyncPath(tmp, error))
        return Fail(error);
    if (::rename(tmp.c_str(), final.c_str()) != 0 || !SyncPath(m_store + "/snapshots", error) ||
        ::symlink(SnapshotName(id).c_str(), link.c_str()) != 0 ||
        ::rename(link.c_str(), (m_store + "/current").c_str()) != 0)
        return Fail(error.empty() ? "cannot make " + final + " current: " + std::strerror(errno)
                                  : error);
    return SyncPath(m_store, error) || Fail(error);
}

// Keeps the current snapshot, the one before it and any a server still uses
// (it holds a shared lock on its manifest), and cache entries that a kept
// snapshot links to.
void Publisher::Prune(unsigned current) {
    std::vector<unsigned> ids;
    for (const std::string& name : ListDir(m_store + "/snapshots"))
        if (name.find_first_not_of("0123456789") == std::string::npos && name.size() < 10)
            ids.push_back(static_cast<unsigned>(std::stoul(name)));
    std::sort(ids.begin(), ids.end());
    unsigned previous = 0;
    for (unsigned id : ids)
        if (id < current)
            previous = id;
    for (unsigned id : ids) {
        if (id == current || id == previous)
            continue;
        const std::string dir = m_store + "/" + SnapshotName(id);
        const int fd = ::open((dir + "/manifest").c_str(), O_RDONLY | O_CLOEXEC);
        if (fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
            ::close(fd);
            continue;
        }
        RemoveTree(dir);
        if (fd >= 0)
            ::close(fd);
    }
    const std::string cache = m_store + "/cache/";
    for (const std::string& name : ListDir(cache)) {
        struct stat st {};
        if (name[0] != '.' && name.find('.') == std::string::npos &&
            ::stat((cache + name).c_str(), &st) == 0 && st.st_nlink == 1)
            ::unlink((cache + name).c_str());
    }
}

void Publisher::WarnAboutRuns(unsigned id) {
    std::string error;
    const auto snapshot = Snapshot::LoadCurrent(m_store, error);
    if (!snapshot || snapshot->Id() != id)
        return;
    for (const SnapshotFile& f : snapshot->Files())
        if (f.size > kOffLoopbackLimit)
            m_r.warn("the body of " + f.name + " is " + std::to_string(f.size) +
                     " bytes, above 104857600: a client that is not on loopback can never "
                     "receive it");
    std::string stuck;
    const int runs = RunsNeeded(*snapshot, 0, 0, stuck);
    if (runs > 1)
        m_r.warn("a full update from version 0 0 is " + std::to_string(snapshot->Bytes()) +
                 " bytes: a client that is not on loopback needs " + std::to_string(runs) +
                 " runs of the updater (each run takes at most 104857600 bytes)");
    else if (runs < 0)
        m_r.warn("a full update from version 0 0 can never complete off loopback: it stops "
                 "before " +
                 stuck);
}

bool Publisher::Run() {
    std::string error;
    if (!LoadManifest(m_o.contentDir, m_manifest, error))
        return Fail(error);
    const std::vector<std::string> problems = CheckManifest(m_manifest);
    if (!problems.empty()) {
        m_errors.insert(m_errors.end(), problems.begin(), problems.end());
        return false;
    }
    if (!PrepareStore())
        return false;
    m_bodies.resize(m_manifest.files.size());
    bool ok = true;
    std::size_t compressed = 0, cached = 0, asIs = 0;
    for (std::size_t i = 0; i < m_manifest.files.size(); ++i) {
        ok = PrepareBody(m_manifest.files[i], m_bodies[i]) && ok;
        asIs += m_bodies[i].asIs;
        cached += m_bodies[i].cached;
        compressed += !m_bodies[i].asIs && !m_bodies[i].cached;
    }
    if (!ok || !m_errors.empty())
        return false;
    std::vector<std::size_t> order(m_manifest.files.size());
    for (std::size_t i = 0; i < order.size(); ++i)
        order[i] = i;
    std::stable_sort(order.begin(), order.end(), [this](std::size_t a, std::size_t b) {
        const ContentFile &x = m_manifest.files[a], &y = m_manifest.files[b];
        return x.group != y.group ? x.group < y.group : x.version < y.version;
    });
    const std::string text = SnapshotText(order);
    unsigned id = Snapshot::CurrentId(m_store);
    std::string currentText;
    const bool unchanged =
        id != 0 && ReadSmallFile(m_store + "/" + SnapshotName(id) + "/manifest", currentText) &&
        currentText == text;
    if (!unchanged && !WriteSnapshot(text, order, id))
        return false;
    Prune(id);
    WarnAboutRuns(id);
    std::int64_t bytes = 0;
    for (const Body& b : m_bodies)
        bytes += b.size;
    m_r.note((unchanged ? "unchanged: snapshot " : "published snapshot ") + std::to_string(id) +
             ": version " + std::to_string(m_manifest.version[0]) + " " +
             std::to_string(m_manifest.version[1]) + ", " + std::to_string(order.size()) +
             " files, " + std::to_string(bytes) + " bytes (" + std::to_string(compressed) +
             " compressed, " + std::to_string(cached) + " from the cache, " + std::to_string(asIs) +
             " sent as they are)");
    if (m_o.notify)
        for (const auto& [pid, err] : NotifyServers(m_store)) {
            if (err == 0)
                m_r.note("asked the server with pid " + std::to_string(pid) + " to switch");
            else
                m_r.warn("cannot ask the server with pid " + std::to_string(pid) +
                         " to switch: " + std::strerror(err) + " (send it SIGHUP)");
        }
    return true;
}

} // namespace

bool Publish(const PublishOptions& options, const PublishReport& report,
             std::vector<std::string>& errors) {
    Publisher p(options, report, errors);
    return p.Run();
}

int RegisterServer(const std::string& storeDir, std::string& error) {
    if (!MakeDir(storeDir + "/servers", error))
        return -1;
    const std::string path = storeDir + "/servers/" + std::to_string(::getpid());
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0 || ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
        error = "cannot register in " + path + ": " + std::strerror(errno);
        if (fd >= 0)
            ::close(fd);
        return -1;
    }
    return fd;
}

void UnregisterServer(const std::string& storeDir, int fd) {
    if (fd < 0)
        return;
    ::unlink((storeDir + "/servers/" + std::to_string(::getpid())).c_str());
    ::close(fd);
}

std::vector<std::pair<pid_t, int>> NotifyServers(const std::string& storeDir) {
    std::vector<std::pair<pid_t, int>> pids;
    const std::string dir = storeDir + "/servers/";
    for (const std::string& name : ListDir(dir)) {
        if (name.find_first_not_of("0123456789") != std::string::npos || name.size() > 9)
            continue;
        const int fd = ::open((dir + name).c_str(), O_RDWR | O_CLOEXEC);
        if (fd < 0)
            continue;
        // A lock we can take belongs to a server that is gone (its pid may
        // be someone else's by now).
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) {
            ::unlink((dir + name).c_str());
        } else {
            const pid_t pid = static_cast<pid_t>(std::stol(name));
            pids.emplace_back(pid, ::kill(pid, SIGHUP) == 0 ? 0 : errno);
        }
        ::close(fd);
    }
    return pids;
}

} // namespace tvserver
