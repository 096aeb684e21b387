#pragma once

#include <QString>
#include <QStringView>
#include <QUrl>
#include <QWebEnginePage>
#include <QWidget>

class QWebEngineView;

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

// The banner area's browser control. Starting the browser engine takes longer than showing the
// whole window, so the browser itself is created only after the window has painted its first
// frame; Navigate() before that remembers the address and loads it then.
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

    QUrl requestedUrl() const { return m_url; }
    // Null until the browser has been created.
    QWebEngineView* view() const { return m_view; }

Q_SIGNALS:
    void viewCreated();
    void loadFinished(bool ok);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    void createView();

    bool m_silent = false;
    bool m_painted = false;
    QUrl m_url;
    QWebEngineView* m_view = nullptr; // a child of the banner
};
