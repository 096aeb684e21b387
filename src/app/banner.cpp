#include "app/banner.h"

#include "lookup/app_path.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QOpenGLContext>
#include <QPaintEvent>
#include <QTimer>

#include <unistd.h>

// Qt Gui's setter of the context every OpenGL context of the application shares with; the browser
// engine sets it the same way when it is loaded after the application.
Q_GUI_EXPORT void qt_gl_set_global_share_context(QOpenGLContext* context);

namespace {

// The browser draws with OpenGL contexts shared with the application's. Asking for that before
// the application starts (Qt::AA_ShareOpenGLContexts) creates the shared context up front, on
// some displays at a cost larger than showing the whole window; the banner creates it here, just
// before the browser is loaded. On a display without OpenGL the context is invalid and the
// browser draws without it.
void shareOpenGLContexts() {
    if (QOpenGLContext::globalShareContext()) return;
    auto* context = new QOpenGLContext(QCoreApplication::instance());
    context->create();
    qt_gl_set_global_share_context(context);
}

QLoggingCategory::CategoryFilter s_previousFilter = nullptr;

// The engine's context dumps its start-up parameters and graphics set-up on every start; a user
// who wants them sets QT_LOGGING_RULES.
void quietEngineContext(QLoggingCategory* category) {
    if (s_previousFilter) s_previousFilter(category);
    if (qstrcmp(category->categoryName(), "qt.webenginecontext") != 0) return;
    for (QtMsgType type : {QtDebugMsg, QtInfoMsg, QtWarningMsg})
        category->setEnabled(type, false);
}

// The engine reads these when it starts, so they are set before its module is loaded; whatever
// the user set stays.
void prepareEngineEnvironment() {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    // As root the engine refuses to start its sandbox and aborts the whole program.
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX") &&
        !flags.contains("--no-sandbox")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        qInfo("yuming: running as root; the banner's browser runs without its sandbox");
    }
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        s_previousFilter = QLoggingCategory::installFilter(quietEngineContext);
    // Chromium's own INFO, WARNING and ERROR lines; fatal ones still come through.
    if (!flags.contains("--log-level")) {
        flags += flags.isEmpty() ? "--log-level=3" : " --log-level=3";
        qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    }
}

QtMessageHandler s_previousHandler = nullptr;

void dropEngineNotices(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if ((type == QtInfoMsg || type == QtDebugMsg) && qstrcmp(context.category, "default") == 0) return;
    s_previousHandler(type, context, message);
}

// The engine announces what it was told to do when it starts (the sandbox left off, and so on)
// as plain notices of its own; while it starts they are dropped, unless the user asked for logs.
class QuietEngineStart {
public:
    QuietEngineStart() : m_quiet(!qEnvironmentVariableIsSet("QT_LOGGING_RULES")) {
        if (m_quiet) s_previousHandler = qInstallMessageHandler(dropEngineNotices);
    }
    ~QuietEngineStart() {
        if (m_quiet) qInstallMessageHandler(s_previousHandler);
    }
    QuietEngineStart(const QuietEngineStart&) = delete;
    QuietEngineStart& operator=(const QuietEngineStart&) = delete;

private:
    bool m_quiet;
};

QString pathFromEnvironment(const char* name, const QString& fallback) {
    return qEnvironmentVariableIsEmpty(name) ? fallback : qEnvironmentVariable(name);
}

// The engine aborts the whole program when its helper process or its resources are missing, so
// the banner looks for them first. Returns what is missing, or nothing.
QString missingEnginePart() {
    const QFileInfo helper(pathFromEnvironment("QTWEBENGINEPROCESS_PATH",
                                               QLibraryInfo::path(QLibraryInfo::LibraryExecutablesPath) +
                                                   QStringLiteral("/QtWebEngineProcess")));
    if (!helper.isFile() || !helper.isExecutable()) return helper.filePath();
    const QFileInfo resources(
        pathFromEnvironment("QTWEBENGINE_RESOURCES_PATH",
                            QLibraryInfo::path(QLibraryInfo::DataPath) + QStringLiteral("/resources")) +
        QStringLiteral("/qtwebengine_resources.pak"));
    if (!resources.isFile()) return resources.filePath();
    return {};
}

