#include "service_test_util.h"

#include "search/request.h"
#include "text/gbk.h"

#include <QProcess>
#include <QTcpSocket>

#include <gtest/gtest.h>
#include <sqlite3.h>

namespace yuming::testing {

namespace {

ServiceProcess* g_service = nullptr;

// Starts the service before the first test and stops it after the last, while the
// application object still exists.
class ServiceEnvironment : public ::testing::Environment {
public:
    void SetUp() override {
        m_service = std::make_unique<ServiceProcess>();
        ASSERT_TRUE(m_service->start()) << m_service->error().toStdString();
        g_service = m_service.get();
    }
    void TearDown() override {
        g_service = nullptr;
        m_service.reset();
    }

private:
    std::unique_ptr<ServiceProcess> m_service;
};

// GoogleTest owns the environments it is given.
[[maybe_unused]] auto* const g_environment = ::testing::AddGlobalTestEnvironment(new ServiceEnvironment);

ServiceAddress addressOf(const ServiceProcess& service) {
    return {service.host(), service.port()};
}

} // namespace

ServiceProcess& sharedService() {
    return *g_service;
}

QByteArray exchange(quint16 port, const QByteArray& request, int timeoutMs) {
    QTcpSocket socket;
    socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    if (!socket.waitForConnected(timeoutMs)) return {};
    socket.write(request);
    QByteArray answer;
    while (!answer.contains("</html>")) {
        if (!socket.waitForReadyRead(timeoutMs)) break;
        answer += socket.readAll();
    }
    return answer;
}

int statusOf(const QByteArray& answer) {
    if (!answer.startsWith("HTTP/1.1 ")) return 0;
    return answer.mid(9, 3).toInt();
}

ServiceRun runService(const QStringList& arguments, const std::function<void()>& inChild, int timeoutMs) {
    QProcess process;
    if (inChild) process.setChildProcessModifier(inChild);
    process.start(ServiceProcess::program(), arguments);
    if (!process.waitForFinished(timeoutMs)) process.kill();
    process.waitForFinished();
    return {process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1,
            process.readAllStandardOutput(), process.readAllStandardError()};
}

QByteArray bodyOf(const QByteArray& answer) {
    const auto end = answer.indexOf("\r\n\r\n");
    return end < 0 ? QByteArray() : answer.mid(end + 4);
}

QString searchAnswer(const QString& queryString) {
    const ServiceProcess& service = sharedService();
    return fromGbk(exchange(service.port(), searchRequest(queryString, addressOf(service))));
}

QString lookupAnswer(const QString& domain) {
    const ServiceProcess& service = sharedService();
    return fromGbk(exchange(service.port(), lookupRequest(domain, addressOf(service))));
}

Database::Database(const QString& path) {
    if (sqlite3_open_v2(path.toUtf8().constData(), &m_db, SQLITE_OPEN_READONLY, nullptr) != SQLITE_OK) {
        sqlite3_close(m_db);
        m_db = nullptr;
        return;
    }
    // The service may be storing its search index at that moment.
    sqlite3_busy_timeout(m_db, 10000);
}

Database::~Database() {
    sqlite3_close(m_db);
}

QList<QStringList> Database::rows(const QString& sql, const QVariantList& params) const {
    QList<QStringList> out;
    sqlite3_stmt* statement = nullptr;
    const QByteArray text = sql.toUtf8();
    if (!m_db || sqlite3_prepare_v2(m_db, text.constData(), -1, &statement, nullptr) != SQLITE_OK) {
        ADD_FAILURE() << "cannot prepare " << text.constData() << ": "
                      << (m_db ? sqlite3_errmsg(m_db) : "no db");
        return out;
    }
    for (int i = 0; i < params.size(); ++i) {
        if (params[i].typeId() == QMetaType::Int || params[i].typeId() == QMetaType::LongLong)
            sqlite3_bind_int64(statement, i + 1, params[i].toLongLong());
        else
            sqlite3_bind_text(statement, i + 1, params[i].toString().toUtf8().constData(), -1,
                              SQLITE_TRANSIENT);
    }
    while (sqlite3_step(statement) == SQLITE_ROW) {
        QStringList row;
        for (int c = 0; c < sqlite3_column_count(statement); ++c)
            row << QString::fromUtf8(reinterpret_cast<const char*>(sqlite3_column_text(statement, c)));
        out << row;
    }
    sqlite3_finalize(statement);
    return out;
}

} // namespace yuming::testing
