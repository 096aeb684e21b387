#pragma once

#include "lookup/lookup.h"
#include "search/command_result.h"
#include "search/fetch.h"
#include "search/service_address.h"

#include <QObject>
#include <QString>

#include <functional>

namespace yuming {

class ServiceLink;

// How a lookup ended, for callers that decide by it rather than by the result text.
struct LookupResult {
    enum class Kind { Registered, NotRegistered, TimedOut, NoService, Failed };
    Kind kind = Kind::Failed;
    QString expiry, deletion; // as cut from the page, for a registered name
    QString reason;           // why it failed, in one plain line, where known
    bool answered() const { return kind == Kind::Registered || kind == Kind::NotRegistered; }
};

// The lookup command and GetDaoQi, without the window.
class LookupCommand : public QObject {
    Q_OBJECT
public:
    // `logPath` is the file every fetched lookup page is appended to.
    LookupCommand(ServiceLink& link, ServiceAddress service, QString logPath, QObject* parent = nullptr);

    // `domain` is the domain as typed. `domainAtConnect`, when given, is read again once
    // connected: the request carries the domain as the input reads then.
    CommandResult lookup(const QString& domain, std::function<QString()> domainAtConnect = {});

    void setService(const ServiceAddress& service) { m_service = service; }
    const QString& logPath() const { return m_logPath; }

Q_SIGNALS:
    // The lookup's result takes the place of the result list.
    void showLookupPanel();
    // While a request runs every command is locked, the search's too.
    void buttonsLocked(bool locked);
    void statusChanged(const QString& text);
    // The lookup's result text, or what it is doing or why it failed.
    void resultTextChanged(const QString& text);
    void rowsCleared();
    // Why the page could not go into the log, or what was cut off its end first, or the reason on
    // the service's error page that came instead of a lookup page; for stderr.
    void logNotice(const QString& text);
    // After the commands are unlocked again.
    void finished(const yuming::LookupResult& result);

private:
    void GetDaoQi(std::function<QString()> domain);
    void onFinished(const Outcome& outcome);
    LookupResult readAnswer(const QString& text);
    bool logPage(const QString& page);

    ServiceLink& m_link;
    ServiceAddress m_service;
    QString m_logPath;
};

} // namespace yuming