// The browser module beside the program's libraries once installed, in the build tree before.
QString moduleFile() {
    QStringList folders{QCoreApplication::applicationDirPath() +
                        QStringLiteral("/../" YUMING_BANNER_INSTALL_SUBDIR)};
    if (yuming::runsFromBuildTree()) folders.append(QStringLiteral(YUMING_BANNER_BUILD_DIR));
    for (const QString& folder : folders) {
        const QString file = folder + QStringLiteral("/libyuming_banner.so");
        if (QFileInfo::exists(file)) return file;
    }
    return {};
}

using CreateView = QWidget* (*)(QWidget* parent, bool silent);

CreateView browserModule() {
    static const CreateView create = []() -> CreateView {
        if (const QString missing = missingEnginePart(); !missing.isEmpty()) {
            qWarning("yuming: the browser engine cannot start (%s is missing); no banner",
                     qPrintable(missing));
            return nullptr;
        }
        const QString file = moduleFile();
        if (file.isEmpty()) {
            qWarning("yuming: the banner's browser module (libyuming_banner) was not found; no banner");
            return nullptr;
        }
        prepareEngineEnvironment();
        shareOpenGLContexts();
        QLibrary module(file);
        const auto found = reinterpret_cast<CreateView>(module.resolve("yuming_create_banner_view"));
        if (!found)
            qWarning("yuming: the banner's browser module did not load (%s); no banner",
                     qPrintable(module.errorString()));
        return found;
    }();
    return create;
}

} // namespace

Banner::Banner(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::TabFocus);
}

QUrl Banner::urlFromAddress(QStringView address) {
    const QString text = address.trimmed().toString();
    if (text.contains(u"://")) return QUrl(text);
    return QUrl(QStringLiteral("http://") + text);
}

void Banner::Navigate(const QString& address) {
    m_url = urlFromAddress(address);
    if (m_view)
        load();
    else if (m_painted)
        QTimer::singleShot(0, this, &Banner::createView);
}

void Banner::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (m_painted) return;
    m_painted = true;
    // Queued, so the window's first frame reaches the screen before the browser starts.
    if (m_url.isValid()) QTimer::singleShot(0, this, &Banner::createView);
}

void Banner::createView() {
    if (m_view) return;
    const CreateView create = browserModule();
    if (!create) {
        Q_EMIT loadFinished(false);
        return;
    }
    {
        const QuietEngineStart quiet;
        m_view = create(this, m_silent);
    }
    m_view->setGeometry(rect());
    setFocusProxy(m_view);
    // The view's type lives in the module; its signals are reached by name.
    connect(m_view, SIGNAL(loadStarted()), this, SLOT(viewLoadStarted()));
    connect(m_view, SIGNAL(loadFinished(bool)), this, SLOT(viewLoadFinished(bool)));
    connect(m_view, SIGNAL(rendererEnded()), this, SLOT(viewRendererEnded()));
    m_view->show();
    Q_EMIT viewCreated();
    if (m_url.isValid()) load();
}

void Banner::load() {
    m_ended = false;
    m_loading = true;
    m_view->show();
    m_view->setProperty("url", m_url);
}

void Banner::viewLoadStarted() {
    m_loading = true;
}

void Banner::viewLoadFinished(bool ok) {
    if (m_ended) return;
    m_loading = false;
    Q_EMIT loadFinished(ok);
}

// The page's process died: the banner goes blank and stays so until it is told where to go
// again, so a page that kills its process every time cannot keep respawning it. A load it cut
// short is reported as failed, once.
void Banner::viewRendererEnded() {
    m_ended = true;
    m_view->hide();
    if (!m_loading) return;
    m_loading = false;
    Q_EMIT loadFinished(false);
}
