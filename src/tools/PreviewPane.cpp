#include "PreviewPane.h"

#include "ChildEnvironment.h"
#include "SourceViewer.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QOpenGLContext>
#include <QOpenGLWidget>
#include <QPointer>
#include <QPrinter>
#include <QTimer>
#include <QVBoxLayout>
#include <QWebEngineProfile>
#include <QWebEngineSettings>
#include <QWebEngineUrlRequestInterceptor>
#include <QWebEngineView>
#include <QWebEnginePage>

// What the page may load: its own file, and the engine's internal
// resources. Shared by the pane, its page and the interceptor, which may
// outlive the pane while a print job finishes.
struct Allowed
{
    QUrl url;
    bool covers(const QUrl &u) const
    {
        return u.matches(url, QUrl::RemoveFragment) || u.toString() == QLatin1String("about:blank");
    }
};

namespace {

class OnlyThePreview : public QWebEngineUrlRequestInterceptor
{
public:
    OnlyThePreview(std::shared_ptr<Allowed> allowed, QObject *parent) : QWebEngineUrlRequestInterceptor(parent), m_allowed(std::move(allowed)) {}
    void interceptRequest(QWebEngineUrlRequestInfo &info) override
    {
        const QUrl url = info.requestUrl();
        const QString scheme = url.scheme();
        info.block(!(m_allowed->covers(url) || scheme == QLatin1String("data") || scheme == QLatin1String("qrc")));
    }

private:
    std::shared_ptr<Allowed> m_allowed;
};

class PreviewPage : public QWebEnginePage
{
public:
    PreviewPage(QWebEngineProfile *profile, std::shared_ptr<Allowed> allowed) : QWebEnginePage(profile), m_allowed(std::move(allowed)) {}

protected:
    // A page never opens a box: one in a loop would hold the window for good.
    void javaScriptAlert(const QUrl &, const QString &) override {}
    bool javaScriptConfirm(const QUrl &, const QString &) override { return false; }
    bool javaScriptPrompt(const QUrl &, const QString &, const QString &, QString *) override { return false; }
    QStringList chooseFiles(FileSelectionMode, const QStringList &, const QStringList &) override { return {}; }

    bool acceptNavigationRequest(const QUrl &url, NavigationType type, bool isMainFrame) override
    {
        // Only the pane itself navigates; links and scripts stay on the page.
        return isMainFrame && type != NavigationTypeLinkClicked && m_allowed->covers(url);
    }

private:
    std::shared_ptr<Allowed> m_allowed;
};

// The request interceptor sees URL requests only. What goes around it is
// switched off in the engine, which reads these once, when it starts: WebRTC
// sends no UDP but through a proxy, and the proxy of every connection,
// loopback included, is a port where nothing listens.
void closeEngineChannels()
{
    static bool done = false;
    if (done)
        return;
    done = true;
    QByteArray flags = qgetenv("QTWEBENGINE_CHROMIUM_FLAGS");
    for (const char *flag : {"--force-webrtc-ip-handling-policy=disable_non_proxied_udp", "--proxy-server=http://127.0.0.1:9",
                             "--proxy-bypass-list=<-loopback>", "--disable-background-networking"})
        flags += QByteArray(flags.isEmpty() ? "" : " ") + flag;
    ChildEnvironment::setOwn("QTWEBENGINE_CHROMIUM_FLAGS", flags);
}

} // namespace

PreviewPane::PreviewPane(QWidget *parent)
    : QWidget(parent), m_allowed(std::make_shared<Allowed>()), m_busy(new QLabel(this)), m_startView(new QTimer(this))
{
    m_busy->setObjectName(QStringLiteral("previewBusy"));
    m_busy->setAutoFillBackground(true);
    m_busy->setMargin(4);
    m_busy->hide();
    m_startView->setSingleShot(true);
    m_startView->setInterval(0);
    connect(m_startView, &QTimer::timeout, this, [this] {
        if (wantsView())
            ensureView();
        else if (!m_printing)
            releaseView();
    });
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
    releaseView();
}

