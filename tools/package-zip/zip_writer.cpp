// The archive is written in one pass: each entry's local header, then its
// data, then the central directory and the end record. The CRC-32 and the
// sizes are known only once an entry's data is out, so its local header is
// written again in place after that (the output is a file, never a pipe).
#include "zip_writer.h"

#include "deflate/deflate_encoder.h"
#include "gzip_encoder.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace tvzip {
namespace {

namespace fs = std::filesystem;

constexpr std::uint32_t kLocalSignature = 0x04034b50;
constexpr std::uint32_t kCentralSignature = 0x02014b50;
constexpr std::uint32_t kEndSignature = 0x06054b50;
// Version 2.0 (DEFLATE), made on MS-DOS: the players unpack on Windows, and
// the attributes below are DOS ones.
constexpr std::uint16_t kVersion = 20;
constexpr std::uint16_t kFlagUtf8Name = 0x0800;
constexpr std::uint16_t kStored = 0;
constexpr std::uint16_t kDeflated = 8;
constexpr std::uint32_t kDosArchiveAttribute = 0x20;
constexpr std::uint64_t kMaxSize = 0xFFFFFFFFu; // without the 64-bit extensions
constexpr std::size_t kMaxEntries = 0xFFFF;
constexpr std::size_t kMaxNameLength = 0xFFFF;
constexpr std::size_t kChunk = 1 << 16;

struct Entry {
    std::string name; // in the archive
    fs::path path;    // on disk
    std::uint16_t dosTime = 0;
    std::uint16_t dosDate = 0;
    std::uint16_t method = kStored;
    std::uint32_t crc = 0;
    std::uint64_t packed = 0;
    std::uint64_t plain = 0;
    std::uint64_t offset = 0; // of the local header

    std::uint16_t Flags() const {
        const bool ascii = std::all_of(name.begin(), name.end(),
                                       [](char c) { return static_cast<unsigned char>(c) < 0x80; });
        return ascii ? 0 : kFlagUtf8Name;
    }
};

using Bytes = std::vector<unsigned char>;

void Put16(Bytes& b, std::uint32_t v) {
    b.push_back(static_cast<unsigned char>(v));
    b.push_back(static_cast<unsigned char>(v >> 8));
}

void Put32(Bytes& b, std::uint64_t v) {
    Put16(b, static_cast<std::uint32_t>(v & 0xFFFF));
    Put16(b, static_cast<std::uint32_t>((v >> 16) & 0xFFFF));
}

// The fields local and central headers share, from "version needed" to the
// name's length.
void PutCommon(Bytes& b, const Entry& e) {
    Put16(b, kVersion);
    Put16(b, e.Flags());
    Put16(b, e.method);
    Put16(b, e.dosTime);
    Put16(b, e.dosDate);
    Put32(b, e.crc);
    Put32(b, e.packed);
    Put32(b, e.plain);
    Put16(b, static_cast<std::uint32_t>(e.name.size()));
}

Bytes LocalHeader(const Entry& e) {
    Bytes b;
    Put32(b, kLocalSignature);
    PutCommon(b, e);
    Put16(b, 0); // extra field
    b.insert(b.end(), e.name.begin(), e.name.end());
    return b;
}

Bytes CentralHeader(const Entry& e) {
    Bytes b;
    Put32(b, kCentralSignature);
    Put16(b, kVersion); // made by
    PutCommon(b, e);
    Put16(b, 0); // extra field
    Put16(b, 0); // comment
    Put16(b, 0); // disk
    Put16(b, 0); // internal attributes
    Put32(b, kDosArchiveAttribute);
    Put32(b, e.offset);
    b.insert(b.end(), e.name.begin(), e.name.end());
    return b;
}

Bytes EndRecord(std::size_t count, std::uint64_t size, std::uint64_t offset) {
    Bytes b;
    Put32(b, kEndSignature);
    Put16(b, 0); // this disk
    Put16(b, 0); // disk of the central directory
    Put16(b, static_cast<std::uint32_t>(count));
    Put16(b, static_cast<std::uint32_t>(count));
    Put32(b, size);
    Put32(b, offset);
    Put16(b, 0); // comment
    return b;
}

// DOS times count from 1980 to 2107 in two-second steps; a time outside is
// clamped to the nearest end.
void SetDosTime(Entry& e, std::time_t t, bool utc) {
    std::tm tm{};
    if (!(utc ? gmtime_r(&t, &tm) : localtime_r(&t, &tm)) || tm.tm_year < 80) {
        tm = std::tm{};
        tm.tm_year = 80;
        tm.tm_mday = 1;
    } else if (tm.tm_year > 207) {
        tm = std::tm{};
        tm.tm_year = 207;
        tm.tm_mon = 11;
        tm.tm_mday = 31;
        tm.tm_hour = 23;
        tm.tm_min = 59;
        tm.tm_sec = 58;
    }
    e.dosTime = static_cast<std::uint16_t>(tm.tm_hour << 11 | tm.tm_min << 5 | tm.tm_sec / 2);
    e.dosDate =
        static_cast<std::uint16_t>((tm.tm_year - 80) << 9 | (tm.tm_mon + 1) << 5 | tm.tm_mday);
}

// A name that unpacks inside the folder it is unpacked into, on Windows as
// well: relative, no "." or ".." part, no backslash or drive colon, no
// control character.
bool SafeName(const std::string& name) {
    if (name.empty() || name.size() > kMaxNameLength || name.front() == '/')
        return false;
    for (char c : name)
        if (static_cast<unsigned char>(c) < 0x20 || c == '\\' || c == ':')
            return false;
    std::size_t start = 0;
    for (;;) {
        const std::size_t slash = name.find('/', start);
        const std::string part = name.substr(start, slash - start);
        if (part.empty() || part == "." || part == "..")
            return false;
        if (slash == std::string::npos)
            return true;
        start = slash + 1;
    }
}

bool AddFile(const fs::path& folder, const fs::path& path, const ZipOptions& options,
             std::vector<Entry>& entries, std::string& error) {
    Entry e;
    e.path = path;
    e.name = path.lexically_relative(folder).generic_string();
    if (!SafeName(e.name)) {
        error = "a file name that cannot be unpacked safely: " + path.string();
        return false;
    }
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        error = "cannot read " + path.string() + ": " + std::strerror(errno);
        return false;
    }
    SetDosTime(e, options.fixedTime.value_or(st.st_mtime), options.fixedTime.has_value());
    entries.push_back(std::move(e));
    return true;
}

