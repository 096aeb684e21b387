#include "watch/watch_client.h"

#include <QJsonDocument>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>
#include <QUrl>

#include <utility>

namespace yuming::watch {
namespace {

QUrl urlOf(const ServiceAddress& address, const QString& path) {
    QUrl url(path);
    url.setScheme(QStringLiteral("http"));
    url.setHost(address.host);
    url.setPort(address.port);
    return url;
}

constexpr char kTooLong[] = "yumingTooLong";

WatchAnswer failed(const QString& why) {
    return {WatchAnswer::Kind::Failed, 0, {}, why};
}

// The service's reason for a refusal, or the status when it gave none.
QString refusalText(int status, const QJsonObject& json) {
    const QString error = json.value(QLatin1String("error")).toString();
    return error.isEmpty() ? QStringLiteral("the service answered %1").arg(status) : error;
}

} // namespace

WatchClient::WatchClient(ServiceAddress service, QByteArray token, QObject* parent)
    : QObject(parent), m_manager(this), m_service(std::move(service)), m_token(std::move(token)) {
    // The token is for the service alone: never through a proxy, never along a redirect.
    m_manager.setProxy(QNetworkProxy::NoProxy);
    m_manager.setRedirectPolicy(QNetworkRequest::ManualRedirectPolicy);
}

WatchClient::WatchClient(ServiceAddress service, QByteArray token, UserService::Setup setup, QObject* parent)
    : WatchClient(std::move(service), std::move(token), parent) {
    m_setup = std::move(setup);
}

UserService& WatchClient::userService() {
    if (m_userService) return *m_userService;
    m_userService = m_setup ? new UserService(*m_setup, this) : new UserService(this);
    connect(m_userService, &UserService::ready, this, [this] {
        for (Pending& pending : std::exchange(m_waiting, {}))
            dispatch(std::move(pending));
    });
    connect(m_userService, &UserService::failed, this, [this](const QString& reason) {
        for (const Pending& pending : std::exchange(m_waiting, {}))
            finish(pending, failed(QStringLiteral("yuming-service could not be started: ") + reason));
    });
    return *m_userService;
}

WatchReply* WatchClient::send(WatchCall call) {
    auto* reply = new WatchReply(this);
    Pending pending{std::move(call), reply};
    if (!m_service.userService) {
        // Sent from the event loop, so a reply never reports before its caller has it.
        QTimer::singleShot(0, this, [this, pending] { post(m_service, m_token, pending); });
        return reply;
    }
    m_waiting.append(std::move(pending));
    userService().ensure();
    return reply;
}

void WatchClient::dispatch(Pending pending) {
    const auto record = userService().record();
    if (!record) {
        m_waiting.append(std::move(pending));
        userService().ensure();
        return;
    }
    if (record->token.isEmpty())
        return finish(pending, failed(QStringLiteral("this user's yuming-service keeps no watchlist (it "
                                                     "recorded no token); restart it")));
    post(ServiceAddress{record->host, record->port, true}, record->token, std::move(pending));
}

void WatchClient::post(const ServiceAddress& address, const QByteArray& token, Pending pending) {
    if (!pending.reply) return;
    QNetworkRequest request(urlOf(address, pending.call.path));
    // The service takes the API only from a Host that names its own port, even port 80, which
    // Qt would leave out.
    const QString host = address.host.contains(u':') ? u'[' + address.host + u']' : address.host;
    request.setRawHeader("Host", (host + u':' + QString::number(address.port)).toUtf8());
    if (!token.isEmpty()) request.setRawHeader("Authorization", "Bearer " + token);
    request.setTransferTimeout(pending.call.timeoutMs);
    QNetworkReply* network = nullptr;
    if (pending.call.method == WatchCall::Method::Post) {
        request.setHeader(QNetworkRequest::ContentTypeHeader, QByteArray("application/json"));
        network = m_manager.post(request, pending.call.body);
    } else {
        network = m_manager.get(request);
    }
    connect(network, &QNetworkReply::downloadProgress, network, [network](qint64 received, qint64) {
        if (received <= kLongestAnswer) return;
        network->setProperty(kTooLong, true);
        network->abort();
    });
    connect(network, &QNetworkReply::finished, this,
            [this, network, pending = std::move(pending)] { received(network, pending); });
}

void WatchClient::received(QNetworkReply* network, Pending pending) {
    network->deleteLater();
    if (network->property(kTooLong).toBool())
        return finish(pending, failed(QStringLiteral("the service's answer is too long")));
    const QVariant statusAttribute = network->attribute(QNetworkRequest::HttpStatusCodeAttribute);
    const QNetworkReply::NetworkError error = network->error();
    // Qt ends a transfer that went quiet for its timeout by cancelling it.
    const bool timedOut =
        error == QNetworkReply::OperationCanceledError || error == QNetworkReply::TimeoutError;
    if (!statusAttribute.isValid()) {
        if (error == QNetworkReply::ConnectionRefusedError && m_service.userService && !pending.relocated) {
            pending.relocated = true;
            m_waiting.append(std::move(pending));
            userService().ensure();
            return;
        }
        if (timedOut)
            return finish(pending, failed(QStringLiteral("the service did not answer within %1 s")
                                              .arg(pending.call.timeoutMs / 1000)));
        return finish(pending, failed(network->errorString()));
    }
    const int status = statusAttribute.toInt();
    if (timedOut)
        return finish(pending, failed(QStringLiteral("the service did not finish its answer within %1 s")
                                          .arg(pending.call.timeoutMs / 1000)));
    const QByteArray body = network->readAll();
    const QJsonDocument document = QJsonDocument::fromJson(body);
    const QJsonObject json = document.object();
    if (status >= 200 && status < 300) {
        if (!document.isObject())
            return finish(pending, failed(QStringLiteral("the service's answer is not JSON")));
        return finish(pending, {WatchAnswer::Kind::Answered, status, json, {}});
    }
    finish(pending, {WatchAnswer::Kind::Refused, status, json, refusalText(status, json)});
}

void WatchClient::finish(const Pending& pending, const WatchAnswer& answer) {
    if (!pending.reply) return;
    Q_EMIT pending.reply->finished(answer);
    pending.reply->deleteLater();
}

} // namespace yuming::watch
