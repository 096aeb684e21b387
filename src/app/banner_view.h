#pragma once

#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWebEnginePage>
#include <QWebEngineView>

class QWidget;

// A browser page that never asks the user anything: script dialogs, certificate questions,
// permission requests, log-ins, file choosers, downloads and new windows are all answered
// quietly (no, cancel, nothing), so the banner can never put a dialog in front of the window.
class SilentPage : public QWebEnginePage {
    Q_OBJECT
public:
    explicit SilentPage(QObject* parent = nullptr);

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

// The banner's view. Its page's process can die (a crash, the system killing it); the view then
// says so once, through rendererEnded(), and leaves reloading to its owner.
class BannerView : public QWebEngineView {
    Q_OBJECT
public:
    explicit BannerView(QWidget* parent, bool silent);

Q_SIGNALS:
    void rendererEnded();
};

// The module's one entry point: a BannerView (driven through its "url" property and its
// loadStarted(), loadFinished(bool) and rendererEnded() signals) as a child of `parent`, silent
// when asked.
extern "C" Q_DECL_EXPORT QWidget* yuming_create_banner_view(QWidget* parent, bool silent);
