#include "import/archive_reader.h"

#include <archive.h>
#include <archive_entry.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstring>
#include <utility>

namespace yuming::service {

namespace {

constexpr std::size_t kInputSize = 256 * 1024;
constexpr std::size_t kOutputSize = 1 << 20;
// Short members of one line said again and again pack tightly and harmlessly; a member is judged
// by its ratio once it has unpacked to this much.
constexpr std::uint64_t kJudgedFrom = 1 << 20;

std::string sizeText(std::uint64_t bytes) {
    if (bytes % (1ull << 30) == 0) return std::to_string(bytes >> 30) + " GiB";
    if (bytes % (1ull << 20) == 0) return std::to_string(bytes >> 20) + " MiB";
    return std::to_string(bytes) + " bytes";
}

char lower(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c + ('a' - 'A')) : c;
}

// What a list is published as: CSV, text, or a name without any extension.
bool mayHoldAList(std::string_view path) {
    if (path.starts_with("__MACOSX/") || path.find("/__MACOSX/") != std::string_view::npos) return false;
    const auto slash = path.find_last_of("/\\");
    const std::string_view base = slash == std::string_view::npos ? path : path.substr(slash + 1);
    // A Mac's resource forks, named after the file they belong to.
    if (base.empty() || base.starts_with("._")) return false;
    const auto dot = base.rfind('.');
    if (dot == std::string_view::npos) return true;
    std::string extension;
    for (const char c : base.substr(dot + 1))
        extension += lower(c);
    return extension == "csv" || extension == "txt" || extension == "tsv" || extension == "lst" ||
           extension == "list";
}

} // namespace

Packing packingOf(std::string_view first) {
    if (first.starts_with("\x1f\x8b")) return Packing::Gzip;
    if (first.starts_with("PK\x03\x04") || first.starts_with("PK\x05\x06")) return Packing::Zip;
    return Packing::Plain;
}

struct ArchiveCallbacks {
    static la_ssize_t read(archive*, void* data, const void** buffer) {
        auto* self = static_cast<ArchiveReader*>(data);
        if (self->m_firstAt < self->m_first.size()) {
            *buffer = self->m_first.data() + self->m_firstAt;
            const std::size_t size = self->m_first.size() - self->m_firstAt;
            // Counted as read by whoever read them.
            self->m_firstAt = self->m_first.size();
            return static_cast<la_ssize_t>(size);
        }
        for (;;) {
            const ssize_t got = ::read(self->m_fd, self->m_input.data(), self->m_input.size());
            if (got < 0 && errno == EINTR) continue;
            if (got < 0) {
                archive_set_error(self->m_archive, errno, "%s", std::strerror(errno));
                return -1;
            }
            *buffer = self->m_input.data();
            self->m_stored += static_cast<std::uint64_t>(got);
            return got;
        }
    }

    // A zip's directory is at its end: a file that can seek is read from there, which also finds
    // members whose sizes only follow their data.
    static la_int64_t seek(archive*, void* data, la_int64_t offset, int whence) {
        auto* self = static_cast<ArchiveReader*>(data);
        // What was read ahead at the start is given up: from here on, the file is read where asked.
        const off_t at = ::lseek(self->m_fd, static_cast<off_t>(offset), whence);
        if (at < 0) return ARCHIVE_FATAL;
        self->m_firstAt = self->m_first.size();
        return at;
    }
};

ArchiveReader::ArchiveReader(int fd, std::string_view first, Packing packing, ArchiveBounds bounds)
    : m_fd(fd), m_first(first), m_packing(packing), m_bounds(bounds), m_archive(archive_read_new()),
      m_input(kInputSize), m_output(kOutputSize) {
    if (m_packing == Packing::Zip) {
        archive_read_support_format_zip(m_archive);
    } else {
        archive_read_support_filter_gzip(m_archive);
        archive_read_support_format_raw(m_archive);
        // Nothing compressed: no text, which the raw format does not take for one.
        archive_read_support_format_empty(m_archive);
    }
    archive_read_set_read_callback(m_archive, ArchiveCallbacks::read);
    struct stat info {};
    // lseek() works on the file as a whole: the bytes read ahead count from its start.
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
        ::lseek(fd, 0, SEEK_CUR) == static_cast<off_t>(m_first.size()))
        archive_read_set_seek_callback(m_archive, ArchiveCallbacks::seek);
    archive_read_set_callback_data(m_archive, this);
    if (archive_read_open1(m_archive) != ARCHIVE_OK) fail(damaged());
}

