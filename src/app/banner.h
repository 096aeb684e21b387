#pragma once

#include <QByteArray>
#include <QString>
#include <QStringView>
#include <QUrl>
#include <QWidget>

// The banner area's browser control. The browser engine takes longer to load and start than the
// whole window takes to show, so it lives in a module of its own (banner_view.h) that is loaded
// only after the window has painted its first frame, and comes up in several short steps so the
// window keeps answering meanwhile; Navigate() before that remembers the address and loads it
// then. A banner that is never told where to go never starts the browser.
// When the engine cannot start here, or its page process dies, the banner stays empty and says
// so through loadFinished(false); the window around it carries on.
class Banner : public QWidget {
    Q_OBJECT
    Q_PROPERTY(bool Silent READ Silent WRITE setSilent)
public:
    explicit Banner(QWidget* parent = nullptr);

    bool Silent() const { return m_silent; }
    void setSilent(bool silent) { m_silent = silent; }

    // `address` as a user would type it: without a scheme it is taken as http.
    void Navigate(const QString& address);
    static QUrl urlFromAddress(QStringView address);
    // The browser engine's flags: the user's own first, then the banner's for what the user left
    // unset (the sandbox off and drawing in software change which).
    static QByteArray engineFlags(const QByteArray& userFlags, bool sandboxOff, bool softwareDrawing);

    QUrl requestedUrl() const { return m_url; }
    // The browser view (a QWebEngineView); null until it has been created.
    QWidget* view() const { return m_view; }

Q_SIGNALS:
    void viewCreated();
    void loadFinished(bool ok);

protected:
    void paintEvent(QPaintEvent* event) override;

private Q_SLOTS:
    void viewLoadStarted();
    void viewLoadFinished(bool ok);
    void viewRendererEnded();

private:
    void startBrowser();
    void createProfile();
    void createView();
    void load();

    bool m_silent = false;
    bool m_painted = false;
    bool m_starting = false;
    bool m_loadQueued = false;
    bool m_loading = false;
    bool m_ended = false;
    QUrl m_url;
    QObject* m_profile = nullptr; // the browser's profile, until the view takes it over
    QWidget* m_view = nullptr;    // a child of the banner
};
