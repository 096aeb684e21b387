#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace yuming::service {

// An http or https URL among an import's files, rather than a file's path.
bool isListUrl(std::string_view file);

// The URL's last path segment, for the name of the file a list is fetched into: a date it holds
// ("drops-2026-12-15.txt") is one a list of bare names may take. Characters a file name should not
// have become '_'; at most 100 of them.
std::string listFileName(std::string_view url);

// The lists an import names by URL, each fetched once into a file of its own beside the
// database (the same disk the import writes to), and removed when this ends, or when the
// process is interrupted or terminated, whatever the import made of them.
class FetchedLists {
public:
    FetchedLists() = default;
    ~FetchedLists();
    FetchedLists(const FetchedLists&) = delete;
    FetchedLists& operator=(const FetchedLists&) = delete;

    // Fetches every URL among `files`, putting the file it was fetched into in its place. Empty,
    // or why one could not be fetched (and then nothing is left of those fetched before it).
    std::string fetch(std::vector<std::string>& files, const std::string& dbPath, const std::string& caFile);
    // `text` with each fetched file's path written as its URL, for what the import reports.
    std::string shown(std::string text) const;

private:
    struct Fetched {
        std::string url, path;
    };
    std::string fetchOne(const std::string& url, const std::string& folder, const std::string& caFile);
    void removeAll();

    std::vector<Fetched> m_fetched;
};

} // namespace yuming::service
