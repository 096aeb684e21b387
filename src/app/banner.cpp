#include "app/banner.h"

#include "lookup/app_path.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QLibrary>
#include <QLibraryInfo>
#include <QLoggingCategory>
#include <QOpenGLContext>
#include <QPaintEvent>
#include <QPointer>
#include <QThread>
#include <QTimer>

#include <unistd.h>

#include <atomic>

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

// Qt Quick draws the page's frames for the view. Unless the user picked its renderer, the banner
// takes the software one: a single small page gains nothing from the GPU, while the graphics
// driver costs more start-up time and memory than the page itself.
bool wantsSoftwareDrawing() {
    const QByteArray backend = qgetenv("QT_QUICK_BACKEND");
    return backend.isEmpty() || backend == "software";
}

// Whether `flags` hold the switch `name` ("--name" or "--name=value").
bool hasSwitch(const QByteArray& flags, QByteArrayView name) {
    for (const QByteArray& flag : flags.simplified().split(' ')) {
        if (flag.startsWith(name) && (flag.size() == name.size() || flag.at(name.size()) == '=')) return true;
    }
    return false;
}

void appendSwitch(QByteArray& flags, QByteArrayView name, QByteArrayView value = {}) {
    if (hasSwitch(flags, name)) return;
    if (!flags.trimmed().isEmpty()) flags += ' ';
    flags += name;
    if (!value.isEmpty()) flags += '=' + value.toByteArray();
}

// The engine reads these when it starts, so they are set before its module is loaded; whatever
// the user set stays.
void prepareEngineEnvironment(bool softwareDrawing) {
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    const QByteArray userFlags = flags;
    // As root the engine refuses to start its sandbox and aborts the whole program.
    if (geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX") &&
        !hasSwitch(flags, "--no-sandbox")) {
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
        qInfo("yuming: running as root; the banner's browser runs without its sandbox");
    }
    if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES"))
        s_previousFilter = QLoggingCategory::installFilter(quietEngineContext);
    const bool sandboxOff =
        qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX") || hasSwitch(flags, "--no-sandbox");
    flags = Banner::engineFlags(flags, sandboxOff, softwareDrawing);
    if (flags != userFlags) qputenv("QTWEBENGINE_CHROMIUM_FLAGS", flags);
    // The engine asks Qt whether OpenGL may be used from several threads, which on X11 has Qt
    // create a trial context and load the whole graphics driver; drawing in software, the
    // answer is never used.
    if (softwareDrawing && !qEnvironmentVariableIsSet("QT_OPENGL_NO_SANITY_CHECK"))
        qputenv("QT_OPENGL_NO_SANITY_CHECK", "1");
}

QtMessageHandler s_previousHandler = nullptr;
std::atomic<bool> s_engineStarting = false;
std::atomic<bool> s_softwareDrawing = false;

// The engine announces what it was told to do when it starts (the sandbox left off, and so on)
// as plain notices of its own, and drawing in software on purpose it warns that it found no
// OpenGL. Those are dropped, unless the user asked for logs.
void dropEngineNotices(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (qstrcmp(context.category, "default") == 0) {
        if ((type == QtInfoMsg || type == QtDebugMsg) && s_engineStarting) return;
        if (type == QtWarningMsg && s_softwareDrawing &&
            (message.startsWith(u"Qt WebEngine seems to be initialized from a plugin") ||
             message.trimmed() == u"No suitable graphics backend found"))
            return;
    }
    s_previousHandler(type, context, message);
}

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

using CreateProfile = QObject* (*)(QObject* parent, bool softwareDrawing);
using CreateView = QWidget* (*)(QWidget* parent, QObject* profile, bool silent);

// The browser module, loaded once per process. Loading it maps and links the whole browser
// engine, which takes several frames' time, so that part runs on a thread of its own; the
// checks before it and everything after it belong to the GUI thread.
class BrowserModule : public QObject {
    Q_OBJECT
public:
    enum class State { Idle, Loading, Ready, Failed };

    static BrowserModule* instance() {
        static QPointer<BrowserModule> module;
        if (!module) module = new BrowserModule(QCoreApplication::instance());
        return module;
    }
    ~BrowserModule() override {
        if (m_thread) m_thread->wait();
    }

    State state() const { return m_state; }
    CreateProfile createProfile = nullptr;
    CreateView createView = nullptr;

