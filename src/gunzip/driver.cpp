// The decompression driver: recognises the container by its first bytes,
// picks the member decoder, decodes every member of the file, checks CRC-32
// and length, gives the output its time stamp and permissions and deletes the
// compressed input. One fixed configuration: always decompress, always
// replace, quiet.
//
// Map of this file:
//   state          settings and per-call values, module-wide
//   names          suffix lists, locate_input, derive_output_name
//   headers        read_member_header, check_zip_entry
//   deflate        decode_deflate_member (gzip member or PKZIP entry)
//   output file    open_output_file and the checks before it; the output is
//                  made under a partial name and replaces the existing file
//                  only once every check has passed
//   metadata       set_file_times, restore_file_metadata
//   entry          process_file, decompress_file

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "gunzip/gunzip.h"
#include "gunzip/shared.h"

namespace gunzip {

// ------------------------------------------------------------------ state

int32_t exit_status;    // 0 success, 1 error, 2 warning; reset per call
bool quiet_mode = true; // warnings are not written
const char* program_name = "gzip";
char input_name[kNameSize];             // as located, with a completion suffix if one was added
char output_name[kNameSize];            // input_name without its compressed suffix
char partial_name[kPartialNameSize];    // output_name with kPartialSuffix: the output until checked
int input_fd = -1;                      // open from process_file until the members are done
int output_fd = -1;                     // open on partial_name until the members are done
bool output_incomplete;                 // partial_name created by this call and not yet in place
gunzip_fatal_notice fatal_notice;       // set by the caller once, read on the fatal path
gunzip_progress_notice progress_notice; // set by the caller, read by write_all

namespace {

const char* const kCompressedSuffix = ".gz";
const size_t kCompressedSuffixLength = 3;

crt_stat_t input_status; // the input's file status, valid once located
int64_t time_stamp;      // seconds since 1970 to give the output; last non-zero stored stamp wins
int member_count;        // members read from the current file, the current one included
bool last_member;        // the current member ends the file (PKZIP, LZW, LZH)
int member_method;       // 8 deflate, 0 stored (PKZIP), 1 LZW, 2 pack, 3 LZH
member_decoder decoder;  // selected by read_member_header for the current member
bool zip_entry;          // the current member is a PKZIP local entry
bool zip_descriptor;     // its CRC and sizes follow the data (flag bit 3)

constexpr uint32_t kZipSignature = 0x04034B50u;

uint32_t le16(const uint8_t* p) {
    return p[0] | (uint32_t{p[1]} << 8);
}
uint32_t le32(const uint8_t* p) {
    return le16(p) | (le16(p + 2) << 16);
}

uint32_t read_le32() {
    uint32_t v = 0;
    for (int i = 0; i < 4; ++i)
        v |= static_cast<uint32_t>(next_byte()) << (8 * i);
    return v;
}

void set_error() {
    exit_status = 1;
}

// "gzip: name: message" for a failure of a named file.
void report_prefixed(const char* name) {
    std::fprintf(stderr, "%s: ", program_name);
    report_platform_error(name);
}

// A warning that carries the platform error text.
void warn_platform(const char* name) {
    if (!quiet_mode)
        report_prefixed(name);
    if (exit_status == 0)
        exit_status = 2;
}

// ------------------------------------------------------------------ names

const char* const kRecognisedSuffixes[] = {
    kCompressedSuffix, ".gz", ".z", ".taz", ".tgz", "-gz", "-z", "_z"};
// Starts at its second entry because the compressed suffix is ".gz" itself.
const char* const kCompletionSuffixes[] = {".gz", ".z", "-z", ".Z"};

// Where the recognised suffix of name starts, or -1. Case-insensitive; the
// suffix must follow at least one character that is not '/'.
int find_compressed_suffix(const char* name) {
    size_t n = std::strlen(name);
    const char* tail = n > 32 ? name + n - 32 : name;
    char copy[33];
    size_t len = 0;
    for (; tail[len] != '\0'; ++len) {
        char c = tail[len];
        copy[len] = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
    }
    copy[len] = '\0';
    for (const char* s : kRecognisedSuffixes) {
        size_t sl = std::strlen(s);
        if (len > sl && copy[len - sl - 1] != '/' && std::strcmp(copy + len - sl, s) == 0)
            return static_cast<int>(n - sl);
    }
    return -1;
}

bool locate_input(const char* path) {
    std::strcpy(input_name, path);
    errno = 0;
    if (crt_stat(input_name, &input_status) == 0)
        return true;
    if (errno != ENOENT || find_compressed_suffix(input_name) >= 0) {
        report_platform_error(input_name);
        set_error();
        return false;
    }
    size_t n = std::strlen(input_name);
    for (const char* s : kCompletionSuffixes) {
        if (n + std::strlen(s) >= kNameSize)
            continue;
        std::strcpy(input_name + n, s);
        if (crt_stat(input_name, &input_status) == 0)
            return true;
        input_name[n] = '\0';
    }
    if (n + kCompressedSuffixLength < kNameSize)
        std::strcpy(input_name + n, kCompressedSuffix);
    else
        errno = ENAMETOOLONG;
    report_platform_error(input_name);
    set_error();
    return false;
}

bool derive_output_name() {
    std::strcpy(output_name, input_name);
    int at = find_compressed_suffix(output_name);
    if (at < 0)
        return false; // "unknown suffix -- ignored": quiet, status unchanged
    char* suffix = output_name + at;
    for (char* p = suffix; *p; ++p)
        if (*p >= 'A' && *p <= 'Z')
            *p = static_cast<char>(*p - 'A' + 'a');
    if (std::strcmp(suffix, ".tgz") == 0 || std::strcmp(suffix, ".taz") == 0)
        std::strcpy(suffix, ".tar");
    else
        *suffix = '\0';
    return true;
}

// ------------------------------------------------------------------ headers

bool check_zip_entry() {
    const uint8_t* h = input_buffer;
    input_pos = 30 + le16(h + 26) + le16(h + 28);
    if (input_pos > input_count || le32(h) != kZipSignature) {
        std::fprintf(stderr, "\n%s: %s: not a valid zip file\n", program_name, input_name);
        set_error();
        return false;
    }
    member_method = h[8];
    if (member_method != 0 && member_method != 8) {
        std::fprintf(stderr, "\n%s: %s: first entry not deflated or stored -- use unzip\n",
                     program_name, input_name);
        set_error();
        return false;
    }
    if (h[6] & 1) {
        std::fprintf(stderr, "\n%s: %s: encrypted file -- use unzip\n", program_name, input_name);
        set_error();
        return false;
    }
    zip_entry = true;
    zip_descriptor = (h[6] & 8) != 0;
    return true;
}

void skip_zero_terminated() {
    while (next_byte() != 0) {
    }
}

// The rest of a gzip header after its signature: 8, or -1 when rejected.
int read_gzip_header() {
    int method = next_byte();
    if (method != 8) {
        std::fprintf(stderr, "%s: %s: unknown method %d -- get newer version of gzip\n",
                     program_name, input_name, method);
        set_error();
        return -1;
    }
    member_method = 8;
    decoder = decode_deflate_member;
    int flags = next_byte();
    const char* rejected = nullptr;
    if (flags & 0x20)
        rejected = "%s: %s is encrypted -- get newer version of gzip\n";
    else if (flags & 0x02)
        rejected = "%s: %s is a a multi-part gzip file -- get newer version of gzip\n";
    else if (flags & 0xC0)
        rejected = "%s: %s has flags 0x%x -- get newer version of gzip\n";
    if (rejected != nullptr) {
        std::fprintf(stderr, rejected, program_name, input_name, flags);
        set_error();
        return -1;
    }
    uint32_t stamp = read_le32();
    if (stamp != 0)
        time_stamp = static_cast<int32_t>(stamp);
    next_byte(); // extra flags
    next_byte(); // operating system
    if (flags & 0x04) {
        unsigned n = static_cast<unsigned>(next_byte());
        n |= static_cast<unsigned>(next_byte()) << 8;
        while (n--)
            next_byte();
    }
    if (flags & 0x08)
        skip_zero_terminated(); // stored name: the output name comes from ours
    if (flags & 0x10)
        skip_zero_terminated(); // comment
    return 8;
}

// The method of the next member (>= 0), -1 (rejected, status set) or -2
// (trailing bytes ignored, status raised to warning).
int read_member_header() {
    int m0 = next_byte();
    int m1 = next_byte();
    member_method = -1;
    ++member_count;
    last_member = false;
    if (m0 == 0x1F && (m1 == 0x8B || m1 == 0x9E))
        return read_gzip_header();
    if (m0 == 0x50 && m1 == 0x4B && input_pos == 2 && input_count >= 4 &&
        le32(input_buffer) == kZipSignature) {
        input_pos = 0;
        decoder = decode_deflate_member;
        if (!check_zip_entry())
            return -1;
        last_member = true;
        return member_method;
    }
    if (m0 == 0x1F && m1 == 0x1E) {
        decoder = decode_pack_stream;
        return member_method = 2;
    }
    if (m0 == 0x1F && m1 == 0x9D) {
        decoder = decode_lzw_stream;
        last_member = true;
        return member_method = 1;
    }
    if (m0 == 0x1F && m1 == 0xA0) {
        decoder = decode_lzh_stream;
        last_member = true;
        return member_method = 3;
    }
    if (member_count == 1) {
        std::fprintf(stderr, "\n%s: %s: not in gzip format\n", program_name, input_name);
        set_error();
        return -1;
    }
    warn("\n%s: %s: decompression OK, trailing garbage ignored\n", program_name, input_name);
    return -2;
}

// ------------------------------------------------------------------ deflate

void copy_stored_entry() {
    uint32_t size = le32(input_buffer + 22);
    uint32_t compressed = le32(input_buffer + 18);
    if (size != compressed) {
        std::fprintf(stderr, "len %ld, siz %ld\n", static_cast<long>(size),
                     static_cast<long>(compressed));
        fatal_error("invalid compressed data--length mismatch");
    }
    while (size > 0) {
        if (input_pos == input_count) {
            refill_input(false);
            input_pos = 0;
        }
        uint32_t n = input_count - input_pos;
        if (n > size)
            n = size;
        if (n > kInputBlockSize - window_fill)
            n = kInputBlockSize - window_fill;
        std::memcpy(window_buffer + window_fill, input_buffer + input_pos, n);
        input_pos += n;
        window_fill += n;
        size -= n;
        if (window_fill == kInputBlockSize)
            drain_window();
    }
    drain_window();
}

} // namespace

int32_t decode_deflate_member() {
    crc32_update(nullptr, 0);
    uint32_t expected_crc = 0;
    uint32_t expected_length = 0;
    if (zip_entry && !zip_descriptor) {
        expected_crc = le32(input_buffer + 14);
        expected_length = le32(input_buffer + 22);
    }
    if (member_method == 8) {
        int r = decode_deflate_stream();
        if (r == 3)
            fatal_error("out of memory");
        if (r != 0)
            fatal_error("invalid compressed data--format violated");
    } else if (zip_entry && member_method == 0) {
        copy_stored_entry();
    } else {
        fatal_error("internal error, invalid method");
    }
    if (!zip_entry) {
        expected_crc = read_le32();
        expected_length = read_le32();
    } else if (zip_descriptor) {
        read_le32(); // signature, not checked
        expected_crc = read_le32();
        read_le32(); // compressed size, not used
        expected_length = read_le32();
    }
    if (expected_crc != crc32_update(window_buffer, 0))
        fatal_error("invalid compressed data--crc error");
    if (expected_length != static_cast<uint32_t>(bytes_written_total))
        fatal_error("invalid compressed data--length error");
    bool another_entry = zip_entry && input_count - input_pos >= 5 &&
                         le32(input_buffer + input_pos) == kZipSignature;
    zip_entry = false;
    zip_descriptor = false;
    if (another_entry) {
        std::fprintf(stderr, "%s: %s has more than one entry -- unchanged\n", program_name,
                     input_name);
        set_error();
        return 1;
    }
    return 0;
}

namespace {

// ------------------------------------------------------------------ output file

bool is_same_file(const crt_stat_t& a, const crt_stat_t& b) {
    return a.dev == b.dev && a.ino == b.ino && a.mode == b.mode && a.uid == b.uid &&
           a.gid == b.gid && a.size == b.size && a.atime == b.atime && a.mtime == b.mtime &&
           a.ctime == b.ctime;
}

bool name_was_truncated(char* name, const crt_stat_t& status) {
    size_t n = std::strlen(name);
    if (n == 0)
        return false;
    char last = name[n - 1];
    name[n - 1] = '\0';
    crt_stat_t shorter;
    bool same = crt_stat(name, &shorter) == 0 && is_same_file(shorter, status);
    name[n - 1] = last;
    return same;
}

void shorten_name(char* name) {
    size_t n = std::strlen(name);
    if (n <= 1)
        fatal_error("name too short");
    name[n - 1] = '\0';
}

// The existing output is left in place here: the finished output replaces
// it in one step (replace_output), so a failure on the way keeps it.
bool prepare_output_name() {
    crt_stat_t existing;
    errno = 0;
    while (crt_stat(output_name, &existing) != 0) {
        if (errno != ENAMETOOLONG)
            return true;
        shorten_name(output_name);
    }
    if (is_same_file(input_status, existing)) {
        if (std::strcmp(input_name, output_name) == 0)
            std::fprintf(stderr, "%s: %s: cannot %scompress onto itself\n", program_name,
                         input_name, "de");
        else
            std::fprintf(stderr, "%s: %s and %s are the same file\n", program_name, input_name,
                         output_name);
        set_error();
        return false;
    }
    return true;
}

void close_input() {
    crt_close(input_fd);
    input_fd = -1;
}

// A partial file left by a run that was killed is ours to replace; a link
// in its place is removed itself.
int create_partial() {
    std::strcpy(partial_name, output_name);
    std::strcat(partial_name, kPartialSuffix);
    const int flags = CRT_O_WRONLY | CRT_O_CREAT | CRT_O_EXCL;
    int fd = crt_open(partial_name, flags, 0x180);
    if (fd < 0 && errno == EEXIST && crt_unlink(partial_name) == 0)
        fd = crt_open(partial_name, flags, 0x180);
    return fd;
}

bool open_output_file() {
    if (!prepare_output_name()) {
        close_input();
        return false;
    }
    output_fd = create_partial();
    if (output_fd < 0) {
        report_platform_error(output_name);
        close_input();
        set_error();
        return false;
    }
    output_incomplete = true;
    crt_stat_t created;
    if (crt_fstat(output_fd, &created) != 0) {
        report_prefixed(output_name);
        close_input();
        crt_close(output_fd);
        output_fd = -1;
        crt_unlink(partial_name);
        output_incomplete = false;
        set_error();
        return false;
    }
    return true;
}

// The checked output takes the place of the existing file, if any. On
// failure the existing file stays and the partial one is deleted.
bool replace_output() {
    if (crt_rename(partial_name, output_name) != 0) {
        report_prefixed(output_name);
        crt_unlink(partial_name);
        output_incomplete = false;
        set_error();
        return false;
    }
    output_incomplete = false;
    crt_stat_t placed;
    if (crt_stat(output_name, &placed) == 0 && name_was_truncated(output_name, placed))
        warn("%s: %s: warning, name truncated\n", program_name, output_name);
    return true;
}

// ------------------------------------------------------------------ metadata

// A stamp before 1970 has no file time on the platform.
int set_file_times(const char* name, int64_t access_time, int64_t write_time) {
    if (access_time < 0 || write_time < 0) {
        errno = EINVAL;
        return -1;
    }
    return crt_set_times(name, access_time, write_time);
}

// Times go on the partial file before it replaces the output (a rename keeps
// them), the permissions after, so a read-only result is never what is
// renamed or written to.
void restore_file_metadata() {
    int64_t write_time = input_status.mtime;
    if (time_stamp != 0 && time_stamp != input_status.mtime)
        write_time = time_stamp;
    if (set_file_times(partial_name, input_status.atime, write_time) != 0)
        warn_platform(output_name);
    if (!replace_output())
        return;
    if (crt_chmod(output_name, static_cast<int>(input_status.mode & 0xFFF)) != 0)
        warn_platform(output_name);
    crt_chmod(input_name, 0x1FF);
    if (crt_unlink(input_name) != 0)
        warn_platform(input_name);
}

// ------------------------------------------------------------------ entry

// Decodes every member; false when the file failed (status already set).
bool decode_members() {
    for (;;) {
        if (decoder() != 0)
            return false;
        if (last_member || input_pos == input_count)
            return true;
        int method = read_member_header();
        if (method < 0)
            return method == -2;
        bytes_written_total = 0;
    }
}

void process_file(const char* path) {
    if (!locate_input(path))
        return;
    uint32_t type = input_status.mode & CRT_S_IFMT;
    if (type == CRT_S_IFDIR) {
        warn("%s: %s is a directory -- ignored\n", program_name, input_name);
        return;
    }
    if (type != CRT_S_IFREG) {
        warn("%s: %s is not a directory or a regular file - ignored\n", program_name, input_name);
        return;
    }
    time_stamp = input_status.mtime;
    if (!derive_output_name())
        return;
    input_fd = crt_open(input_name, CRT_O_RDONLY, 0);
    if (input_fd < 0) {
        report_prefixed(input_name);
        set_error();
        return;
    }
    reset_buffers();
    member_count = 0;
    if (read_member_header() < 0) {
        close_input();
        return;
    }
    if (!open_output_file())
        return;
    bool ok = decode_members();
    close_input();
    int closed = crt_close(output_fd);
    output_fd = -1;
    if (closed != 0)
        report_write_failure();
    if (!ok) {
        crt_unlink(partial_name);
        output_incomplete = false;
        return;
    }
    restore_file_metadata();
}

} // namespace

} // namespace gunzip

int32_t decompress_file(const char* path) {
    using namespace gunzip;
    program_name = "gzip";
    quiet_mode = true;
    exit_status = 0;
    zip_entry = false;
    zip_descriptor = false;
    if (std::strlen(path) >= kNameSize) {
        // Longer than the name buffers: refused before anything is touched.
        errno = ENAMETOOLONG;
        report_prefixed(path);
        set_error();
        return exit_status;
    }
    process_file(path);
    return exit_status;
}

void set_gunzip_fatal_notice(gunzip_fatal_notice notice) {
    gunzip::fatal_notice = notice;
}

void set_gunzip_progress_notice(gunzip_progress_notice notice) {
    gunzip::progress_notice = notice;
}
