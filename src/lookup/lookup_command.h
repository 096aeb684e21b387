#pragma once

#include "lookup/lookup.h"
#include "search/command_result.h"
#include "search/fetch.h"
#include "search/service_address.h"

#include <QObject>
#include <QString>

#include <functional>

namespace yuming {

// The window's lookup command (Command2, Enter in Text4) and GetDaoQi, without the window.
class LookupCommand : public QObject {
    Q_OBJECT
public:
    // `logPath` is the file every fetched lookup page is appended to.
    LookupCommand(Fetch& fetch, ServiceAddress service, QString logPath, QObject* parent = nullptr);

    // `Text4` is the domain as typed. `currentText4`, when given, is read again once connected:
    // the request carries the box's text as it reads then.
    CommandResult lookup(const QString& Text4, std::function<QString()> currentText4 = {});

    void setService(const ServiceAddress& service) { m_service = service; }

    // How the last lookup ended, for callers that decide by it rather than by the result text.
    struct End {
        enum class Kind { Registered, NotRegistered, TimedOut, Failed };
        Kind kind = Kind::Failed;
        QString expiry, deletion; // as cut from the page, for a registered name
        QString reason;           // why it failed, in one plain line, where known
    };
    const End& lastEnd() const { return m_end; }
    const QString& logPath() const { return m_logPath; }

Q_SIGNALS:
    void showLookupPanel();                     // show Box3, then hide Box2
    void buttonsLocked(bool locked);            // Enabled = !locked on Command1..Command6, in order
    void statusChanged(const QString& text);    // Label16
    void resultTextChanged(const QString& text);// Text6
    void rowsCleared();                         // ListView1 emptied
    // Why the page could not go into the log, or what was cut off its end first; for stderr.
    void logNotice(const QString& text);
    void finished();                            // after the buttons are unlocked

private:
    void GetDaoQi(std::function<QString()> domain);
    void onFinished(const Outcome& outcome);
    bool logPage(const QString& page);

    Fetch& m_fetch;
    ServiceAddress m_service;
    QString m_logPath;
    End m_end;
};

} // namespace yuming
