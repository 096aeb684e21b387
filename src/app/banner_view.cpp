// The banner's browser, built as a module of its own: the browser engine is large and sets up
// graphics state when it is loaded, so the window loads it only once its first frame is shown.
#include "app/banner_view.h"

#include <QAuthenticator>
#include <QQuickWindow>
#include <QWebEngineCertificateError>
#include <QWebEngineDownloadRequest>
#include <QWebEngineFullScreenRequest>
#include <QWebEngineProfile>
#include <QWebEngineSettings>

SilentPage::SilentPage(QWebEngineProfile* profile, QObject* parent) : QWebEnginePage(profile, parent) {
    connect(this, &QWebEnginePage::certificateError, this,
            [](QWebEngineCertificateError error) { error.rejectCertificate(); });
    connect(this, &QWebEnginePage::featurePermissionRequested, this,
            [this](const QUrl& origin, Feature feature) {
                setFeaturePermission(origin, feature, PermissionDeniedByUser);
            });
    connect(this, &QWebEnginePage::authenticationRequired, this,
            [](const QUrl&, QAuthenticator* authenticator) { *authenticator = QAuthenticator(); });
    connect(this, &QWebEnginePage::proxyAuthenticationRequired, this,
            [](const QUrl&, QAuthenticator* authenticator, const QString&) {
                *authenticator = QAuthenticator();
            });
    connect(this, &QWebEnginePage::fullScreenRequested, this,
            [](QWebEngineFullScreenRequest request) { request.reject(); });
    connect(profile, &QWebEngineProfile::downloadRequested, this,
            [](QWebEngineDownloadRequest* download) { download->cancel(); });
}

void SilentPage::javaScriptAlert(const QUrl&, const QString&) {}

bool SilentPage::javaScriptConfirm(const QUrl&, const QString&) {
    return false;
}

bool SilentPage::javaScriptPrompt(const QUrl&, const QString&, const QString&, QString*) {
    return false;
}

void SilentPage::javaScriptConsoleMessage(JavaScriptConsoleMessageLevel, const QString&, int,
                                          const QString&) {}

QStringList SilentPage::chooseFiles(FileSelectionMode, const QStringList&, const QStringList&) {
    return {};
}

QWebEnginePage* SilentPage::createWindow(WebWindowType) {
    return nullptr;
}

BannerView::BannerView(QWidget* parent, QWebEngineProfile* profile, bool silent) : QWebEngineView(parent) {
    setContextMenuPolicy(Qt::NoContextMenu);
    setPage(silent ? new SilentPage(profile, this) : new QWebEnginePage(profile, this));
    // A profile must outlive its pages; children are deleted in the order they were added.
    profile->setParent(this);
    connect(page(), &QWebEnginePage::renderProcessTerminated, this,
            [this](QWebEnginePage::RenderProcessTerminationStatus status) {
                if (status != QWebEnginePage::NormalTerminationStatus) Q_EMIT rendererEnded();
            });
}

// Nothing to show yet; asking for the page's text has the engine make the page's contents
// and start its process.
void BannerView::prepare() {
    page()->toPlainText([](const QString&) {});
}

QObject* yuming_create_banner_profile(QObject* parent, bool softwareDrawing) {
    // Only before the first view: Qt Quick picks its renderer once.
    static const bool chosen = [softwareDrawing] {
        if (softwareDrawing) QQuickWindow::setGraphicsApi(QSGRendererInterface::Software);
        return true;
    }();
    Q_UNUSED(chosen);
    auto* profile = new QWebEngineProfile(parent); // without a storage name: off the record
    profile->setHttpCacheType(QWebEngineProfile::MemoryHttpCache);
    profile->setHttpCacheMaximumSize(4 * 1024 * 1024);
    profile->setPersistentCookiesPolicy(QWebEngineProfile::NoPersistentCookies);
    profile->setSpellCheckEnabled(false);
    profile->settings()->setAttribute(QWebEngineSettings::PdfViewerEnabled, false);
    return profile;
}

QWidget* yuming_create_banner_view(QWidget* parent, QObject* profile, bool silent) {
    return new BannerView(parent, qobject_cast<QWebEngineProfile*>(profile), silent);
}
