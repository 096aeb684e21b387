#include "app/banner.h"

#include <QAuthenticator>
#include <QPaintEvent>
#include <QTimer>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineProfile>
#include <QWebEngineView>

SilentPage::SilentPage(QObject* parent) : QWebEnginePage(parent)
{
    connect(this, &QWebEnginePage::certificateError, this,
            [](QWebEngineCertificateError error) { error.rejectCertificate(); });
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, Feature feature) {
                setFeaturePermission(origin, feature, PermissionDeniedByUser);
            });
    connect(this, &QWebEnginePage::authenticationRequired, this,
            [](const QUrl&, QAuthenticator* authenticator) { *authenticator = QAuthenticator(); });
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            [](const QUrl&, QAuthenticator* authenticator, const QString&) { *authenticator = QAuthenticator(); });
    connect(this, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
    connect(profile(), &QWebEngineProfile::downloadRequested, this,
            [](QWebEngineDownloadRequest* download) { download->cancel(); });
}

void SilentPage::javaScriptAlert(const QUrl&, const QString&) {}

bool SilentPage::javaScriptConfirm(const QUrl&, const QString&) { return false; }

bool SilentPage::javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) { return false; }

void SilentPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int, const QString&) {}

QStringList SilentPage::chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) { return {}; }

QWebEnginePage* SilentPage::createWindow(WebWindowType) { return nullptr; }

Banner::Banner(QWidget* parent) : QWidget(parent) { setFocusPolicy(Qt::TabFocus); }

QUrl Banner::urlFromAddress(QStringView address)
{
    const QString text = address.trimmed().toString();
    if (text.contains(u"://"))
        return QUrl(text);
    return QUrl(QStringLiteral("http://") + text);
}

void Banner::Navigate(const QString& address)
{
    m_url = urlFromAddress(address);
    if (m_view)
        m_view->load(m_url);
}

void Banner::paintEvent(QPaintEvent* event)
{
    QWidget::paintEvent(event);
    if (m_painted)
        return;
    m_painted = true;
    // Queued, so the window's first frame reaches the screen before the browser starts.
    QTimer::singleShot(0, this, &Banner::createView);
}

void Banner::createView()
{
    if (m_view)
        return;
    m_view = new QWebEngineView(this);
    m_view->setContextMenuPolicy(Qt::NoContextMenu);
    if (m_silent)
        m_view->setPage(new SilentPage(m_view));
    m_view->setGeometry(rect());
    setFocusProxy(m_view);
    connect(m_view, &QWebEngineView::loadFinished, this, &Banner::loadFinished);
    m_view->show();
    Q_EMIT viewCreated();
    if (m_url.isValid())
        m_view->load(m_url);
}
