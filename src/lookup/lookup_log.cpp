#include "lookup/lookup_log.h"

#include "text/gbk.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

#include <algorithm>
#include <array>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <optional>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace yuming {
namespace {

// An installed program's folder is the system's, even where root may write into it: a log
// there would belong to no package and outlive the program.
bool systemFolder(const QString& folder) {
    static const QStringList system = {QStringLiteral("/usr/bin"), QStringLiteral("/usr/local/bin"),
                                       QStringLiteral("/bin"),     QStringLiteral("/usr/sbin"),
                                       QStringLiteral("/sbin"),    QStringLiteral("/usr/games")};
    return system.contains(QFileInfo(folder).canonicalFilePath());
}

// Holds back the signals that end the program while a page goes into the log, then lets the
// last one take effect under whatever handling it had before. Changing the handlers (not a
// thread's mask) covers every thread: the signal may be delivered to any of them. A file size
// limit makes the write fail with EFBIG instead of killing the program half-way.
class HeldSignals {
public:
    HeldSignals() {
        s_caught = 0;
        struct sigaction hold {};
        hold.sa_handler = &HeldSignals::remember;
        sigemptyset(&hold.sa_mask);
        hold.sa_flags = SA_RESTART;
        for (std::size_t i = 0; i < kHeld.size(); ++i)
            sigaction(kHeld[i], &hold, &m_before[i]);
        struct sigaction ignore {};
        ignore.sa_handler = SIG_IGN;
        sigemptyset(&ignore.sa_mask);
        sigaction(SIGXFSZ, &ignore, &m_sizeLimit);
    }
    ~HeldSignals() {
        sigaction(SIGXFSZ, &m_sizeLimit, nullptr);
        for (std::size_t i = 0; i < kHeld.size(); ++i)
            sigaction(kHeld[i], &m_before[i], nullptr);
        if (const int signal = s_caught) raise(signal);
    }
    HeldSignals(const HeldSignals&) = delete;
    HeldSignals& operator=(const HeldSignals&) = delete;

private:
    static void remember(int signal) { s_caught = signal; }

    static constexpr std::array<int, 3> kHeld = {SIGHUP, SIGINT, SIGTERM};
    static inline volatile std::sig_atomic_t s_caught = 0;
    std::array<struct sigaction, kHeld.size()> m_before{};
    struct sigaction m_sizeLimit {};
};

class Descriptor {
public:
    explicit Descriptor(int fd = -1) : m_fd(fd) {}
    ~Descriptor() {
        if (m_fd >= 0) ::close(m_fd);
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;
    int get() const { return m_fd; }
    bool valid() const { return m_fd >= 0; }

private:
    int m_fd;
};

QString reasonOf(int error) {
    return QString::fromLocal8Bit(std::strerror(error));
}

QString notRegular(mode_t mode) {
    if (S_ISLNK(mode)) return QStringLiteral("a symbolic link, which the log is never written through");
    const char* kind = S_ISFIFO(mode)   ? "a FIFO"
                       : S_ISDIR(mode)  ? "a folder"
                       : S_ISCHR(mode)  ? "a character device"
                       : S_ISBLK(mode)  ? "a block device"
                       : S_ISSOCK(mode) ? "a socket"
                                        : "a special file";
    return QString::fromLatin1(kind) + QStringLiteral(", not a regular file");
}

struct Opened {
    int fd = -1;
    int code = 0; // the errno of a failed open
    QString why;
};

// Opens `path` only if it is a regular file (or creates one), and never through a symbolic link:
// a link planted in a shared folder could aim the appends at any file the user may write, their
// own start-up files included, so checking the target's owner would not be enough; a log kept
// elsewhere is named directly. lstat refuses the usual cases without opening them (opening a
// device can have effects of its own); O_NONBLOCK keeps a FIFO put there in the meantime from
// blocking the open, and fstat refuses it after.
Opened openRegular(const QByteArray& path, int flags) {
    struct stat st {};
    if (::lstat(path.constData(), &st) == 0 && !S_ISREG(st.st_mode)) return {-1, 0, notRegular(st.st_mode)};
    const int fd = ::open(path.constData(), flags | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY, 0666);
    if (fd < 0) {
        const int code = errno;
        return {-1, code, code == ELOOP ? notRegular(S_IFLNK) : reasonOf(code)};
    }
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return {-1, 0, notRegular(st.st_mode)};
    }
    ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
    return {fd, 0, {}};
}

// 0, or the errno of the write that failed.
int writeAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, static_cast<std::size_t>(size));
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno;
        }
        if (n == 0) return EIO;
        data += n;
        size -= n;
    }
    return 0;
}

