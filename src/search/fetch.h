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

// One request and its answer on the tool's own connection. The fetch is driven entirely by the
// socket's and the timers' signals: start() returns at once and finished() reports the outcome,
// so the window keeps running and a reply is handled the moment it arrives.
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

    // Builds the bytes to send once connected; told the address actually connected to.
    using Request = std::function<QByteArray(const ServiceAddress& connectedTo)>;

    // Closes the previous connection and connects anew. `request` is called once connected and
    // returns the bytes to send. Returns false, changing nothing, while a fetch is in flight.
    // For this user's own service (ServiceAddress::userService) the service is found, or
    // started, first; the connect wait begins once its address is known.
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
    Request m_request;
    QString m_problem;
    QString m_connectProblem;   // the last connect attempt's error, reported if the wait runs out
    ServiceAddress m_target;    // where the connection goes
    bool m_locating = false;    // waiting for this user's service to be found or started
    bool m_relocated = false;   // looked for it again after it refused the connection
    UserService* m_userService = nullptr; // a child, made on first use
};

} // namespace yuming
