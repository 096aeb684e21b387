#include "watch/desktop_notifications.h"

#include <QCoreApplication>
#include <QDBusConnection>
#include <QDBusMessage>
#include <QDBusVariant>
#include <QProcess>
#include <QStandardPaths>
#include <QVariantMap>

namespace yuming::service {

namespace {

const QString kService = QStringLiteral("org.freedesktop.Notifications");
const QString kPath = QStringLiteral("/org/freedesktop/Notifications");
const QString kInterface = QStringLiteral("org.freedesktop.Notifications");
constexpr int kCallTimeoutMs = 5000;

QDBusMessage call(const QString& method, const QList<QVariant>& arguments = {}) {
    QDBusMessage message = QDBusMessage::createMethodCall(kService, kPath, kInterface, method);
    message.setArguments(arguments);
    return QDBusConnection::sessionBus().call(message, QDBus::Block, kCallTimeoutMs);
}

QString foundProgram(const std::string& program) {
    if (program.empty()) return {};
    return QStandardPaths::findExecutable(QString::fromStdString(program));
}

} // namespace

void ActionListener::offered(unsigned id) {
    m_offered.insert(id);
}

void ActionListener::actionInvoked(unsigned id, const QString& key) {
    // The server tells every client of every action: only ours, once.
    if (key != QLatin1String("default") || m_offered.erase(id) == 0) return;
    QProcess::startDetached(m_program, {QStringLiteral("--watchlist")});
}

void ActionListener::notificationClosed(unsigned id, unsigned) {
    m_offered.erase(id);
}

DesktopNotifications::DesktopNotifications(const std::string& program) : m_program(program) {
    QDBusConnection bus = QDBusConnection::sessionBus();
    const QString found = foundProgram(program);
    if (!bus.isConnected() || found.isEmpty()) return;
    m_listener = new ActionListener(found);
    bus.connect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), m_listener,
                SLOT(actionInvoked(uint, QString)));
    bus.connect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), m_listener,
                SLOT(notificationClosed(uint, uint)));
}

DesktopNotifications::~DesktopNotifications() {
    if (!m_listener) return;
    QDBusConnection bus = QDBusConnection::sessionBus();
    bus.disconnect(kService, kPath, kInterface, QStringLiteral("ActionInvoked"), m_listener,
                   SLOT(actionInvoked(uint, QString)));
    bus.disconnect(kService, kPath, kInterface, QStringLiteral("NotificationClosed"), m_listener,
                   SLOT(notificationClosed(uint, uint)));
    delete m_listener;
}

void DesktopNotifications::deliverSignals() {
    if (m_listener) QCoreApplication::sendPostedEvents(m_listener);
}

bool DesktopNotifications::connected() const {
    return QDBusConnection::sessionBus().isConnected();
}

bool DesktopNotifications::offersActions() {
    if (!m_listener) return false;
    const QDBusMessage reply = call(QStringLiteral("GetCapabilities"));
    return reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty() &&
           reply.arguments().front().toStringList().contains(QStringLiteral("actions"));
}

std::string DesktopNotifications::show(const std::string& summary, const std::string& body) {
    if (!connected()) return "no session bus";
    const bool withAction = offersActions();
    const QStringList actions =
        withAction ? QStringList{QStringLiteral("default"), QStringLiteral("打开关注列表")} : QStringList{};
    const QVariantMap hints{{QStringLiteral("desktop-entry"), QStringLiteral("yuming")}};
    const QDBusMessage reply =
        call(QStringLiteral("Notify"),
             {QStringLiteral("yuming"), 0u, QStringLiteral("yuming"), QString::fromStdString(summary),
              QString::fromStdString(body), actions, hints, -1});
    if (reply.type() != QDBusMessage::ReplyMessage) return reply.errorMessage().toStdString();
    if (withAction && !reply.arguments().isEmpty()) m_listener->offered(reply.arguments().front().toUInt());
    return {};
}

} // namespace yuming::service
