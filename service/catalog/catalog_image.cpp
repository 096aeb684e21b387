#include "catalog/catalog_image.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <utility>
#include <vector>

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

namespace yuming::service {

struct ImageTrim {
    std::string dir;
    std::mutex mutex;
    std::condition_variable wake;
    bool stopping = false;
    std::vector<std::pair<char*, std::size_t>> images;

    void add(char* data, std::size_t size) {
        const std::lock_guard lock(mutex);
        images.emplace_back(data, size);
    }
    void forget(char* data) {
        const std::lock_guard lock(mutex);
        std::erase_if(images, [&](const auto& image) { return image.first == data; });
    }
    // Under the lock, so no image is unmapped (and its addresses reused) while it is let go of.
    void releaseAll() {
        for (const auto& [data, size] : images)
            ::madvise(data, size, MADV_DONTNEED);
    }
};

namespace {

// The switch under way on this thread, if any.
thread_local std::shared_ptr<ImageTrim> t_switching;

// A file without a name in `dir` (removed at once where the system cannot make one so), or -1.
int unnamedFile(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
    if (fd >= 0) return fd;
    std::string path = dir + "/.yuming-index-XXXXXX";
    const int named = ::mkstemp(path.data());
    if (named >= 0) ::unlink(path.c_str());
    return named;
}

bool writeAll(int fd, const char* data, std::size_t size) {
    std::size_t done = 0;
    while (done < size) {
        const ssize_t wrote = ::pwrite(fd, data + done, size - done, static_cast<off_t>(done));
        if (wrote < 0 && errno == EINTR) continue;
        if (wrote <= 0) return false;
        done += static_cast<std::size_t>(wrote);
    }
    return true;
}

} // namespace

CatalogImage::CatalogImage(std::size_t size) : m_size(size) {
    if (size == 0) return;
    if (const auto& trim = t_switching) {
        const int fd = unnamedFile(trim->dir);
        // The file's blocks are taken now: one that ran out of room while being written through the
        // mapping would end the process. No room, or a file system that cannot promise it: memory.
        if (fd >= 0 && ::fallocate(fd, 0, 0, static_cast<off_t>(size)) == 0) {
            void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
            ::close(fd);
            if (mapped != MAP_FAILED) {
                m_data = static_cast<char*>(mapped);
                m_inFile = true;
                m_trim = trim;
                trim->add(m_data, m_size);
                return;
            }
        } else if (fd >= 0) {
            ::close(fd);
        }
    }
    void* mapped = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (mapped == MAP_FAILED) throw std::bad_alloc();
    ::madvise(mapped, size, MADV_HUGEPAGE);
    m_data = static_cast<char*>(mapped);
}

CatalogImage CatalogImage::copyOf(std::string_view bytes) {
    CatalogImage image(bytes.size());
    if (!bytes.empty()) std::memcpy(image.data(), bytes.data(), bytes.size());
    return image;
}

void CatalogImage::unmap() {
    if (m_trim) m_trim->forget(m_data);
    m_trim = nullptr;
    if (m_data) ::munmap(m_data, m_size);
    m_data = nullptr;
    m_size = 0;
    m_inFile = false;
}

CatalogImage::~CatalogImage() {
    unmap();
}

CatalogImage::CatalogImage(CatalogImage&& other) noexcept
    : m_data(std::exchange(other.m_data, nullptr)), m_size(std::exchange(other.m_size, 0)),
      m_inFile(std::exchange(other.m_inFile, false)), m_trim(std::move(other.m_trim)) {}

CatalogImage& CatalogImage::operator=(CatalogImage&& other) noexcept {
    if (this != &other) {
        unmap();
        m_data = std::exchange(other.m_data, nullptr);
        m_size = std::exchange(other.m_size, 0);
        m_inFile = std::exchange(other.m_inFile, false);
        m_trim = std::move(other.m_trim);
    }
    return *this;
}

// The file is mapped over the memory it copies, in one step: a reader touching the bytes meanwhile
// waits for the step and then reads the same bytes from the file.
bool CatalogImage::moveToFile(const std::string& dir) const {
    if (m_inFile || !m_data) return m_inFile;
    const int fd = unnamedFile(dir);
    if (fd < 0) return false;
    bool moved = ::ftruncate(fd, static_cast<off_t>(m_size)) == 0 && writeAll(fd, m_data, m_size) &&
                 ::mmap(m_data, m_size, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_FIXED, fd, 0) != MAP_FAILED;
    ::close(fd);
    m_inFile = moved;
    return moved;
}

LeanSwitch::LeanSwitch(std::string dir, const CatalogImage* served)
    : m_trim(std::make_shared<ImageTrim>()), m_outer(std::exchange(t_switching, nullptr)) {
    m_trim->dir = std::move(dir);
    if (served && served->moveToFile(m_trim->dir)) {
        if (served->m_trim) served->m_trim->forget(const_cast<char*>(served->m_data));
        served->m_trim = m_trim;
        m_trim->add(const_cast<char*>(served->m_data), served->m_size);
    }
    t_switching = m_trim;
    m_thread = std::thread([trim = m_trim] {
        std::unique_lock lock(trim->mutex);
        while (!trim->stopping) {
            trim->releaseAll();
            trim->wake.wait_for(lock, std::chrono::milliseconds(50));
        }
    });
}

LeanSwitch::~LeanSwitch() {
    {
        const std::lock_guard lock(m_trim->mutex);
        m_trim->stopping = true;
    }
    m_trim->wake.notify_all();
    m_thread.join();
    t_switching = std::move(m_outer);
}

} // namespace yuming::service
