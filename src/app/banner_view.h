#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

class QObject;
class QWebEngineProfile;
class QWidget;

// A browser page that never asks the user anything: script dialogs, certificate questions,
// permission requests, log-ins, file choosers, downloads and new windows are all answered
// quietly (no, cancel, nothing), so the banner can never put a dialog in front of the window.
class SilentPage : public QWebEnginePage {
    Q_OBJECT
public:
    SilentPage(QWebEngineProfile* profile, QObject* parent);

protected:
    void javaScriptAlert(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptConfirm(const QUrl& securityOrigin, const QString& msg) override;
    bool javaScriptPrompt(const QUrl& securityOrigin, const QString& msg, const QString& defaultValue,
                          QString* result) override;
    void javaScriptConsoleMessage(JavaScriptConsoleMessageLevel level, const QString& message, int lineNumber,
                                  const QString& sourceID) override;
    QStringList chooseFiles(FileSelectionMode mode, const QStringList& oldFiles,
                            const QStringList& acceptedMimeTypes) override;
    QWebEnginePage* createWindow(WebWindowType type) override;
};

// The banner's view, on a profile of its own that it takes over. Its page's process can die (a
// crash, the system killing it); the view then says so once, through rendererEnded(), and leaves
// reloading to its owner.
class BannerView : public QWebEngineView {
    Q_OBJECT
public:
    BannerView(QWidget* parent, QWebEngineProfile* profile, bool silent);
    // Makes the page's contents and starts its process, which loading would otherwise do first.
    Q_INVOKABLE void prepare();

Q_SIGNALS:
    void rendererEnded();
};

// The module's entry points. The banner calls them in separate turns of the event loop, since
// each one can take a while.
//
// A profile for one banner: off the record, its cache in memory and small, no spell checking
// and no PDF viewer. The first one in the process starts the browser engine, with Qt Quick's
// software renderer when `softwareDrawing` (then the engine uses no OpenGL at all).
extern "C" Q_DECL_EXPORT QObject* yuming_create_banner_profile(QObject* parent, bool softwareDrawing);
// A BannerView (driven through its "url" property and its loadStarted(), loadFinished(bool) and
// rendererEnded() signals and its prepare() method) on `profile`, as a child of `parent`, silent
// when asked.
extern "C" Q_DECL_EXPORT QWidget* yuming_create_banner_view(QWidget* parent, QObject* profile, bool silent);
