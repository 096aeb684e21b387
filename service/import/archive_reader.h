#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct archive;

namespace yuming::service {

// How a list file is packed, told by its first bytes whatever its name.
enum class Packing { Plain, Gzip, Zip };
Packing packingOf(std::string_view firstBytes);

// What an archive may unpack to before it is taken for a bomb.
struct ArchiveBounds {
    std::size_t members = 64;
    std::uint64_t total = 1ull << 30; // uncompressed, all members together
    std::uint64_t ratio = 200;        // uncompressed bytes per compressed byte of one member
};

// The text members of a zip archive, or the one text of a gzip file, unpacked in memory through
// libarchive: nothing is ever written to disk, so a member's path matters only as a warning sign.
class ArchiveReader {
public:
    // `first` holds the bytes already read from `fd`, which carries on after them.
    ArchiveReader(int fd, std::string_view first, Packing packing, ArchiveBounds bounds = {});
    ~ArchiveReader();
    ArchiveReader(const ArchiveReader&) = delete;
    ArchiveReader& operator=(const ArchiveReader&) = delete;

    // On to the next member a list may be in (a zip's folders and other files are passed over);
    // false at the end of the archive and on a failure, which error() then tells.
    bool nextMember(std::string& name);
    // The next piece of the member; empty at its end. False, with error(), on a failure.
    bool next(std::string_view& piece);
    // Bytes taken from the file since the last call.
    std::uint64_t takeStored();
    const std::string& error() const { return m_error; }

private:
    friend struct ArchiveCallbacks;
    bool fail(std::string why);
    std::string damaged() const;
    bool refusedPath(const std::string& name);

    int m_fd;
    std::string m_first;
    std::size_t m_firstAt = 0;
    Packing m_packing;
    ArchiveBounds m_bounds;
    archive* m_archive = nullptr;
    std::vector<char> m_input;
    std::vector<char> m_output;
    std::string m_error;
    std::string m_name;
    std::size_t m_members = 0;
    std::uint64_t m_total = 0;
    std::uint64_t m_memberOut = 0;
    std::int64_t m_memberIn = 0; // the file's bytes consumed when the member began
    std::uint64_t m_stored = 0;
    bool m_inMember = false;
};

} // namespace yuming::service
