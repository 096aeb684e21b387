#pragma once

#include <QString>

#include <string>

namespace yuming::service {

// Being this user's own service: only one at a time, found by the tools through its record.
// Held from take() until the claim goes; the record is published once the service listens.
class UserClaim {
public:
    UserClaim() = default;
    ~UserClaim();
    UserClaim(const UserClaim&) = delete;
    UserClaim& operator=(const UserClaim&) = delete;

    enum class Outcome {
        Taken,
        Held,   // another service of this user's runs: said on stderr with where it listens
        Failed, // said on stderr
    };
    Outcome take();
    // Written whole or not at all: a tool never reads half an address. Readable by the user
    // alone (0600): the token in it is what lets a program change the watchlist.
    bool publish(const std::string& host, int port, const std::string& token = {});
    // Taken back before the service stops, so a tool that looks now waits for the next one.
    void withdraw();

private:
    QString m_record;
    int m_lock = -1;
    bool m_published = false;
};

} // namespace yuming::service
