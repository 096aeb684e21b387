#pragma once

#include "search/fetch.h"
#include "search/service_address.h"
#include "search/user_service.h"

#include <QObject>

#include <functional>
#include <optional>

namespace yuming {

// The tool's way to its service, one request at a time. For this user's own service
// (ServiceAddress::userService) the service is found, or started, first and the request runs on
// the fetch to the address found; when the connection to that address fails (the service leaves
// after a long idle time) it is looked for once more. Any other address is used as it is.
class ServiceLink : public QObject {
    Q_OBJECT
public:
    // The request for the address the connection will go to.
    using MakeRequest = std::function<Request(const ServiceAddress& address)>;

    explicit ServiceLink(QObject* parent = nullptr);
    // This user's service as `setup` says, rather than as the environment does.
    explicit ServiceLink(UserService::Setup setup, QObject* parent = nullptr);
    ~ServiceLink() override;

    // Returns nothing, changing nothing, while a request is in flight. The running request
    // reports once, never from inside this call.
    RunningRequest* run(const ServiceAddress& service, MakeRequest make);
    bool inFlight() const { return m_running != nullptr; }

    Fetch& fetch() { return m_fetch; }
    // The finder of this user's own service, made on first use.
    UserService& userService();

Q_SIGNALS:
    // Every request's outcome, just before its own finished().
    void ended(const yuming::Outcome& outcome);

private:
    void locate();
    void send(const ServiceAddress& address);
    void fetched(const Outcome& outcome);
    void finish(const Outcome& outcome);

    Fetch m_fetch;
    std::optional<UserService::Setup> m_setup;
    UserService* m_userService = nullptr; // a child, made on first use
    RunningRequest* m_running = nullptr;  // a child until it has reported
    MakeRequest m_make;
    bool m_toUserService = false;
    bool m_locating = false;  // waiting for this user's service to be found or started
    bool m_relocated = false; // looked for it again after it refused the connection
};

} // namespace yuming
