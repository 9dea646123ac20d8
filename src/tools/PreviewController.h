#pragma once

#include "xml/XmlNode.h"

#include <QObject>
#include <QPointer>

class DocumentHost;
class PreviewPane;
class QPrinter;
class QShortcut;
class QTextDocument;
class QTimer;
class TransformJob;

// The preview's commands: render the document or one element into the
// pane (the built-in source view, or the user's style sheet run in a worker
// process that Esc stops), keep it in step with structural changes, choose
// the style sheet, follow clicks on element names back to the tree, and
// print what the pane shows.
class PreviewController : public QObject
{
    Q_OBJECT
public:
    PreviewController(DocumentHost &host, PreviewPane &pane, QObject *parent = nullptr);

    void ShowPreview(const XmlNode &node);
    // After a structural change: the whole document again, when the pane
    // follows the tree and shows the built-in view of the whole document.
    void RefreshPreview();
    void clear();

    // Commands.
    void mnuToolPreview_Click();
    void mnuToolPreviewSel_Click();
    void mnuToolSelXSL_Click();
    void mnuFilePrint_Click();
    // The choice of the style-sheet command, once made: shows the document
    // through `path`, or in the built-in view when it cannot be read.
    void useStyleSheet(const QString &path);

    // The chosen style sheet, read where it lies; empty for the built-in view.
    QString xslFile() const { return m_XslFile; }
    // A user's style sheet is running for the pane.
    bool isTransforming() const { return m_transforming; }
    // Stops a running style sheet; the pane keeps what it showed.
    void stopTransform();
    bool previewWhole() const { return m_PreviewWhole; }
    // The file last written for the pane; empty while none.
    QString previewFile() const { return m_previewFile; }

signals:
    // A preview file was written and handed to the pane.
    void previewShown(const QString &path);
    // Rendering failed; the pane keeps what it showed.
    void previewFailed();
    // A print of the preview ended.
    void printed(bool ok);

private:
    void onClicked(const QString &id);
    // Writes the page file and shows it, or `source` (taken) beside it: the
    // built-in view. A cut output ends in a note.
    void show(const QByteArray &output, bool asHtml, const QString &method, QTextDocument *source, bool truncated = false);
    void setTransforming(bool on);
    void fail(const QString &reason);
    // Forgets a print waiting for the running preview.
    void dropPendingPrint();

    DocumentHost &m_host;
    PreviewPane &m_pane;
    QString m_XslFile;
    bool m_PreviewWhole = true;
    QString m_previewFile;
    // Each render gets a number; a transform that finishes after a newer
    // render was asked for is dropped.
    quint64 m_request = 0;
    bool m_transforming = false; // a style sheet is running for the pane
    TransformJob *m_job;
    QTimer *m_refresh; // a refresh asked for, made once the loop is free
    // A print waiting for the running preview: it ends with that preview.
    QMetaObject::Connection m_printWhenShown;
    QMetaObject::Connection m_printDropped;
    QShortcut *m_stop;
};
