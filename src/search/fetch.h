#pragma once

#include "search/receive_path.h"
#include "search/service_address.h"

#include <QByteArray>
#include <QObject>
#include <QString>
#include <QTcpSocket>
#include <QTimer>

#include <functional>

namespace yuming {

// Where a request stands. The last five are how it ended.
enum class FetchState {
    Idle,          // never started
    Connecting,    // waiting for the connection, at most ConnectTicks ticks of Timer1
    Awaiting,      // request sent, waiting for "</html>"
    Answered,      // the whole answer is here
    TimedOut,      // no connection within the connect wait
    Failed,        // the connection broke, went silent, took too long or grew too large
    ConnectFailed, // the connection failed at once, for a caller that asked to hear of it
    NoService,     // this user's own service could not be found or started
};

// What a request came to: the whole answer, or why there is none.
struct Outcome {
    using Kind = FetchState;
    Kind kind = Kind::Failed;
    QString text;
    QString reason; // one plain line, for a script's user; empty for an answer
    bool answered() const { return kind == Kind::Answered; }
    // No service to talk to: none answered the connection in time, or this user's could not be
    // started. The window has one text for both.
    bool unreached() const { return kind == Kind::TimedOut || kind == Kind::NoService; }
};

// A request as a value: its bytes, or how to make them once the connection is made (for a flow
// that reads a control only then).
class Request {
public:
    using Build = std::function<QByteArray()>;
    Request() = default;
    static Request bytes(QByteArray bytes) {
        return Request([bytes = std::move(bytes)] { return bytes; });
    }
    static Request builtOnConnect(Build build) { return Request(std::move(build)); }
    QByteArray build() const { return m_build ? m_build() : QByteArray(); }

private:
    explicit Request(Build build) : m_build(std::move(build)) {}
    Build m_build;
};

// One request on its way. It reports once, with finished(), and is deleted by its owner soon
// after; hold it in a QPointer when keeping it past that signal.
class RunningRequest : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;
Q_SIGNALS:
    // Connected; the request is about to be built and sent.
    void connected();
    void finished(const yuming::Outcome& outcome);
};

// The tool's connection to an address known beforehand and the one request on it at a time. It is
// driven entirely by the socket's and the timers' signals: run() returns at once and the running
// request reports its outcome, so the window keeps running and a reply is handled the moment it
// arrives.
class Fetch : public QObject {
    Q_OBJECT
public:
    using State = FetchState;

    struct Limits {
        int TickMs = 1000;     // Timer1's interval
        int ConnectTicks = 15; // ticks to wait for the connection
        int SilenceMs = 30000; // an answer that stalls this long has failed
        int AnswerMs = 120000; // an answer not complete this long after the request has failed
        qsizetype MaxAnswerBytes = 16 * 1024 * 1024;
    };

    // What a failed connection attempt does: nothing early (the connect wait runs out as usual),
    // or end the request as ConnectFailed at once.
    enum class OnConnectError { Wait, Report };

    explicit Fetch(QObject* parent = nullptr);
    // A request in flight is abandoned: its connection is closed without reporting back.
    ~Fetch() override;

    void setLimits(const Limits& limits) { m_limits = limits; }
    const Limits& limits() const { return m_limits; }

    // Runs `request` on a new connection to `address`. Returns nothing, changing nothing, while
    // a request is in flight: requests run one at a time.
    RunningRequest* run(const ServiceAddress& address, Request request,
                        OnConnectError onConnectError = OnConnectError::Wait);
    bool inFlight() const { return m_state == State::Connecting || m_state == State::Awaiting; }
    State state() const { return m_state; }

    // The receive state.
    const QString& RecvText() const { return m_recv.RecvText(); }
    const QByteArray& RecvBytes() const { return m_recv.RecvBytes(); }
    bool RecvDone() const { return m_recv.RecvDone(); }
    qint32 Ticks() const { return m_Ticks; }

private:
    void onTick();
    void onConnected();
    void onReadyRead();
    void onDisconnected();
    void onError(QAbstractSocket::SocketError error);
    void finish(State outcome, QString problem = {});

    QTcpSocket Winsock1;
    QTimer Timer1;
    QTimer m_silence;
    QTimer m_answer;
    ReceivePath m_recv;
    qint32 m_Ticks = 0;
    Limits m_limits;
    State m_state = State::Idle;
    Request m_request;
    OnConnectError m_onConnectError = OnConnectError::Wait;
    RunningRequest* m_running = nullptr; // a child until it has reported
    QString m_connectProblem;            // the last connect attempt's error, reported if the wait runs out
    ServiceAddress m_target;             // where the connection goes
};

} // namespace yuming
