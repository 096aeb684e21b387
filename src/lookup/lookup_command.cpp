#include "lookup/lookup_command.h"

#include "lookup/lookup.h"
#include "lookup/lookup_log.h"
#include "search/request.h"
#include "search/search_commands.h"
#include "search/service_link.h"

#include <algorithm>

namespace yuming {

namespace {

// The service's own error page says its status and why in "<h1>STATUS</h1><p>MESSAGE</p>" (the
// message HTML-escaped): "502: The registry could not be reached ...". Empty for any other page.
QString errorPageReason(QStringView text) {
    const qsizetype head = text.indexOf(u"<h1>");
    const qsizetype headEnd = head < 0 ? -1 : text.indexOf(u"</h1><p>", head);
    const qsizetype end = headEnd < 0 ? -1 : text.indexOf(u"</p>", headEnd);
    if (end < 0) return {};
    const QStringView status = text.sliced(head + 4, headEnd - head - 4);
    if (status.size() != 3 || !std::all_of(status.begin(), status.end(), [](QChar c) { return c.isDigit(); }))
        return {};
    QString message = text.sliced(headEnd + 8, end - headEnd - 8).toString();
    for (const auto& [escaped, plain] :
         {std::pair{u"&lt;", u"<"}, std::pair{u"&gt;", u">"}, std::pair{u"&quot;", u"\""},
          std::pair{u"&#39;", u"'"}, std::pair{u"&amp;", u"&"}})
        message.replace(QString::fromUtf16(escaped), QString::fromUtf16(plain));
    return status.toString() + QStringLiteral(": ") + message;
}

} // namespace

LookupCommand::LookupCommand(ServiceLink& link, ServiceAddress service, QString logPath, QObject* parent)
    : QObject(parent), m_link(link), m_service(std::move(service)), m_logPath(std::move(logPath)) {}

CommandResult LookupCommand::lookup(const QString& domain, std::function<QString()> domainAtConnect) {
    if (m_link.inFlight()) return CommandResult::busy();
    if (const auto refusal = checkDomainInput(domain)) return CommandResult::refused(*refusal);
    Q_EMIT showLookupPanel();
    Q_EMIT buttonsLocked(true);
    if (!domainAtConnect) domainAtConnect = [domain] { return domain; };
    GetDaoQi(std::move(domainAtConnect));
    return CommandResult::started();
}

void LookupCommand::GetDaoQi(std::function<QString()> domain) {
    Q_EMIT rowsCleared();
    Q_EMIT statusChanged(status::kConnecting.toString());
    RunningRequest* running =
        m_link.run(m_service, [domain = std::move(domain)](const ServiceAddress& address) {
            return Request::builtOnConnect(
                [domain, address] { return lookupRequest(LookupRequest{domain()}, address); });
        });
    // The guard in lookup() checked that nothing is in flight.
    Q_ASSERT(running);
    connect(running, &RunningRequest::connected, this,
            [this] { Q_EMIT resultTextChanged(lookup_text::kQuerying.toString()); });
    connect(running, &RunningRequest::finished, this, &LookupCommand::onFinished);
}

void LookupCommand::onFinished(const Outcome& outcome) {
    LookupResult result{LookupResult::Kind::Failed, {}, {}, outcome.reason};
    if (outcome.unreached()) {
        result.kind = outcome.kind == Outcome::Kind::TimedOut ? LookupResult::Kind::TimedOut
                                                              : LookupResult::Kind::NoService;
        Q_EMIT statusChanged(status::kConnectTimeout.toString());
        // The status line sits on the hidden search panel; the lookup panel says it too.
        Q_EMIT resultTextChanged(status::kConnectTimeout.toString());
    } else if (!outcome.answered()) {
        Q_EMIT resultTextChanged(status::kFailed.toString());
    } else {
        result = readAnswer(outcome.text);
    }
    Q_EMIT buttonsLocked(false);
    Q_EMIT finished(result);
}

LookupResult LookupCommand::readAnswer(const QString& text) {
    if (!logPage(text)) {
        Q_EMIT resultTextChanged(status::kFailed.toString());
        return {LookupResult::Kind::Failed, {}, {}, QStringLiteral("the page could not be added to the log")};
    }
    const LookupPage page = parseLookupPage(text);
    if (page.outcome == LookupPage::Outcome::Failed) {
        const QString served = errorPageReason(text);
        const QString reason = served.isEmpty() ? QStringLiteral("the answer is not a lookup page")
                                                : QStringLiteral("the service answered ") + served;
        // Before the failure text, as a log that cannot be written is said.
        if (!served.isEmpty()) Q_EMIT logNotice(reason);
        Q_EMIT resultTextChanged(status::kFailed.toString());
        return {LookupResult::Kind::Failed, {}, {}, reason};
    }
    Q_EMIT resultTextChanged(lookupResultText(page));
    if (page.outcome == LookupPage::Outcome::NotRegistered)
        return {LookupResult::Kind::NotRegistered, {}, {}, {}};
    return {LookupResult::Kind::Registered, page.expiry, page.deletion, {}};
}

bool LookupCommand::logPage(const QString& page) {
    const LogAppend logged = appendLookupLog(m_logPath, page);
    if (!logged.repaired.isEmpty()) Q_EMIT logNotice(m_logPath + QStringLiteral(": ") + logged.repaired);
    if (!logged) Q_EMIT logNotice(logged.error);
    return bool(logged);
}

} // namespace yuming
