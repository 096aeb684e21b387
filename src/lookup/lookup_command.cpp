#include "lookup/lookup_command.h"

#include "lookup/lookup.h"
#include "lookup/lookup_log.h"
#include "search/request.h"
#include "search/search_commands.h"

namespace yuming {

LookupCommand::LookupCommand(Fetch& fetch, ServiceAddress service, QString logPath, QObject* parent)
    : QObject(parent), m_fetch(fetch), m_service(std::move(service)), m_logPath(std::move(logPath)) {
    connect(&m_fetch, &Fetch::finished, this, &LookupCommand::onFinished);
}

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
    m_running = true;
    const ServiceAddress service = m_service;
    m_fetch.start(service, Fetch::Request([this, domain = std::move(domain)](const ServiceAddress& connectedTo) {
                      const QString d = domain();
                      Q_EMIT resultTextChanged(lookup_text::kQuerying.toString());
                      return lookupRequest(d, connectedTo);
                  }));
}

void LookupCommand::onFinished(Fetch::State outcome) {
    if (!m_running) return;
    m_running = false;
    if (outcome == Fetch::State::TimedOut) {
        Q_EMIT statusChanged(status::kConnectTimeout.toString());
        // The status line sits on the hidden search panel; the lookup panel says it too.
        Q_EMIT resultTextChanged(status::kConnectTimeout.toString());
    } else if (outcome != Fetch::State::Answered || !logPage()) {
        Q_EMIT resultTextChanged(status::kFailed.toString());
    } else {
        const LookupPage page = parseLookupPage(m_fetch.RecvText());
        Q_EMIT resultTextChanged(page.outcome == LookupPage::Outcome::Failed ? status::kFailed.toString()
                                                                            : lookupResultText(page));
    }
    Q_EMIT buttonsLocked(false);
    Q_EMIT finished();
}

bool LookupCommand::logPage() {
    const LogAppend logged = appendLookupLog(m_logPath, m_fetch.RecvText());
    if (!logged.repaired.isEmpty()) Q_EMIT logNotice(m_logPath + QStringLiteral(": ") + logged.repaired);
    if (!logged) Q_EMIT logNotice(logged.error);
    return bool(logged);
}

} // namespace yuming
