#include "import/url_lists.h"

#include "net/feed_fetch.h"

#include <QDir>
#include <QFileInfo>

#include <array>
#include <csignal>
#include <cstdlib>
#include <iostream>
#include <unistd.h>

namespace yuming::service {

namespace {

// What an interrupt must remove, readable from the signal handler: set before each file is made.
constexpr std::size_t kMostUrls = 256;
std::array<const char*, kMostUrls> g_paths{};
volatile std::sig_atomic_t g_count = 0;
constexpr std::array kEndingSignals{SIGINT, SIGTERM, SIGHUP};

void removeFetchedAndEnd(int signal) {
    for (std::sig_atomic_t i = 0; i < g_count; ++i)
        ::unlink(g_paths[static_cast<std::size_t>(i)]);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// The handlers there were before, put back once the files are gone.
std::array<void (*)(int), kEndingSignals.size()> g_before{};

void watchEndingSignals(bool on) {
    for (std::size_t i = 0; i < kEndingSignals.size(); ++i) {
        if (on) {
            g_before[i] = std::signal(kEndingSignals[i], removeFetchedAndEnd);
            // A signal ignored (nohup's hangup) stays ignored: it ends nothing to clean up after.
            if (g_before[i] == SIG_IGN) std::signal(kEndingSignals[i], SIG_IGN);
        } else {
            std::signal(kEndingSignals[i], g_before[i] == SIG_ERR ? SIG_DFL : g_before[i]);
        }
    }
}

void replaceAll(std::string& text, const std::string& from, const std::string& to) {
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

} // namespace

std::string listFileName(std::string_view url) {
    std::string_view path = url.substr(0, url.find_first_of("?#"));
    path = path.substr(path.rfind('/') + 1);
    std::string out;
    for (const char c : path.substr(0, 100))
        out +=
            (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '-' || c == '.'
                ? c
                : '_';
    return out;
}

bool isListUrl(std::string_view file) {
    const auto startsWith = [file](std::string_view scheme) {
        return file.size() > scheme.size() &&
               QString::fromLatin1(file.substr(0, scheme.size()))
                       .compare(QLatin1String(scheme), Qt::CaseInsensitive) == 0;
    };
    return startsWith("http://") || startsWith("https://");
}

FetchedLists::~FetchedLists() {
    removeAll();
}

void FetchedLists::removeAll() {
    if (m_fetched.empty()) return;
    watchEndingSignals(false);
    for (const Fetched& fetched : m_fetched)
        ::unlink(fetched.path.c_str());
    g_count = 0;
    m_fetched.clear();
}

std::string FetchedLists::fetch(std::vector<std::string>& files, const std::string& dbPath,
                                const std::string& caFile) {
    const QString folder = QFileInfo(QString::fromStdString(dbPath)).absolutePath();
    // The signal handler holds each path's text: it must not move as more are added.
    m_fetched.reserve(files.size());
    for (std::string& file : files) {
        if (!isListUrl(file)) continue;
        if (m_fetched.size() >= kMostUrls)
            return "more than " + std::to_string(kMostUrls) + " URLs in one import";
        if (!QDir().mkpath(folder)) return "cannot make the folder " + folder.toStdString();
        if (std::string error = fetchOne(file, folder.toStdString(), caFile); !error.empty()) {
            removeAll();
            return error;
        }
        file = m_fetched.back().path;
    }
    return {};
}

std::string FetchedLists::fetchOne(const std::string& url, const std::string& folder,
                                   const std::string& caFile) {
    std::string path = folder + "/.yuming-fetch-" + listFileName(url) + ".XXXXXX";
    if (m_fetched.empty()) watchEndingSignals(true);
    m_fetched.push_back({url, path});
    std::string& made = m_fetched.back().path;
    g_paths[m_fetched.size() - 1] = made.c_str();
    const int fd = ::mkstemp(made.data());
    if (fd < 0) {
        m_fetched.pop_back();
        return "cannot make a file in " + folder + " to fetch " + url + " into";
    }
    g_count = static_cast<std::sig_atomic_t>(m_fetched.size());
    ::close(fd);

    const bool terminal = ::isatty(STDERR_FILENO) == 1;
    if (terminal) std::cerr << "fetching " << url << "..." << std::flush;
    FeedFetchRequest request;
    request.url = url;
    request.bodyFile = made;
    request.caFile = caFile;
    const FeedFetchOutcome outcome = fetchToFile(request);
    if (terminal) std::cerr << "\r\033[K" << std::flush;
    if (outcome.kind != FeedFetchOutcome::Kind::Taken) return "cannot fetch " + url + ": " + outcome.error;
    return {};
}

std::string FetchedLists::shown(std::string text) const {
    for (const Fetched& fetched : m_fetched)
        replaceAll(text, fetched.path, fetched.url);
    return text;
}

} // namespace yuming::service