void PreviewPane::releaseView()
{
    if (!m_view)
        return;
    QWebEnginePage *page = m_view->page();
    QWebEngineProfile *profile = page->profile();
    auto release = [view = m_view, page, profile] {
        // The page goes before the profile it was made with.
        delete view;
        delete page;
        delete profile;
    };
    QWebEngineView *view = m_view;
    m_view = nullptr;
    m_loaded = false;
    if (!m_printing) {
        release();
        return;
    }
    // A print job uses the view and its printer until it ends; they stay
    // until then, out of sight.
    view->setParent(nullptr);
    view->hide();
    connect(view, &QWebEngineView::printFinished, view, [release] { QMetaObject::invokeMethod(qApp, release, Qt::QueuedConnection); });
}

void PreviewPane::showFile(const QString &path)
{
    if (m_source) {
        // Its document goes with it.
        delete m_source;
        m_source = nullptr;
    }
    m_url = path.isEmpty() ? QUrl(QStringLiteral("about:blank")) : QUrl::fromLocalFile(path);
    m_allowed->url = m_url;
    m_loaded = false;
    if (m_view && wantsView()) {
        m_view->load(m_url);
    } else {
        updateView();
    }
}

void PreviewPane::showSource(QTextDocument *document, const QString &path)
{
    m_url = QUrl::fromLocalFile(path);
    m_allowed->url = m_url;
    if (!m_source) {
        m_source = new SourceViewer(this);
        connect(m_source, &SourceViewer::clicked, this, &PreviewPane::clicked);
        connect(m_source, &QWidget::customContextMenuRequested, this, &PreviewPane::showPageMenu);
        layout()->addWidget(m_source);
    }
    // The document it showed before is its child, and goes.
    document->setParent(m_source);
    m_source->setDocument(document);
    m_source->show();
    m_busy->raise();
    m_loaded = true;
    // The web view, with its renderer, is not wanted meanwhile.
    updateView();
    emit loaded(true);
}

bool PreviewPane::wantsView() const
{
    // Smaller than this shows no page anybody could read.
    constexpr int kRoom = 16;
    return !m_source && isVisible() && width() >= kRoom && height() >= kRoom && !m_url.isEmpty()
        && m_url != QUrl(QStringLiteral("about:blank"));
}

void PreviewPane::updateView()
{
    // Printing needs the view until the job has it; the pane looks again then.
    if (m_printing || (!m_windowPainted && !m_view))
        return;
    m_startView->start();
}

void PreviewPane::setBusy(const QString &text)
{
    m_busy->setText(text);
    m_busy->adjustSize();
    m_busy->setVisible(!text.isEmpty());
    m_busy->raise();
}

QString PreviewPane::busyText() const
{
    return m_busy->isVisible() ? m_busy->text() : QString();
}

void PreviewPane::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    // The engine starts from the event loop once the window has painted
    // and a pass of the loop has gone by without painting again: the tree
    // of a document opened before the window shows, or just after, is on
    // the screen first.
    if (!m_windowPainted)
        window()->installEventFilter(this);
    updateView();
}

void PreviewPane::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateView();
}

void PreviewPane::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    if (m_view ? !wantsView() : wantsView())
        updateView();
}

