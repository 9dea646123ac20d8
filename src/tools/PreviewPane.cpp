#include "PreviewPane.h"

#include <QFile>
#include <QOpenGLContext>
#include <QOpenGLWidget>
#include <QPrinter>
#include <QVBoxLayout>
#include <QWebChannel>
#include <QWebEngineProfile>
#include <QWebEngineScript>
#include <QWebEngineScriptCollection>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <QWebEnginePage>

namespace {

// Lets the page have its own file and the engine's internal resources.
class OnlyThePreview : public QWebEngineUrlRequestInterceptor
{
public:
    explicit OnlyThePreview(const PreviewPane *pane) : QWebEngineUrlRequestInterceptor(const_cast<PreviewPane *>(pane)), m_pane(pane) {}
    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        const QUrl url = info.requestUrl();
        const QString scheme = url.scheme();
        const bool allowed = url.matches(m_pane->url(), QUrl::RemoveFragment) || scheme == QLatin1String("data")
            || scheme == QLatin1String("qrc") || url.toString() == QLatin1String("about:blank");
        info.block(!allowed);
    }

private:
    const PreviewPane *m_pane;
};

class PreviewPage : public QWebEnginePage
{
public:
    PreviewPage(QWebEngineProfile *profile, const PreviewPane *pane) : QWebEnginePage(profile, const_cast<PreviewPane *>(pane)), m_pane(pane) {}

protected:
    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        // Only the pane itself navigates; links and scripts stay on the page.
        return isMainFrame && type != NavigationTypeLinkClicked
            && (url.matches(m_pane->url(), QUrl::RemoveFragment) || url.toString() == QLatin1String("about:blank"));
    }

private:
    const PreviewPane *m_pane;
};

// What the page's script reaches through the web channel.
class ClickBridge : public QObject
{
    Q_OBJECT
public:
    explicit ClickBridge(PreviewPane *pane) : QObject(pane), m_pane(pane) {}
    Q_INVOKABLE void nodeClicked(const QString &id) { emit m_pane->clicked(id); }

private:
    PreviewPane *m_pane;
};

QString clickScript()
{
    QFile channel(QStringLiteral(":/qtwebchannel/qwebchannel.js"));
    const QString library = channel.open(QIODevice::ReadOnly) ? QString::fromUtf8(channel.readAll()) : QString();
    return library + QStringLiteral(R"(
(function () {
  var bridge = null;
  if (typeof qt !== 'undefined' && qt.webChannelTransport)
    new QWebChannel(qt.webChannelTransport, function (channel) { bridge = channel.objects.ostrel; });
  document.addEventListener('click', function (event) {
    event.preventDefault();
    var id = (event.target && event.target.id) || '';
    if (bridge)
      bridge.nodeClicked(id);
  }, true);
})();
)");
}

} // namespace

PreviewPane::PreviewPane(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("ie"));
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    // A web view added to a window already shown makes the platform replace
    // the window's native handle to give it a rendering surface; the handle
    // is how the coordinator and automation clients know the window. A
    // hidden OpenGL widget from the start gives the window that surface when
    // it is first made. Platforms without OpenGL keep their handle anyway.
    static const bool openGl = [] {
        QOpenGLContext context;
        return context.create();
    }();
    if (openGl)
        (new QOpenGLWidget(this))->hide();
}

PreviewPane::~PreviewPane()
{
    // The page goes before the profile it was made with.
    if (m_view) {
        QWebEnginePage *page = m_view->page();
        delete m_view;
        delete page;
    }
}

void PreviewPane::showFile(const QString &path)
{
    m_url = path.isEmpty() ? QUrl(QStringLiteral("about:blank")) : QUrl::fromLocalFile(path);
    m_loaded = false;
    if (m_view)
        m_view->load(m_url);
}

void PreviewPane::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    ensureView();
}

void PreviewPane::ensureView()
{
    if (m_view)
        return;
    // A private, off-the-record profile: nothing is stored, and the
    // interceptor sees every request of this pane's page.
    auto *profile = new QWebEngineProfile(this);
    profile->setUrlRequestInterceptor(new OnlyThePreview(this));
    QWebEngineScript script;
    script.setName(QStringLiteral("ostrel-clicks"));
    script.setSourceCode(clickScript());
    script.setInjectionPoint(QWebEngineScript::DocumentReady);
    script.setWorldId(QWebEngineScript::MainWorld);
    script.setRunsOnSubFrames(false);
    profile->scripts()->insert(script);

    auto *page = new PreviewPage(profile, this);
    QWebEngineSettings *settings = page->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    auto *channel = new QWebChannel(page);
    channel->registerObject(QStringLiteral("ostrel"), new ClickBridge(this));
    page->setWebChannel(channel);

    m_view = new QWebEngineView(this);
    m_view->setPage(page);
    m_view->setContextMenuPolicy(Qt::DefaultContextMenu);
    layout()->addWidget(m_view);
    connect(m_view, &QWebEngineView::loadFinished, this, [this](bool ok) {
        m_loaded = true;
        emit loaded(ok);
    });
    m_view->load(m_url.isEmpty() ? QUrl(QStringLiteral("about:blank")) : m_url);
}

void PreviewPane::print(QPrinter *printer, const std::function<void(bool)> &done)
{
    ensureView();
    auto start = [this, printer, done] {
        auto connection = std::make_shared<QMetaObject::Connection>();
        *connection = connect(m_view, &QWebEngineView::printFinished, this, [connection, done](bool ok) {
            disconnect(*connection);
            done(ok);
        });
        m_view->print(printer);
    };
    if (m_loaded) {
        start();
        return;
    }
    // A page still loading would print what it had so far.
    auto connection = std::make_shared<QMetaObject::Connection>();
    *connection = connect(this, &PreviewPane::loaded, this, [connection, start](bool) {
        disconnect(*connection);
        start();
    });
}

#include "PreviewPane.moc"
