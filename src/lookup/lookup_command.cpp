#include "lookup/lookup_command.h"

#include "lookup/lookup.h"
#include "lookup/lookup_log.h"
#include "search/request.h"
#include "search/search_commands.h"

namespace yuming {

LookupCommand::LookupCommand(Fetch& fetch, ServiceAddress service, QString logPath, QObject* parent)
    : QObject(parent), m_fetch(fetch), m_service(std::move(service)), m_logPath(std::move(logPath)) {}

CommandResult LookupCommand::lookup(const QString& Text4, std::function<QString()> currentText4) {
    if (m_fetch.inFlight()) return CommandResult::busy();
    if (const auto refusal = checkDomainInput(Text4)) return CommandResult::refused(*refusal);
    Q_EMIT showLookupPanel();
    Q_EMIT buttonsLocked(true);
    if (!currentText4) currentText4 = [Text4] { return Text4; };
    GetDaoQi(std::move(currentText4));
    return CommandResult::started();
}

void LookupCommand::GetDaoQi(std::function<QString()> domain) {
    Q_EMIT rowsCleared();
    Q_EMIT statusChanged(status::kConnecting.toString());
    RunningRequest* running = m_fetch.run(
        m_service, Request::builtOnConnect([this, domain = std::move(domain)](const ServiceAddress& connectedTo) {
            const QString d = domain();
            Q_EMIT resultTextChanged(lookup_text::kQuerying.toString());
            return lookupRequest(d, connectedTo);
        }));
    // The guard in lookup() checked that nothing is in flight.
    Q_ASSERT(running);
    connect(running, &RunningRequest::finished, this, &LookupCommand::onFinished);
}

void LookupCommand::onFinished(const Outcome& outcome) {
    m_end = End{End::Kind::Failed, {}, {}, outcome.reason};
    if (outcome.kind == Outcome::Kind::TimedOut) {
        m_end.kind = End::Kind::TimedOut;
        Q_EMIT statusChanged(status::kConnectTimeout.toString());
        // The status line sits on the hidden search panel; the lookup panel says it too.
        Q_EMIT resultTextChanged(status::kConnectTimeout.toString());
    } else if (!outcome.answered()) {
        Q_EMIT resultTextChanged(status::kFailed.toString());
    } else if (!logPage(outcome.text)) {
        m_end.reason = QStringLiteral("the page could not be added to the log");
        Q_EMIT resultTextChanged(status::kFailed.toString());
    } else {
        const LookupPage page = parseLookupPage(outcome.text);
        if (page.outcome == LookupPage::Outcome::Failed) {
            m_end.reason = QStringLiteral("the answer is not a lookup page");
            Q_EMIT resultTextChanged(status::kFailed.toString());
        } else {
            m_end = page.outcome == LookupPage::Outcome::NotRegistered
                        ? End{End::Kind::NotRegistered, {}, {}, {}}
                        : End{End::Kind::Registered, page.expiry, page.deletion, {}};
            Q_EMIT resultTextChanged(lookupResultText(page));
        }
    }
    Q_EMIT buttonsLocked(false);
    Q_EMIT finished();
}

bool LookupCommand::logPage(const QString& page) {
    const LogAppend logged = appendLookupLog(m_logPath, page);
    if (!logged.repaired.isEmpty()) Q_EMIT logNotice(m_logPath + QStringLiteral(": ") + logged.repaired);
    if (!logged) Q_EMIT logNotice(logged.error);
    return bool(logged);
}

} // namespace yuming