void PreviewPane::ensureView()
{
    if (m_view)
        return;
    window()->removeEventFilter(this);
    m_startView->stop();
    closeEngineChannels();
    // A private, off-the-record profile: nothing is stored, and the
    // interceptor sees every request of this pane's page.
    auto *profile = new QWebEngineProfile;
    profile->setUrlRequestInterceptor(new OnlyThePreview(m_allowed, profile));
    auto *page = new PreviewPage(profile, m_allowed);
    QWebEngineSettings *settings = page->settings();
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessRemoteUrls, false);
    settings->setAttribute(QWebEngineSettings::LocalContentCanAccessFileUrls, false);
    settings->setAttribute(QWebEngineSettings::PluginsEnabled, false);
    settings->setAttribute(QWebEngineSettings::WebRTCPublicInterfacesOnly, true);
    settings->setAttribute(QWebEngineSettings::JavascriptCanOpenWindows, false);
    settings->setAttribute(QWebEngineSettings::JavascriptCanAccessClipboard, false);
    // What a user's style sheet writes may hold scripts; none runs.
    settings->setAttribute(QWebEngineSettings::JavascriptEnabled, false);

    m_view = new QWebEngineView(this);
    m_view->setPage(page);
    // The engine's own menu is in English and offers what does not work here.
    m_view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(m_view, &QWidget::customContextMenuRequested, this, &PreviewPane::showPageMenu);
    // A file dropped here would replace the preview with itself; drops go
    // to the window instead. The engine draws into a child widget that it
    // makes, and remakes, itself.
    m_view->setAcceptDrops(false);
    m_view->installEventFilter(this);
    layout()->addWidget(m_view);
    m_busy->raise();
    connect(m_view, &QWebEngineView::loadFinished, this, [this](bool ok) {
        m_loaded = true;
        emit loaded(ok);
    });
    m_view->load(m_url.isEmpty() ? QUrl(QStringLiteral("about:blank")) : m_url);
}

void PreviewPane::setPageActions(const QList<QAction *> &actions, const std::function<void()> &update)
{
    m_pageActions = actions;
    m_updateActions = update;
}

QMenu *PreviewPane::showPageMenu(const QPoint &pos)
{
    auto *menu = new QMenu(this);
    menu->setObjectName(QStringLiteral("previewMenu"));
    menu->setAttribute(Qt::WA_DeleteOnClose);
    QWidget *shown = m_source ? m_source->viewport() : nullptr;
    if (m_source) {
        QAction *copy = menu->addAction(QStringLiteral("コピー(&C)"), m_source, &QTextEdit::copy);
        copy->setEnabled(m_source->textCursor().hasSelection());
        menu->addAction(QStringLiteral("すべて選択(&A)"), m_source, &QTextEdit::selectAll);
    } else {
        ensureView();
        shown = m_view;
        QWebEnginePage *page = m_view->page();
        QAction *copy = menu->addAction(QStringLiteral("コピー(&C)"), page, [page] { page->triggerAction(QWebEnginePage::Copy); });
        copy->setEnabled(page->hasSelection());
        menu->addAction(QStringLiteral("すべて選択(&A)"), page, [page] { page->triggerAction(QWebEnginePage::SelectAll); });
    }
    if (m_updateActions)
        m_updateActions();
    if (!m_pageActions.isEmpty())
        menu->addSeparator();
    menu->addActions(m_pageActions);
    menu->popup(shown->mapToGlobal(pos));
    return menu;
}

void PreviewPane::print(QPrinter *printer, const std::function<void(bool)> &done)
{
    if (m_source) {
        // Printed as text, which a PDF keeps searchable.
        m_source->document()->print(printer);
        done(printer->printerState() != QPrinter::Error);
        return;
    }
    ensureView();
    auto start = [this, printer, done] {
        auto connection = std::make_shared<QMetaObject::Connection>();
        QPointer<PreviewPane> pane(this);
        *connection = connect(m_view, &QWebEngineView::printFinished, m_view, [pane, connection, done](bool ok) {
            disconnect(*connection);
            if (pane) {
                pane->m_printing = false;
                pane->updateView();
            }
            done(ok);
        });
        m_printing = true;
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


bool PreviewPane::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == window() && (event->type() == QEvent::Paint || event->type() == QEvent::UpdateRequest)) {
        m_windowPainted = true;
        updateView();
    }
    if (watched == m_view && (event->type() == QEvent::ChildAdded || event->type() == QEvent::ChildPolished)) {
        if (auto *child = qobject_cast<QWidget *>(static_cast<QChildEvent *>(event)->child()))
            child->setAcceptDrops(false);
    }
    return QWidget::eventFilter(watched, event);
}
