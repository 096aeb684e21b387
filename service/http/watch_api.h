#pragma once

#include "http/routes.h"

#include <atomic>
#include <optional>
#include <string>
#include <string_view>

namespace yuming::service {

class Watchlist;

// {"error": message} with `status`.
Reply jsonError(int status, std::string_view message);

// A name as the watchlist keeps it: its ASCII form, lower case, one label before a suffix the
// service serves, at most 253 bytes. Nothing for anything else, with the reason in `why`.
std::optional<std::string> watchName(std::string_view text, std::string& why);

// The watchlist's JSON API under /api/watch. Only for a request that carries the service's token,
// names the service's own address as its Host, and (from a browser) comes from its own origin.
class WatchApi {
public:
    WatchApi(Watchlist& watchlist, std::string token);
    // The port the service listens on, once bound: the one Host may name.
    void setPort(int port) { m_port = port; }
    void answer(const Request& request, Routes::Respond respond) const;
    const std::string& token() const { return m_token; }
    // Why a request is refused by its head alone: a foreign Host or origin (403), no token or a
    // wrong one (401); nothing for one that may go on.
    std::optional<Reply> refusal(const Request& request) const;

private:
    Reply list() const;
    Reply add(const Request& request) const;
    Reply remove(const Request& request) const;
    void check(const Request& request, Routes::Respond respond) const;
    Reply history(std::string_view query) const;

    Watchlist& m_watchlist;
    const std::string m_token;
    std::atomic<int> m_port = 0;
};

} // namespace yuming::service
