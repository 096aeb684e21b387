#include "search/fetch.h"

#include <utility>

namespace yuming {

namespace {

QString connectProblem(QAbstractSocket::SocketError error, const QTcpSocket& socket,
                       const ServiceAddress& to) {
    const QString where = to.host + u':' + QString::number(to.port);
    switch (error) {
    case QAbstractSocket::HostNotFoundError:
        return QStringLiteral("the host name %1 did not resolve").arg(to.host);
    case QAbstractSocket::ConnectionRefusedError:
        return QStringLiteral("%1 refused the connection").arg(where);
    default:
        return QStringLiteral("connecting to %1 failed: %2").arg(where, socket.errorString());
    }
}

} // namespace

Fetch::Fetch(QObject* parent)
    : QObject(parent), Winsock1(this), Timer1(this), m_silence(this), m_answer(this) {
    Timer1.setInterval(m_limits.TickMs);
    m_silence.setSingleShot(true);
    m_answer.setSingleShot(true);
    connect(&Timer1, &QTimer::timeout, this, &Fetch::onTick);
    connect(&m_silence, &QTimer::timeout, this, [this] {
        if (m_state == State::Awaiting)
            finish(State::Failed,
                   QStringLiteral("the service sent nothing for %1 s").arg(m_limits.SilenceMs / 1000.0));
    });
    // A server that sends a byte now and then never falls silent; the whole answer has a bound too.
    connect(&m_answer, &QTimer::timeout, this, [this] {
        if (m_state == State::Awaiting)
            finish(State::Failed,
                   QStringLiteral("the answer was not complete within %1 s").arg(m_limits.AnswerMs / 1000.0));
    });
    connect(&Winsock1, &QTcpSocket::connected, this, &Fetch::onConnected);
    connect(&Winsock1, &QTcpSocket::readyRead, this, &Fetch::onReadyRead);
    connect(&Winsock1, &QTcpSocket::disconnected, this, &Fetch::onDisconnected);
    connect(&Winsock1, &QTcpSocket::errorOccurred, this, &Fetch::onError);
}

Fetch::~Fetch() {
    // Closing the socket reports the lost connection; the timers it would reach are gone by the
    // time the socket itself is destroyed, so cut it off first.
    Winsock1.disconnect(this);
    Winsock1.abort();
}

RunningRequest* Fetch::run(const ServiceAddress& address, Request request, OnConnectError onConnectError) {
    if (inFlight()) return nullptr;
    m_request = std::move(request);
    m_onConnectError = onConnectError;
    m_running = new RunningRequest(this);
    m_recv.reset();
    m_recv.setMaxBytes(m_limits.MaxAnswerBytes);
    m_state = State::Connecting;
    m_Ticks = 0;
    m_target = address;
    m_connectProblem.clear();
    // The previous answer's connection is still open; every request gets a new one.
    Winsock1.abort();
    Timer1.setInterval(m_limits.TickMs);
    Timer1.start();
    Winsock1.connectToHost(address.host, address.port);
    return m_running;
}

// A refused or unresolvable connection is not reported early unless asked: the connect wait runs
// its ticks as usual. Once connected, a socket error means the answer is lost.
void Fetch::onError(QAbstractSocket::SocketError error) {
    if (m_state == State::Awaiting) return onDisconnected();
    if (m_state != State::Connecting) return;
    m_connectProblem = connectProblem(error, Winsock1, m_target);
    if (m_onConnectError == OnConnectError::Report) finish(State::ConnectFailed, m_connectProblem);
}

void Fetch::onTick() {
    ++m_Ticks;
    if (m_state == State::Connecting && m_Ticks >= m_limits.ConnectTicks)
        finish(State::TimedOut, m_connectProblem.isEmpty()
                                    ? QStringLiteral("no connection to %1:%2 within %3 s")
                                          .arg(m_target.host)
                                          .arg(m_target.port)
                                          .arg(m_limits.ConnectTicks * m_limits.TickMs / 1000.0)
                                    : m_connectProblem);
}

void Fetch::onConnected() {
    if (m_state != State::Connecting) return;
    Timer1.stop();
    m_state = State::Awaiting;
    if (m_running) Q_EMIT m_running->connected();
    const QByteArray bytes = m_request.build();
    if (m_state != State::Awaiting) return;
    m_silence.start(m_limits.SilenceMs);
    m_answer.start(m_limits.AnswerMs);
    if (Winsock1.write(bytes) != bytes.size())
        finish(State::Failed, QStringLiteral("the request could not be sent"));
}
void Fetch::onReadyRead() {
    const QByteArray bytes = Winsock1.readAll();
    if (m_state != State::Awaiting || bytes.isEmpty()) return;
    m_silence.start(m_limits.SilenceMs);
    switch (m_recv.feed(bytes)) {
    case ReceivePath::Feed::More:
        return;
    case ReceivePath::Feed::Done:
        finish(State::Answered);
        return;
    case ReceivePath::Feed::TooLarge:
        finish(State::Failed, QStringLiteral("the answer grew past %1 bytes").arg(m_limits.MaxAnswerBytes));
        return;
    }
}

void Fetch::onDisconnected() {
    if (m_state != State::Awaiting) return;
    // The last bytes may come together with the close.
    if (Winsock1.bytesAvailable() > 0) onReadyRead();
    if (m_state == State::Awaiting)
        finish(State::Failed,
               QStringLiteral("the service closed the connection before the answer was complete"));
}

void Fetch::finish(State outcome, QString problem) {
    m_state = outcome;
    Timer1.stop();
    m_silence.stop();
    m_answer.stop();
    // An answered connection stays open until the next request closes it; any other is done.
    if (outcome != State::Answered) Winsock1.abort();
    // Taken first: a slot of finished() may already start the next request.
    RunningRequest* running = std::exchange(m_running, nullptr);
    if (!running) return;
    Q_EMIT running->finished(
        Outcome{outcome, outcome == State::Answered ? RecvText() : QString(), std::move(problem)});
    running->deleteLater();
}

} // namespace yuming
