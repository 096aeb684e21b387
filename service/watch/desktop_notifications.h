#pragma once

#include <QObject>
#include <QString>

#include <set>
#include <string>

namespace yuming::service {

// Opens the watchlist when the user takes a notification's default action. The bus posts the
// server's signals to it as events of the thread it was made on, which delivers them with
// DesktopNotifications::deliverSignals(): the service runs no Qt event loop.
class ActionListener : public QObject {
    Q_OBJECT
public:
    explicit ActionListener(QString program) : m_program(std::move(program)) {}
    void offered(unsigned id);

public slots:
    void actionInvoked(unsigned id, const QString& key);
    void notificationClosed(unsigned id, unsigned reason);

private:
    const QString m_program;
    std::set<unsigned> m_offered;
};

// org.freedesktop.Notifications on the session bus. Every call blocks the calling thread (for
// at most a few seconds), so it belongs on a thread of its own, the one it is made and used on.
class DesktopNotifications {
public:
    // `program`: what the default action starts (with --watchlist) when found on PATH; the
    // action is offered only then, and only by a server that lists "actions".
    explicit DesktopNotifications(const std::string& program);
    ~DesktopNotifications();
    DesktopNotifications(const DesktopNotifications&) = delete;
    DesktopNotifications& operator=(const DesktopNotifications&) = delete;

    // Whether there is a session bus at all.
    bool connected() const;
    // Shows one notification; empty, or why it could not be shown.
    std::string show(const std::string& summary, const std::string& body);
    // Whether a default action can be offered, so that the server's signals matter.
    bool listens() const { return m_listener != nullptr; }
    // The server's signals that have come since, on the thread the object was made on.
    void deliverSignals();

private:
    bool offersActions();

    std::string m_program;
    ActionListener* m_listener = nullptr;
};

} // namespace yuming::service
