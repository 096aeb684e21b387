#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

namespace yuming::service {

struct ImageTrim;

// The bytes of a catalogue, in memory of their own: mapped at once and in large pages where the
// system has them, since faulting in a few hundred megabytes a page at a time is most of the cost
// of reading them. While a new catalogue is switched in (see LeanSwitch) they are kept in a file
// instead, so that the pages held in memory can be let go of and read back when next touched.
class CatalogImage {
public:
    CatalogImage() = default;
    // `size` zero bytes.
    explicit CatalogImage(std::size_t size);
    static CatalogImage copyOf(std::string_view bytes);
    ~CatalogImage();
    CatalogImage(CatalogImage&& other) noexcept;
    CatalogImage& operator=(CatalogImage&& other) noexcept;
    CatalogImage(const CatalogImage&) = delete;
    CatalogImage& operator=(const CatalogImage&) = delete;

    char* data() { return m_data; }
    const char* data() const { return m_data; }
    std::size_t size() const { return m_size; }
    std::string_view view() const { return {m_data, m_size}; }
    // Whether the bytes are kept in a file.
    bool inFile() const { return m_inFile; }

private:
    friend class LeanSwitch;
    void unmap();
    // Puts the bytes in a file in `dir`, mapped where they are: readers never see them move.
    bool moveToFile(const std::string& dir) const;

    char* m_data = nullptr;
    std::size_t m_size = 0;
    mutable bool m_inFile = false;
    // The switch whose trimming reaches these bytes: told before they are unmapped.
    mutable std::shared_ptr<ImageTrim> m_trim;
};

// While one lives, a new catalogue is being switched in on this thread and only one catalogue's
// worth of memory is held: the image served is moved to a file, images made on this thread are
// made in files, and every few tens of milliseconds the pages of all of them held in memory are
// let go of (their bytes stay in the file, read back on the next touch). Files go in `dir`, made
// without a name, so nothing is left behind.
class LeanSwitch {
public:
    LeanSwitch(std::string dir, const CatalogImage* served);
    ~LeanSwitch();
    LeanSwitch(const LeanSwitch&) = delete;
    LeanSwitch& operator=(const LeanSwitch&) = delete;

private:
    std::shared_ptr<ImageTrim> m_trim;
    std::shared_ptr<ImageTrim> m_outer;
    std::thread m_thread;
};

} // namespace yuming::service
