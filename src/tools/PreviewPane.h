#pragma once

#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

struct Allowed;

class QAction;
class QLabel;
class QMenu;
class QPrinter;
class QTextDocument;
class QTimer;
class QWebEngineView;
class SourceViewer;

// The preview pane: the built-in view, drawn by the editor itself, or a web
// view showing one preview file (a user's style sheet's output). The web
// view (and the browser engine's page behind it, with its processes) is
// made only once the window has been shown and painted, and only while the
// pane has room on the screen and a page to show, so windows that are
// never shown (automation, tests) do not start it, and starting it (a few
// hundred milliseconds and several processes) never holds back the
// window's first picture of the document. The view is released again when
// the pane is hidden, squeezed to nothing, given no page or back on the
// built-in view, which gives back the renderer's memory; it is made again
// when the pane is wanted. What the pane is given meanwhile is shown as
// soon as the view exists. The page may load the file it was given and
// nothing else: no other file, no network by any channel (WebRTC
// included), no navigation away by a link, no dialog, no script. A click
// on an element name of the built-in view is reported with the name's id.
class PreviewPane : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewPane(QWidget *parent = nullptr);
    ~PreviewPane() override;

    // Shows the file (written by the caller) in the web view; an empty path
    // shows a blank page.
    void showFile(const QString &path);
    // Shows the built-in view, taking `document` (SourceViewer::sinkFor);
    // `path` is the page file written for it.
    void showSource(QTextDocument *document, const QString &path);
    // A note over the page while it is being made; empty removes it.
    void setBusy(const QString &text);
    QString busyText() const;
    QUrl url() const { return m_url; }
    // True once the view has finished loading what it was last given.
    bool isLoaded() const { return m_loaded; }

    // Prints the page once it has loaded; `done` receives the outcome. The
    // printer must stay valid until then, even when the pane goes first.
    void print(QPrinter *printer, const std::function<void(bool)> &done);

    // Null while the pane has no web view (see above).
    QWebEngineView *view() const { return m_view; }
    // Null while the pane shows no built-in view.
    SourceViewer *sourceViewer() const { return m_source; }

    // The page's context menu: copy and select all, then these commands of
    // the window (`update` sets their state just before it opens).
    void setPageActions(const QList<QAction *> &actions, const std::function<void()> &update);
    // Opens that menu at `pos` in the view, without waiting for it.
    QMenu *showPageMenu(const QPoint &pos);

signals:
    void clicked(const QString &id);
    // The view finished loading a page.
    void loaded(bool ok);

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Whether a view is wanted: shown, with room, with a page to show.
    bool wantsView() const;
    // Makes or releases the view as wanted, once the window has painted.
    void updateView();
    void ensureView();
    void releaseView();

    QWebEngineView *m_view = nullptr;
    SourceViewer *m_source = nullptr;
    QUrl m_url;
    std::shared_ptr<Allowed> m_allowed;
    bool m_printing = false;
    bool m_loaded = false;
    bool m_windowPainted = false;
    QLabel *m_busy;
    QTimer *m_startView;
    QList<QAction *> m_pageActions;
    std::function<void()> m_updateActions;
};
