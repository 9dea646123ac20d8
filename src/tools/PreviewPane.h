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
class QTimer;
class QWebEngineView;

// The preview pane: a web view showing one preview file. The view (and the
// browser engine's page behind it, with its process) is made only once the
// window has been shown and painted, and only while the pane has room on
// the screen and a page to show, so windows that are never shown
// (automation, tests) do not start it, and starting it (a few hundred
// milliseconds and several processes) never holds back the window's first
// picture of the document. The view is released again when the pane is
// hidden, squeezed to nothing or given no page, which gives back the
// renderer's memory; it is made again when the pane is wanted. What the
// pane is given meanwhile is shown as soon as the view exists. The
// page may load the file it was given and nothing else: no other file, no
// network by any channel (WebRTC included), no navigation away by a link,
// no dialog. Scripts run only in pages the editor wrote itself. A click
// anywhere is reported with the id of the element clicked; its default
// action is cancelled.
class PreviewPane : public QWidget
{
    Q_OBJECT
public:
    explicit PreviewPane(QWidget *parent = nullptr);
    ~PreviewPane() override;

    enum class Scripts { Off, Allowed };
    // Shows the file (written by the caller); an empty path shows a blank
    // page. Scripts may run in it only when it is the editor's own page.
    void showFile(const QString &path, Scripts scripts = Scripts::Off);
    // A note over the page while it is being made; empty removes it.
    void setBusy(const QString &text);
    QString busyText() const;
    QUrl url() const { return m_url; }
    // True once the view has finished loading what it was last given.
    bool isLoaded() const { return m_loaded; }

    // Prints the page once it has loaded; `done` receives the outcome. The
    // printer must stay valid until then, even when the pane goes first.
    void print(QPrinter *printer, const std::function<void(bool)> &done);

    // Null while the pane has no view (see above).
    QWebEngineView *view() const { return m_view; }

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
    void applyScripts();

    QWebEngineView *m_view = nullptr;
    QUrl m_url;
    std::shared_ptr<Allowed> m_allowed;
    bool m_printing = false;
    bool m_loaded = false;
    bool m_windowPainted = false;
    Scripts m_scripts = Scripts::Off;
    QLabel *m_busy;
    QTimer *m_startView;
    QList<QAction *> m_pageActions;
    std::function<void()> m_updateActions;
};
