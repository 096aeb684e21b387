#include "app/banner.h"

#include <QCoreApplication>
#include <QLibrary>
#include <QOpenGLContext>
#include <QPaintEvent>
#include <QTimer>

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

using CreateView = QWidget* (*)(QWidget* parent, bool silent);

// The browser module beside the program's libraries once installed, in the build tree before.
CreateView browserModule() {
    static const CreateView create = []() -> CreateView {
        const QString installed =
            QCoreApplication::applicationDirPath() + QStringLiteral("/../" YUMING_BANNER_INSTALL_SUBDIR);
        for (const QString& folder : {installed, QStringLiteral(YUMING_BANNER_BUILD_DIR)}) {
            QLibrary module(folder + QStringLiteral("/libyuming_banner"));
            if (auto create = reinterpret_cast<CreateView>(module.resolve("yuming_create_banner_view")))
                return create;
        }
        qWarning("yuming: the banner's browser module (libyuming_banner) was not found; no banner");
        return nullptr;
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
        m_view->setProperty("url", m_url);
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
    shareOpenGLContexts();
    const CreateView create = browserModule();
    if (!create) return;
    m_view = create(this, m_silent);
    m_view->setGeometry(rect());
    setFocusProxy(m_view);
    // The view's type lives in the module; its signal is reached by name.
    connect(m_view, SIGNAL(loadFinished(bool)), this, SIGNAL(loadFinished(bool)));
    m_view->show();
    Q_EMIT viewCreated();
    if (m_url.isValid()) m_view->setProperty("url", m_url);
}