    // Starts loading, once; finished() follows unless it failed at once.
    void load() {
        if (m_state != State::Idle) return;
        if (const QString missing = missingEnginePart(); !missing.isEmpty()) {
            qWarning("yuming: the browser engine cannot start (%s is missing); no banner",
                     qPrintable(missing));
            m_state = State::Failed;
            return;
        }
        const QString file = moduleFile();
        if (file.isEmpty()) {
            qWarning("yuming: the banner's browser module (libyuming_banner) was not found; no banner");
            m_state = State::Failed;
            return;
        }
        m_softwareDrawing = wantsSoftwareDrawing();
        prepareEngineEnvironment(m_softwareDrawing);
        if (!qEnvironmentVariableIsSet("QT_LOGGING_RULES")) {
            s_softwareDrawing = m_softwareDrawing;
            s_engineStarting = true;
            s_previousHandler = qInstallMessageHandler(dropEngineNotices);
        }
        if (!m_softwareDrawing) shareOpenGLContexts();
        m_state = State::Loading;
        m_thread = QThread::create([this, file] {
            QLibrary module(file);
            createProfile = reinterpret_cast<CreateProfile>(module.resolve("yuming_create_banner_profile"));
            createView = reinterpret_cast<CreateView>(module.resolve("yuming_create_banner_view"));
            if (!createProfile || !createView) m_error = module.errorString();
        });
        m_thread->setObjectName(QStringLiteral("banner module"));
        connect(m_thread, &QThread::finished, this, &BrowserModule::loaded);
        m_thread->start();
    }

    // The first profile starts the engine; its start-up notices are over once it has.
    QObject* startProfile(QObject* parent) {
        QObject* profile = createProfile(parent, m_softwareDrawing);
        s_engineStarting = false;
        return profile;
    }

Q_SIGNALS:
    void finished();

private:
    using QObject::QObject;

    void loaded() {
        m_thread->deleteLater();
        m_thread = nullptr;
        m_state = createProfile && createView ? State::Ready : State::Failed;
        if (m_state == State::Failed) {
            qWarning("yuming: the banner's browser module did not load (%s); no banner", qPrintable(m_error));
            s_engineStarting = false;
        }
        Q_EMIT finished();
    }

    State m_state = State::Idle;
    bool m_softwareDrawing = true;
    QThread* m_thread = nullptr;
    QString m_error;
};

} // namespace

Banner::Banner(QWidget* parent) : QWidget(parent) {
    setFocusPolicy(Qt::TabFocus);
}

QByteArray Banner::engineFlags(const QByteArray& userFlags, bool sandboxOff, bool softwareDrawing) {
    QByteArray flags = userFlags;
    // Chromium's own INFO, WARNING and ERROR lines; fatal ones still come through.
    appendSwitch(flags, "--log-level", "3");
    if (softwareDrawing) appendSwitch(flags, "--disable-gpu");
    // One page, one page process. Without the sandbox nothing needs the processes that would
    // fork it, and they hold as much memory as the page's own.
    appendSwitch(flags, "--renderer-process-limit", "1");
    if (sandboxOff) appendSwitch(flags, "--no-zygote");
    return flags;
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
        QTimer::singleShot(0, this, &Banner::startBrowser);
}

void Banner::paintEvent(QPaintEvent* event) {
    QWidget::paintEvent(event);
    if (m_painted) return;
    m_painted = true;
    // Queued, so the window's first frame reaches the screen before the browser starts.
    if (m_url.isValid()) QTimer::singleShot(0, this, &Banner::startBrowser);
}

// The browser comes up in steps, each in a turn of the event loop of its own, so the window
// keeps answering in between: the module is loaded (on another thread), then the profile is
// made (the first one starts the engine), then the view, then the page's contents, and then
// the page is loaded.
void Banner::startBrowser() {
    if (m_starting || m_view) return;
    m_starting = true;
    BrowserModule* module = BrowserModule::instance();
    module->load();
    if (module->state() == BrowserModule::State::Loading)
        connect(module, &BrowserModule::finished, this, &Banner::createProfile, Qt::SingleShotConnection);
    else
        createProfile();
}

void Banner::createProfile() {
    BrowserModule* module = BrowserModule::instance();
    if (module->state() != BrowserModule::State::Ready) {
        m_starting = false;
        Q_EMIT loadFinished(false);
        return;
    }
    m_profile = module->startProfile(this);
    QTimer::singleShot(0, this, &Banner::createView);
}

void Banner::createView() {
    m_view = BrowserModule::instance()->createView(this, m_profile, m_silent);
    m_profile = nullptr; // the view's now
    m_starting = false;
    m_view->setGeometry(rect());
    setFocusProxy(m_view);
    // The view's type lives in the module; its signals are reached by name.
    connect(m_view, SIGNAL(loadStarted()), this, SLOT(viewLoadStarted()));
    connect(m_view, SIGNAL(loadFinished(bool)), this, SLOT(viewLoadFinished(bool)));
    connect(m_view, SIGNAL(rendererEnded()), this, SLOT(viewRendererEnded()));
    m_view->show();
    Q_EMIT viewCreated();
    if (!m_url.isValid()) return;
    m_loadQueued = true;
    QTimer::singleShot(0, this, [this] {
        if (!m_loadQueued) return; // a Navigate() came first
        QMetaObject::invokeMethod(m_view, "prepare");
        QTimer::singleShot(0, this, [this] {
            if (m_loadQueued) load();
        });
    });
}

void Banner::load() {
    m_loadQueued = false;
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

#include "banner.moc"
