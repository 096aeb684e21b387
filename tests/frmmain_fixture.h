#pragma once

#include "app/app_settings.h"
#include "app/frmmain.h"
#include "support/script_server.h"
#include "text/gbk.h"

#include <QTemporaryDir>
#include <QTest>

#include <gtest/gtest.h>

#include <memory>

// A window talking to a scripted server on loopback, with its lookup log and what it remembers
// in a temporary folder.
class FrmmainTest : public ::testing::Test {
protected:
    yuming::AppSettings settingsFor(const QString& hostPort) {
        yuming::AppSettings settings;
        settings.service = *yuming::ServiceAddress::parse(hostPort);
        settings.webHost = hostPort;
        settings.homePage = QStringLiteral("http://%1/").arg(hostPort);
        settings.logPath = dir.filePath(QStringLiteral("xxx.txt"));
        settings.statePath = dir.filePath(QStringLiteral("yuming.conf"));
        settings.banner = false;
        return settings;
    }

    void open(const yuming::AppSettings& settings) {
        window = std::make_unique<Frmmain>(settings);
        window->showCentred();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    }
    void open() { open(settingsFor(server.hostPort())); }

    template <class T> T* child(const char* name) const {
        T* found = window->findChild<T*>(QString::fromLatin1(name));
        EXPECT_NE(found, nullptr) << name;
        return found;
    }

    // A search page of `pageCount` pages holding `rows` (domain, length, suffix, deletion time).
    static QByteArray searchPage(const QString& pageCount, const QList<QStringList>& rows) {
        QString body =
            QStringLiteral("<html><head><title>s</title></head><body><p><strong>,&#x5171;") + pageCount +
            QStringLiteral("页</strong></p><table><thead><tr><th>x</th><th class=\"booking\">预订</th>"
                           "</tr></thead><tbody>");
        for (const QStringList& row : rows)
            body += QStringLiteral(
                        "<tr><td><a href=\"/d\" target=_blank>%1</a></td><td>%2</td><td>%3</td><td>%4</td>"
                        "<td>-</td></tr>")
                        .arg(row[0], row[1], row[2], row[3]);
        body += QStringLiteral("</tbody></table></body></html>");
        return ScriptServer::httpAnswer(yuming::toGbk(body));
    }

    QTemporaryDir dir;
    ScriptServer server;
    std::unique_ptr<Frmmain> window;
};
