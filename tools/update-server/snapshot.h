// A published snapshot as the server reads it, and the store it lives in.
//
// The store lies beside the content, in CONTENT_DIR/.torvane-publish/:
//   lock                 held by a publish while it runs
//   cache/KEY            bodies, named by the SHA-256 of what made them
//   snapshots/NNNNNN/    immutable once renamed into place: "manifest" and
//                        bodies/I, hard links into the cache
//   current              symlink to the snapshot to serve
//   servers/PID          one per running server, locked for its life, so a
//                        publish knows whom to ask to switch
// A snapshot is written under a temporary name and renamed into place, and
// `current` is replaced by a rename, so a reader sees a whole snapshot or the
// previous one, never a part.
#pragma once

#include <atomic>
#include <cstdint>
#include <istream>
#include <memory>
#include <string>
#include <vector>

namespace tvserver {

const char kStoreName[] = ".torvane-publish";
// Largest list a client not on 127.0.0.1 accepts (it refuses any above).
const std::int64_t kOffLoopbackLimit = 104857600;
// Largest total the list header can announce.
const std::int64_t kWireLimit = 2147483647;

std::string StorePath(const std::string& contentDir);

struct SnapshotFile {
    int group = 0;
    std::uint32_t version = 0;
    std::uint32_t size = 0; // of the body
    std::string name;
};

// The files one list carries: per group a run of the sending order.
struct Selection {
    std::size_t begin[2] = {0, 0};
    std::size_t count[2] = {0, 0};
    std::int64_t bytes = 0;
    std::size_t leftFiles = 0; // newer files that did not fit the limit
    std::int64_t leftBytes = 0;
};

class Snapshot {
  public:
    // Loads the snapshot `current` names in the store. nullptr with a message
    // in error when there is none or it is damaged.
    static std::shared_ptr<const Snapshot> LoadCurrent(const std::string& storeDir,
                                                       std::string& error);
    // The id `current` names, or 0.
    static unsigned CurrentId(const std::string& storeDir);
    ~Snapshot();
    Snapshot(const Snapshot&) = delete;
    Snapshot& operator=(const Snapshot&) = delete;

    unsigned Id() const { return m_id; }
    const std::uint32_t* Version() const { return m_version; }
    // The download server for the next version reply, in turn over the
    // redirect line's addresses (network byte order); 0: none.
    std::uint32_t NextRedirect() const;
    // In sending order: group 0 by version, then group 1 by version.
    const std::vector<SnapshotFile>& Files() const { return m_files; }
    std::int64_t Bytes() const { return m_sum.back(); }
    // A descriptor for reading body i, or -1 with errno set.
    int OpenBody(std::size_t index) const;
    std::string BodyPath(std::size_t index) const;

    // What a client holding pair is sent: every newer file, or the longest
    // prefix of them in sending order whose bodies total at most limit.
    Selection Select(const std::uint32_t pair[2], std::int64_t limit) const;

  private:
    Snapshot() = default;
    bool Parse(const std::string& text, std::string& error);
    static bool ParseRedirects(std::istream& words, std::vector<std::uint32_t>& out);
    bool CheckBodies(std::string& error) const;

    unsigned m_id = 0;
    std::string m_dir;
    int m_dirFd = -1;
    int m_lockFd = -1; // manifest, held shared so a publish does not prune it
    std::uint32_t m_version[2] = {0, 0};
    std::vector<std::uint32_t> m_redirects;
    mutable std::atomic<std::size_t> m_redirectTurn{0}; // shared by the serving threads
    std::vector<SnapshotFile> m_files;
    std::size_t m_groupEnd[2] = {0, 0};
    std::vector<std::int64_t> m_sum{0}; // m_sum[i]: bytes of files [0, i)
};

// Number of runs an off-loopback client needs from pair to the end (0 when
// nothing is newer); stuck names the file whose body alone is above the
// limit when no number of runs gets there (runs is then -1).
int RunsNeeded(const Snapshot& snapshot, std::uint32_t pair0, std::uint32_t pair1,
               std::string& stuck);

} // namespace tvserver
