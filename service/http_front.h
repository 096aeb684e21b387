#pragma once

#include "catalog.h"

#include <atomic>
#include <chrono>
#include <memory>
#include <string>

namespace httplib {
class Server;
}

namespace yuming::service {

// The HTTP side of the service: the four pages, the error pages and the request log.
class HttpFront {
public:
    HttpFront(const Catalog& catalog, std::string dbPath);
    ~HttpFront();
    HttpFront(const HttpFront&) = delete;
    HttpFront& operator=(const HttpFront&) = delete;

    // Binds; port 0 picks a free port. Returns the bound port, or -1.
    int bind(const std::string& host, int port);
    // Serves until stop(); false if serving could not start.
    bool run();
    // Safe from any thread.
    void stop();
    // How long since the last request was answered (or since the front was made); any thread.
    std::chrono::steady_clock::duration idleFor() const;

private:
    void route();
    const Catalog& m_catalog;
    std::string m_dbPath;
    std::unique_ptr<httplib::Server> m_server;
    std::atomic<std::chrono::steady_clock::rep> m_lastRequest;
};

} // namespace yuming::service
