#include "search/service_link.h"

#include <utility>

namespace yuming {

ServiceLink::ServiceLink(QObject* parent) : QObject(parent), m_fetch(this) {}

ServiceLink::ServiceLink(UserService::Setup setup, QObject* parent)
    : QObject(parent), m_fetch(this), m_setup(std::move(setup)) {}

ServiceLink::~ServiceLink() = default;

RunningRequest* ServiceLink::run(const ServiceAddress& service, MakeRequest make) {
    if (inFlight()) return nullptr;
    m_running = new RunningRequest(this);
    m_make = std::move(make);
    m_toUserService = service.userService;
    m_locating = false;
    m_relocated = false;
    if (!service.userService) {
        send(service);
    } else if (const auto address = userService().running()) {
        send(ServiceAddress{address->host, address->port, true});
    } else {
        locate();
    }
    return m_running;
}

UserService& ServiceLink::userService() {
    if (m_userService) return *m_userService;
    m_userService = m_setup ? new UserService(*m_setup, this) : new UserService(this);
    connect(m_userService, &UserService::ready, this, [this](const ServiceAddress& address) {
        if (!m_locating) return;
        m_locating = false;
        send(ServiceAddress{address.host, address.port, true});
    });
    connect(m_userService, &UserService::failed, this, [this](const QString& reason) {
        if (!m_locating) return;
        m_locating = false;
        finish(Outcome{
            FetchState::NoService, {}, QStringLiteral("yuming-service could not be started: ") + reason});
    });
    return *m_userService;
}

void ServiceLink::locate() {
    m_locating = true;
    userService().ensure();
}

void ServiceLink::send(const ServiceAddress& address) {
    // Only the first address found for this user's service is worth looking past.
    const auto onConnectError =
        m_toUserService && !m_relocated ? Fetch::OnConnectError::Report : Fetch::OnConnectError::Wait;
    RunningRequest* running = m_fetch.run(address, m_make(address), onConnectError);
    // Only this link runs requests on its fetch, one at a time.
    Q_ASSERT(running);
    connect(running, &RunningRequest::connected, m_running, &RunningRequest::connected);
    connect(running, &RunningRequest::finished, this, &ServiceLink::fetched);
}

void ServiceLink::fetched(const Outcome& outcome) {
    if (outcome.kind != FetchState::ConnectFailed) return finish(outcome);
    m_relocated = true;
    locate();
}

void ServiceLink::finish(const Outcome& outcome) {
    // Taken first: a slot of finished() may already start the next request.
    RunningRequest* running = std::exchange(m_running, nullptr);
    Q_EMIT ended(outcome);
    if (!running) return;
    Q_EMIT running->finished(outcome);
    running->deleteLater();
}

} // namespace yuming