bool Collect(const fs::path& folder, const ZipOptions& options, std::vector<Entry>& entries,
             std::string& error) {
    std::error_code ec;
    fs::recursive_directory_iterator it(folder, ec);
    for (; !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
        const fs::file_status status = it->symlink_status(ec);
        if (ec || fs::is_directory(status))
            continue;
        if (!fs::is_regular_file(status)) {
            error = it->path().string() +
                    (fs::is_symlink(status) ? " is a link" : " is not a file") +
                    "; only plain files are packed";
            return false;
        }
        if (!AddFile(folder, it->path(), options, entries, error))
            return false;
    }
    if (ec) {
        error = "cannot read the folder " + folder.string() + ": " + ec.message();
        return false;
    }
    if (entries.empty() || entries.size() > kMaxEntries) {
        error = folder.string() + (entries.empty() ? " holds no files to pack"
                                                   : " holds more files than a zip archive can");
        return false;
    }
    std::sort(entries.begin(), entries.end(),
              [](const Entry& a, const Entry& b) { return a.name < b.name; });
    return true;
}

struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

class Archive {
  public:
    Archive(std::FILE* out, std::string path) : m_out(out), m_path(std::move(path)) {}

    bool Add(Entry& e, int level, std::string& error);
    bool Finish(const std::vector<Entry>& entries, std::string& error);

  private:
    bool Put(const Bytes& bytes, std::string& error);
    bool Seek(std::uint64_t pos, std::string& error);
    bool Deflate(std::FILE* in, Entry& e, int level, std::string& error);
    bool Store(std::FILE* in, Entry& e, std::string& error);
    bool TooLarge(const Entry& e, std::string& error) const;

    std::FILE* m_out;
    std::string m_path;
    std::uint64_t m_pos = 0;
};

bool Archive::Put(const Bytes& bytes, std::string& error) {
    if (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), m_out) != bytes.size()) {
        error = "cannot write " + m_path + ": " + std::strerror(errno);
        return false;
    }
    m_pos += bytes.size();
    return true;
}

bool Archive::Seek(std::uint64_t pos, std::string& error) {
    if (::fseeko(m_out, static_cast<off_t>(pos), SEEK_SET) != 0) {
        error = "cannot write " + m_path + ": " + std::strerror(errno);
        return false;
    }
    m_pos = pos;
    return true;
}

bool Archive::TooLarge(const Entry& e, std::string& error) const {
    if (e.plain <= kMaxSize && m_pos <= kMaxSize)
        return false;
    error = e.path.string() + " makes the archive larger than a zip archive can be (4 GiB)";
    return true;
}

