#pragma once

#include "search/receive_path.h"
#include "search/service_address.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <functional>
#include <memory>

namespace yuming {

class UserService;

// What a request came to: the whole answer, or why there is none.
struct Outcome {
    enum class Kind {
        Answered, // `text` holds the whole answer, decoded
        TimedOut, // no connection within the connect wait
        Failed,   // the connection broke, went silent, took too long or grew too large
    };
    Kind kind = Kind::Failed;
    QString text;
    QString reason; // one plain line, for a script's user; empty for an answer
    bool answered() const { return kind == Kind::Answered; }
};

// A request as a value: the bytes to send, or how to build them once the connection is made
// (for a flow that reads a control only then), told the address actually connected to.
class Request {
public:
    using Build = std::function<QByteArray(const ServiceAddress& connectedTo)>;
    Request() = default;
    static Request bytes(QByteArray bytes) {
        return Request([bytes = std::move(bytes)](const ServiceAddress&) { return bytes; });
    }
    static Request builtOnConnect(Build build) { return Request(std::move(build)); }
    QByteArray build(const ServiceAddress& connectedTo) const { return m_build ? m_build(connectedTo) : QByteArray(); }

private:
    explicit Request(Build build) : m_build(std::move(build)) {}
    Build m_build;
};

// One request on its way. It reports once, with finished(), and is deleted by its connection
// soon after; hold it in a QPointer when keeping it past that signal.
class RunningRequest : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
Q_SIGNALS:
    // Connected; the request is about to be built and sent.
    void connected();
    void finished(const yuming::Outcome& outcome);
};

// The tool's own connection and the one request on it at a time. It is driven entirely by the
// socket's and the timers' signals: run() returns at once and the running request reports its
// outcome, so the window keeps running and a reply is handled the moment it arrives.
class Fetch : public QObject {
    Q_OBJECT
public:
    enum class State {
        Idle,       // never started
        Connecting, // waiting for the connection, at most ConnectTicks ticks of Timer1
        Awaiting,   // request sent, waiting for "</html>"
        Answered,   // RecvText holds the whole answer
        TimedOut,   // no connection within ConnectTicks ticks
        Failed,     // the connection broke, went silent or the answer grew too large
    };
    Q_ENUM(State)

    struct Limits {
        int TickMs = 1000;                       // Timer1's interval
        int ConnectTicks = 15;                   // ticks to wait for the connection
        int SilenceMs = 30000;                   // an answer that stalls this long has failed
        int AnswerMs = 120000;                   // an answer not complete this long after the request has failed
        qsizetype MaxAnswerBytes = 16 * 1024 * 1024;
    };

    explicit Fetch(QObject* parent = nullptr);
    // A request in flight is abandoned: its connection is closed without reporting back.
    ~Fetch() override;

    void setLimits(const Limits& limits) { m_limits = limits; }
    const Limits& limits() const { return m_limits; }

    // Runs `request` on a new connection to `service`. Returns nothing, changing nothing, while
    // a request is in flight: requests run one at a time. For this user's own service
    // (ServiceAddress::userService) the service is found, or started, first; the connect wait
    // begins once its address is known.
    RunningRequest* run(const ServiceAddress& service, yuming::Request request);

    // The same, reported only through this object's own connected() and finished(State).
    using Request = yuming::Request::Build;
    bool start(const ServiceAddress& service, Request request);
    bool start(const ServiceAddress& service, std::function<QByteArray()> request);
    bool inFlight() const { return m_state == State::Connecting || m_state == State::Awaiting; }
    State state() const { return m_state; }

    // The receive state.
    const QString& RecvText() const { return m_recv.RecvText(); }
    const QByteArray& RecvBytes() const { return m_recv.RecvBytes(); }
    bool RecvDone() const { return m_recv.RecvDone(); }
    qint32 Ticks() const { return m_Ticks; }
    // Why the last fetch ended without an answer, in one plain line for a script's user (the
    // window shows only its own texts); empty after an answer or while one is awaited.
    const QString& problem() const { return m_problem; }

    // The finder of this user's own service, made on first use.
    UserService& userService();

Q_SIGNALS:
    // Connected; the request is about to be sent.
    void connected();
    // The fetch has ended with Answered, TimedOut or Failed.
    void finished(yuming::Fetch::State outcome);

private:
    void onTick();
    void onConnected();
    void onReadyRead();
    void onDisconnected();
    void finish(State outcome, QString problem = {});
    void connectTo(const ServiceAddress& address);
    void locate();

    QTcpSocket Winsock1;
    QTimer Timer1;
    QTimer m_silence;
    QTimer m_answer;
    ReceivePath m_recv;
    qint32 m_Ticks = 0;
    Limits m_limits;
    State m_state = State::Idle;
    yuming::Request m_request;
    RunningRequest* m_running = nullptr; // a child until it has reported
    QString m_problem;
    QString m_connectProblem;   // the last connect attempt's error, reported if the wait runs out
    ServiceAddress m_target;    // where the connection goes
    bool m_locating = false;    // waiting for this user's service to be found or started
    bool m_relocated = false;   // looked for it again after it refused the connection
    UserService* m_userService = nullptr; // a child, made on first use
};

} // namespace yuming