ArchiveReader::~ArchiveReader() {
    archive_read_free(m_archive);
}

bool ArchiveReader::fail(std::string why) {
    if (m_error.empty()) m_error = std::move(why);
    return false;
}

std::string ArchiveReader::damaged() const {
    const char* why = archive_error_string(m_archive);
    if (m_packing == Packing::Zip) return std::string("damaged archive: ") + (why ? why : "unreadable");
    // A gzip stream that stops before its trailer fails without a word.
    if (!why || std::string_view(why).find("truncated") != std::string_view::npos)
        return "the compressed data ends early";
    return std::string("damaged compressed data: ") + why;
}

std::uint64_t ArchiveReader::takeStored() {
    return std::exchange(m_stored, 0);
}

// A member is never written anywhere, but one named to climb out of where it would be unpacked
// is no list a publisher made: the archive is refused rather than read in part.
bool ArchiveReader::refusedPath(const std::string& name) {
    const bool absolute =
        name.starts_with('/') || name.starts_with('\\') ||
        (name.size() >= 2 && name[1] == ':' && std::isalpha(static_cast<unsigned char>(name[0])));
    bool climbs = false;
    std::size_t from = 0;
    while (from <= name.size()) {
        const std::size_t end = std::min(name.find_first_of("/\\", from), name.size());
        climbs = climbs || name.compare(from, end - from, "..") == 0;
        from = end + 1;
    }
    if (!absolute && !climbs) return false;
    return !fail("a member named " + name + " points outside the archive; not read");
}

bool ArchiveReader::nextMember(std::string& name) {
    if (!m_error.empty()) return false;
    for (;;) {
        archive_entry* entry = nullptr;
        const int status = archive_read_next_header(m_archive, &entry);
        if (status == ARCHIVE_EOF) return false;
        if (status < ARCHIVE_WARN) return fail(damaged());
        if (++m_members > m_bounds.members)
            return fail("more than " + std::to_string(m_bounds.members) +
                        " members in the archive; not read (an archive bomb?)");
        const char* path = archive_entry_pathname(entry);
        name = path ? path : "";
        m_name = name;
        if (m_packing == Packing::Zip && refusedPath(name)) return false;
        if (m_packing == Packing::Zip && (archive_entry_filetype(entry) != AE_IFREG || !mayHoldAList(name)))
            continue;
        if (archive_entry_size_is_set(entry) &&
            static_cast<std::uint64_t>(archive_entry_size(entry)) > m_bounds.total - m_total)
            return fail("unpacks to more than " + sizeText(m_bounds.total) + "; not read (an archive bomb?)");
        m_memberOut = 0;
        m_memberIn = archive_filter_bytes(m_archive, -1);
        m_inMember = true;
        return true;
    }
}

bool ArchiveReader::next(std::string_view& piece) {
    piece = {};
    if (!m_error.empty()) return false;
    if (!m_inMember) return true;
    const la_ssize_t got = archive_read_data(m_archive, m_output.data(), m_output.size());
    if (got < 0) return fail(damaged());
    if (got == 0) {
        m_inMember = false;
        return true;
    }
    const auto size = static_cast<std::uint64_t>(got);
    m_memberOut += size;
    m_total += size;
    if (m_total > m_bounds.total)
        return fail("unpacks to more than " + sizeText(m_bounds.total) + "; not read (an archive bomb?)");
    const auto packed =
        static_cast<std::uint64_t>(std::max<la_int64_t>(archive_filter_bytes(m_archive, -1) - m_memberIn, 1));
    if (m_memberOut >= kJudgedFrom && m_memberOut > m_bounds.ratio * packed)
        return fail((m_packing == Packing::Zip ? "member " + m_name + " unpacks" : std::string("unpacks")) +
                    " to more than " + std::to_string(m_bounds.ratio) +
                    " times its packed size; not read (an archive bomb?)");
    piece = {m_output.data(), static_cast<std::size_t>(got)};
    return true;
}

} // namespace yuming::service