bool Archive::Deflate(std::FILE* in, Entry& e, int level, std::string& error) {
    tvserver::deflate::DeflateEncoder encoder(level);
    std::vector<unsigned char> chunk(kChunk);
    Bytes pending;
    const std::uint64_t start = m_pos;
    for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0;) {
        e.crc = tvserver::Crc32(chunk.data(), n, e.crc);
        e.plain += n;
        encoder.Write(chunk.data(), n, pending);
        if (!Put(pending, error) || TooLarge(e, error))
            return false;
        pending.clear();
    }
    encoder.Finish(pending);
    if (!Put(pending, error))
        return false;
    e.method = kDeflated;
    e.packed = m_pos - start;
    return true;
}

// Copies the file as it is; when it follows a deflate pass that gained
// nothing, the file must still be what that pass read.
bool Archive::Store(std::FILE* in, Entry& e, std::string& error) {
    const Entry before = e;
    e.crc = 0;
    e.plain = 0;
    Bytes chunk(kChunk);
    for (std::size_t n; (n = std::fread(chunk.data(), 1, chunk.size(), in)) > 0;) {
        e.crc = tvserver::Crc32(chunk.data(), n, e.crc);
        e.plain += n;
        chunk.resize(n);
        if (!Put(chunk, error) || TooLarge(e, error))
            return false;
        chunk.resize(kChunk);
    }
    if (before.method == kDeflated && (before.crc != e.crc || before.plain != e.plain)) {
        error = e.path.string() + " changed while it was packed";
        return false;
    }
    e.method = kStored;
    e.packed = e.plain;
    return true;
}

bool ReadWhole(std::FILE* in, const Entry& e, std::string& error) {
    if (!std::ferror(in))
        return true;
    error = "cannot read " + e.path.string() + ": " + std::strerror(errno);
    return false;
}

bool Archive::Add(Entry& e, int level, std::string& error) {
    File in(std::fopen(e.path.c_str(), "rb"));
    if (!in) {
        error = "cannot open " + e.path.string() + ": " + std::strerror(errno);
        return false;
    }
    e.offset = m_pos;
    if (!Put(LocalHeader(e), error))
        return false;
    const std::uint64_t dataStart = m_pos;
    bool ok = (level > 0 ? Deflate(in.get(), e, level, error) : Store(in.get(), e, error)) &&
              ReadWhole(in.get(), e, error);
    if (ok && e.method == kDeflated && e.packed >= e.plain) {
        std::rewind(in.get());
        ok = Seek(dataStart, error) && Store(in.get(), e, error) && ReadWhole(in.get(), e, error);
    }
    return ok && Seek(e.offset, error) && Put(LocalHeader(e), error) &&
           Seek(dataStart + e.packed, error);
}

bool Archive::Finish(const std::vector<Entry>& entries, std::string& error) {
    const std::uint64_t start = m_pos;
    for (const Entry& e : entries)
        if (!Put(CentralHeader(e), error))
            return false;
    if (m_pos > kMaxSize) {
        error = "the archive would be larger than a zip archive can be (4 GiB)";
        return false;
    }
    if (!Put(EndRecord(entries.size(), m_pos - start, start), error))
        return false;
    // A last entry stored after a longer deflate pass leaves bytes beyond the end.
    if (std::fflush(m_out) != 0 || ::ftruncate(::fileno(m_out), static_cast<off_t>(m_pos)) != 0 ||
        ::fsync(::fileno(m_out)) != 0) {
        error = "cannot write " + m_path + ": " + std::strerror(errno);
        return false;
    }
    return true;
}

bool WriteEntries(std::FILE* out, const std::string& outPath, std::vector<Entry>& entries,
                  int level, std::string& error) {
    Archive archive(out, outPath);
    for (Entry& e : entries)
        if (!archive.Add(e, level, error))
            return false;
    return archive.Finish(entries, error);
}

} // namespace

bool WriteZipOfFolder(const std::string& folder, const std::string& outPath,
                      const ZipOptions& options, std::string& error) {
    std::vector<Entry> entries;
    if (!Collect(folder, options, entries, error))
        return false;
    std::string temp = outPath + ".XXXXXX";
    const int fd = ::mkstemp(temp.data());
    if (fd < 0) {
        error = "cannot create " + temp + ": " + std::strerror(errno);
        return false;
    }
    ::fchmod(fd, 0644);
    File out(::fdopen(fd, "wb"));
    if (!out) {
        error = "cannot write " + temp + ": " + std::strerror(errno);
        ::close(fd);
        std::remove(temp.c_str());
        return false;
    }
    bool ok = WriteEntries(out.get(), outPath, entries, options.level, error);
    if (std::fclose(out.release()) != 0 && ok) {
        error = "cannot write " + outPath + ": " + std::strerror(errno);
        ok = false;
    }
    if (ok && std::rename(temp.c_str(), outPath.c_str()) != 0) {
        error = "cannot replace " + outPath + ": " + std::strerror(errno);
        ok = false;
    }
    if (!ok)
        std::remove(temp.c_str());
    return ok;
}

} // namespace tvzip