bool readAll(int fd, qint64 offset, char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::pread(fd, data, static_cast<std::size_t>(size), offset);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        offset += n;
        size -= n;
    }
    return true;
}

// Another copy of the program may be appending to the same log (the window and the CLI); the
// cut-backs below must never take its page. Waits a little, never for ever: a stopped process
// may hold the lock. Returns why it could not be had.
std::optional<QString> lockLog(int fd) {
    constexpr int kTries = 200;
    const timespec pause{0, 10'000'000};
    for (int i = 0; i < kTries; ++i) {
        if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return std::nullopt;
        if (errno == ENOLCK || errno == EINVAL) return std::nullopt; // a file system without locks
        if (errno != EWOULDBLOCK && errno != EINTR) return reasonOf(errno);
        ::nanosleep(&pause, nullptr);
    }
    return QStringLiteral("in use by another process");
}

void syncFolderOf(const QString& path) {
    const Descriptor folder(::open(QFile::encodeName(QFileInfo(path).absolutePath()).constData(),
                                   O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (folder.valid()) ::fsync(folder.get());
}

// The page on its way into the log, kept beside it: which file (device and inode), where the
// page starts and how long it is, then the page. Whatever of the log's end after that start is
// byte for byte the page's beginning was written by the append that never finished.
class PendingPage {
public:
    explicit PendingPage(const QString& logPath)
        : m_display(logPath + QStringLiteral(".pending")), m_path(QFile::encodeName(m_display)) {}

    // Cuts off what an unfinished append left at the log's end, as recorded here; leaves the
    // log alone whenever the record does not prove the bytes are that page's. Returns false
    // when such bytes were found but could not be cut.
    bool repair(int log, QString& repaired, QString& error) const {
        const Descriptor pending(openRegular(m_path, O_RDONLY).fd);
        if (!pending.valid()) return true;
        const std::optional<Record> record = readRecord(pending.get());
        struct stat st {};
        if (!record || ::fstat(log, &st) != 0 || record->device != st.st_dev || record->inode != st.st_ino)
            return true;
        const qint64 start = record->offset;
        const qint64 end = st.st_size;
        if (end <= start || end >= start + record->length) return true; // nothing, or the whole page
        if (!sameBytes(log, start, pending.get(), record->bodyOffset, end - start)) return true;
        if (::ftruncate(log, start) != 0) {
            error = QStringLiteral("cannot cut off the unfinished page at offset %1: %2")
                        .arg(start)
                        .arg(reasonOf(errno));
            return false;
        }
        repaired = QStringLiteral("cut off %1 bytes from offset %2, left by an append that never finished")
                       .arg(end - start)
                       .arg(start);
        return true;
    }

    // Records `bytes` as going into `log` at `offset`, durably, before the log is touched.
    // Without the record (no room, a folder that cannot be written) the append still goes on:
    // only the repair after a kill needs it.
    void record(int log, qint64 offset, const QByteArray& bytes) {
        struct stat st {};
        if (::fstat(log, &st) != 0) return;
        const bool existed = ::access(m_path.constData(), F_OK) == 0;
        const Descriptor pending(openRegular(m_path, O_WRONLY | O_CREAT | O_TRUNC).fd);
        if (!pending.valid()) return;
        const QByteArray head = QByteArrayLiteral("yuming-log-pending ") +
                                QByteArray::number(quint64(st.st_dev)) + ' ' +
                                QByteArray::number(quint64(st.st_ino)) + ' ' + QByteArray::number(offset) +
                                ' ' + QByteArray::number(bytes.size()) + '\n';
        m_recorded = writeAll(pending.get(), head.constData(), head.size()) == 0 &&
                     writeAll(pending.get(), bytes.constData(), bytes.size()) == 0 &&
                     ::fsync(pending.get()) == 0;
        if (!m_recorded) {
            ::unlink(m_path.constData());
            return;
        }
        if (!existed) syncFolderOf(m_display);
    }

    bool recorded() const { return m_recorded; }

    // The page is in the log (or cut off again): nothing is pending any more.
    void remove() {
        if (m_recorded) ::unlink(m_path.constData());
        m_recorded = false;
    }

private:
    struct Record {
        dev_t device;
        ino_t inode;
        qint64 offset;
        qint64 length;
        qint64 bodyOffset;
    };

    static std::optional<Record> readRecord(int fd) {
        std::array<char, 128> head{};
        const ssize_t n = ::pread(fd, head.data(), head.size(), 0);
        if (n <= 0) return std::nullopt;
        const QByteArray text(head.data(), n);
        const qsizetype newline = text.indexOf('\n');
        const QList<QByteArray> fields = text.left(newline).split(' ');
        if (newline < 0 || fields.size() != 5 || fields[0] != "yuming-log-pending") return std::nullopt;
        bool ok[4] = {};
        Record r{static_cast<dev_t>(fields[1].toULongLong(&ok[0])),
                 static_cast<ino_t>(fields[2].toULongLong(&ok[1])), fields[3].toLongLong(&ok[2]),
                 fields[4].toLongLong(&ok[3]), newline + 1};
        if (!(ok[0] && ok[1] && ok[2] && ok[3]) || r.offset < 0 || r.length <= 0) return std::nullopt;
        return r;
    }

    static bool sameBytes(int a, qint64 aOffset, int b, qint64 bOffset, qint64 size) {
        constexpr qint64 kBlock = 1 << 16;
        QByteArray x(kBlock, Qt::Uninitialized), y(kBlock, Qt::Uninitialized);
        for (qint64 done = 0; done < size; done += kBlock) {
            const qint64 n = std::min(kBlock, size - done);
            if (!readAll(a, aOffset + done, x.data(), n) || !readAll(b, bOffset + done, y.data(), n) ||
                std::memcmp(x.constData(), y.constData(), static_cast<std::size_t>(n)) != 0)
                return false;
        }
        return true;
    }

    QString m_display;
    QByteArray m_path;
    bool m_recorded = false;
};

} // namespace

QString lookupLogPath(const QString& programFolder) {
    const QString name = kLookupLogName.toString();
    const QFileInfo beside(programFolder + name);
    const bool usable = beside.exists() ? beside.isWritable() : QFileInfo(programFolder).isWritable();
    if (usable && !systemFolder(programFolder)) return beside.filePath();
    const QString data = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
    QDir().mkpath(data);
    return data + QLatin1Char('/') + name;
}

LogAppend appendLookupLog(const QString& path, QStringView page) {
    LogAppend result;
    const auto fail = [&](const QString& why) {
        result.error = path + QStringLiteral(": ") + why;
        return result;
    };
    const QByteArray bytes = toGbk(page) + "\r\n";
    const QByteArray name = QFile::encodeName(path);
    // Read access lets the repair compare the log's end with the pending page; a log the user
    // may only write is still appended to.
    Opened opened = openRegular(name, O_RDWR | O_APPEND | O_CREAT);
    if (opened.code == EACCES) opened = openRegular(name, O_WRONLY | O_APPEND | O_CREAT);
    const Descriptor log(opened.fd);
    if (!log.valid()) return fail(opened.why);
    if (const auto busy = lockLog(log.get())) return fail(*busy);

    const HeldSignals held;
    PendingPage pending(path);
    QString why;
    if (!pending.repair(log.get(), result.repaired, why)) return fail(why);
    struct stat st {};
    if (::fstat(log.get(), &st) != 0) return fail(reasonOf(errno));
    const qint64 before = st.st_size;
    pending.record(log.get(), before, bytes);

    const auto write = [&]() -> int {
        if (const int error = writeAll(log.get(), bytes.constData(), bytes.size())) return error;
        return ::fsync(log.get()) == 0 ? 0 : errno;
    };
    // A full disk or a size limit may have let part of the page in: cut it off again so the log
    // ends with the last whole page, as it did before. Should that fail too, the pending record
    // stays for the next append to finish the job.
    const auto cutBack = [&] {
        const bool cut = ::ftruncate(log.get(), before) == 0;
        if (cut) pending.remove();
        return cut;
    };
    int error = write();
    // The pending copy may be what took the last room; the page alone may still fit, though a
    // kill could then no longer be repaired.
    if ((error == ENOSPC || error == EDQUOT) && pending.recorded() && cutBack()) error = write();
    if (error != 0) {
        cutBack();
        return fail(reasonOf(error));
    }
    pending.remove();
    return result;
}

} // namespace yuming
