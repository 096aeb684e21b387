#pragma once

#include "support/service_process.h"

#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <functional>
#include <ostream>

struct sqlite3;

// Readable GoogleTest failure messages for Qt texts.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}
inline void PrintTo(const QStringList& list, std::ostream* out) {
    *out << '[' << list.join('|').toStdString() << ']';
}

namespace yuming::testing {

// The service every test of this binary talks to: 2,000 names, seed 7, started once.
ServiceProcess& sharedService();

// One connection, one request as raw bytes; the answer as received, up to the closing html tag
// or until the service closes the connection.
QByteArray exchange(quint16 port, const QByteArray& request, int timeoutMs = 10000);
// The status code of an answer's status line, or 0 if there is none.
int statusOf(const QByteArray& answer);
// The body of an answer (everything after the empty line).
QByteArray bodyOf(const QByteArray& answer);

// yuming-service run once to its end (killed after `timeoutMs`): its exit code (-1 when it did
// not exit by itself) and what it wrote. `inChild` runs in the child before the program starts.
struct ServiceRun {
    int exitCode = -1;
    QByteArray out, err;
};
ServiceRun runService(const QStringList& arguments, const std::function<void()>& inChild = {},
                      int timeoutMs = 60000);

// The tool's own search and lookup requests to the shared service, answers decoded from GBK.
QString searchAnswer(const QString& queryString);
QString lookupAnswer(const QString& domain);

// Direct reads of the service's database, for the expected results.
class Database {
public:
    explicit Database(const QString& path);
    ~Database();
    Database(const Database&) = delete;
    Database& operator=(const Database&) = delete;
    // Every row of `sql` with `params` bound in order, each column as text.
    QList<QStringList> rows(const QString& sql, const QVariantList& params = {}) const;

private:
    sqlite3* m_db = nullptr;
};

} // namespace yuming::testing
