#include "frmmain_fixture.h"

#include "app/banner.h"

#include <QApplication>
#include <QSignalSpy>

TEST_F(FrmmainTest, BannerLoadsAfterTheWindowIsShownAndNeverOpensADialog) {
    // The page tries every dialog it can; the title says the script ran to its end.
    server.setScript({ScriptServer::send(
        ScriptServer::httpAnswer("<html><head><title>banner</title></head><body>banner<script>"
                                 "alert('a'); var c = confirm('c'); var p = prompt('p', 'x');"
                                 "document.title = 'ran ' + c + ' ' + p;</script></body></html>"))});
    yuming::AppSettings settings = settingsFor(server.hostPort());
    settings.banner = true;
    window = std::make_unique<Frmmain>(settings);
    auto* web = child<Banner>("Web");
    QStringList events;
    QObject::connect(window.get(), &Frmmain::shown, window.get(), [&] { events << "shown"; });
    QObject::connect(web, &Banner::viewCreated, window.get(), [&] { events << "browser"; });
    QSignalSpy loaded(web, &Banner::loadFinished);
    window->showCentred();

    ASSERT_TRUE(loaded.wait(30000));
    EXPECT_EQ(events, (QStringList{"shown", "browser"}));
    EXPECT_TRUE(loaded.first().first().toBool());
    ASSERT_FALSE(server.requests().isEmpty());
    EXPECT_TRUE(server.requests().first().startsWith("GET /asd/yuming.htm HTTP/1.1\r\n"))
        << server.requests().first().toStdString();
    QTRY_COMPARE(web->view()->property("title").toString(), QStringLiteral("ran false null"));
    EXPECT_EQ(web->view()->geometry(), QRect(0, 0, 1333, 333));
    for (QWidget* top : QApplication::topLevelWidgets())
        EXPECT_FALSE(top->isVisible() && top != window.get()) << top->metaObject()->className();
}
