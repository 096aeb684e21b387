#pragma once

#include "search/service_address.h"
#include "search/user_service.h"
#include "watch/watch_call.h"

#include <QByteArray>
#include <QJsonObject>
#include <QList>
#include <QNetworkAccessManager>
#include <QObject>
#include <QPointer>

#include <optional>

class QNetworkReply;

namespace yuming::watch {

// How one call ended.
struct WatchAnswer {
    enum class Kind {
        Answered, // 2xx with a JSON object: `json`
        Refused,  // the service said no: `status` and its reason in `error` (and `json`)
        Failed,   // no answer: why in `error`
    };
    Kind kind = Kind::Failed;
    int status = 0;
    QJsonObject json;
    QString error;
};

// One call on its way; reports once, then goes away by itself.
class WatchReply : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
Q_SIGNALS:
    void finished(const yuming::watch::WatchAnswer& answer);
};

// The service's watch API over Qt's HTTP client. Every call carries the service's token. This
// user's own service (ServiceAddress::userService) is found or started first, its address and
// token read from its record, and looked for once more when its address refuses the connection
// (it left after a long idle time); any other address is used as it is, with the token given.
class WatchClient : public QObject {
    Q_OBJECT
public:
    WatchClient(ServiceAddress service, QByteArray token, QObject* parent = nullptr);
    // This user's service as `setup` says, rather than as the environment does.
    WatchClient(ServiceAddress service, QByteArray token, UserService::Setup setup,
                QObject* parent = nullptr);

    // Calls may overlap; each reply reports once, never from inside this call.
    WatchReply* send(WatchCall call);

    // Answers larger than this are not read to their end.
    static constexpr qint64 kLongestAnswer = 64 * 1024 * 1024;

private:
    struct Pending {
        WatchCall call;
        QPointer<WatchReply> reply;
        bool relocated = false;
    };
    UserService& userService();
    void dispatch(Pending pending);
    void post(const ServiceAddress& address, const QByteArray& token, Pending pending);
    void received(QNetworkReply* network, Pending pending);
    static void finish(const Pending& pending, const WatchAnswer& answer);

    QNetworkAccessManager m_manager;
    ServiceAddress m_service;
    QByteArray m_token;
    std::optional<UserService::Setup> m_setup;
    UserService* m_userService = nullptr; // a child, made on first use
    QList<Pending> m_waiting;             // for this user's service to be found or started
};

} // namespace yuming::watch
