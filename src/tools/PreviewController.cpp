#include "PreviewController.h"

#include "base/StringTable.h"
#include "document/DocumentHost.h"
#include "document/DocumentTreeModel.h"
#include "document/Prompt.h"
#include "document/Selection.h"
#include "PreviewHtml.h"
#include "PreviewPane.h"
#include "SourceViewer.h"
#include "TransformJob.h"
#include "xml/XmlDocument.h"
#include "xml/XsltTransform.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontInfo>
#include <QPrinter>
#include <QSaveFile>
#include <QShortcut>
#include <QTextDocument>
#include <QTimer>
#include "document/NodeTreeView.h"

#include <algorithm>
#include <memory>

namespace {
constexpr int kMaxPrintDpi = 300;

// An html start tag in any case, looked for without a lowered copy.
bool containsHtmlTag(QByteArrayView output)
{
    const QByteArrayView tag("<html");
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; };
    return std::search(output.begin(), output.end(), tag.begin(), tag.end(),
                       [&](char a, char b) { return lower(a) == b; })
        != output.end();
}
} // namespace

PreviewController::PreviewController(DocumentHost &host, PreviewPane &pane, QObject *parent)
    : QObject(parent), m_host(host), m_pane(pane), m_job(new TransformJob(this)), m_refresh(new QTimer(this)),
      m_stop(new QShortcut(QKeySequence(Qt::Key_Escape), pane.window(), nullptr, nullptr, Qt::WindowShortcut))
{
    connect(&m_pane, &PreviewPane::clicked, this, &PreviewController::onClicked);
    m_refresh->setSingleShot(true);
    m_refresh->setInterval(0);
    connect(m_refresh, &QTimer::timeout, this, [this] {
        if (m_host.dom())
            ShowPreview(m_host.dom()->documentNode());
    });
    // Esc belongs to the window's other uses except while a style sheet runs.
    m_stop->setEnabled(false);
    connect(m_stop, &QShortcut::activated, this, &PreviewController::stopTransform);
}

void PreviewController::setTransforming(bool on)
{
    if (on == m_transforming)
        return;
    m_transforming = on;
    m_stop->setEnabled(on);
    m_pane.setBusy(on ? QStringLiteral("スタイルシートで変換しています… (Esc キーで中止)") : QString());
    m_host.setStatusText(on ? QStringLiteral("プレビューを作成しています…") : QString());
}

void PreviewController::dropPendingPrint()
{
    disconnect(m_printWhenShown);
    disconnect(m_printDropped);
}

void PreviewController::stopTransform()
{
    if (!m_transforming)
        return;
    dropPendingPrint();
    ++m_request;
    m_job->stop();
    setTransforming(false);
}

void PreviewController::ShowPreview(const XmlNode &node)
{
    if (!node || !m_host.dom())
        return;
    m_refresh->stop();
    const quint64 request = ++m_request;
    // A print waits for the preview it asked for, never a later one.
    dropPendingPrint();
    m_job->stop();
    setTransforming(false);
    m_PreviewWhole = node.isDocument();
    // An element is always shown in the built-in view.
    const QString styleSheet = m_PreviewWhole ? m_XslFile : QString();
    if (styleSheet.isEmpty() || !QFileInfo(styleSheet).isFile()) {
        // The face the tree really shows: the browser knows no substitutes
        // the editor may have set up for a configured name.
        const QFont font = m_host.tvw()->font();
        const SourceView view{QFontInfo(font).family(), font.pointSize() > 0 ? font.pointSize() : 10};
        auto *document = new QTextDocument;
        const QByteArray page = view.html(node, SourceViewer::sinkFor(document, view.fontName, view.fontSize).get()).toUtf8();
        show(page, true, QString(), document);
        return;
    }
    const bool asHtml = m_host.isOptionChecked(QStringLiteral("mnuToolPrevHTML"));
    setTransforming(true);
    auto done = [this, request, asHtml](const TransformResult &result) {
        if (request != m_request)
            return;
        setTransforming(false);
        if (result.ok)
            show(result.output, asHtml, result.method, nullptr, result.truncated);
        else
            fail(result.error);
    };
    // The user's style sheet runs on the tree the window shows, in a child
    // sharing it; where it cannot, on a copy in the worker: the whole
    // document as saving would write it, its unchanged parts the file's own
    // bytes, copied rather than written anew.
    if (node.isDocument() && m_job->startOn(*m_host.dom(), styleSheet, done))
        return;
    QByteArray markup;
    if (!node.isDocument() || !m_host.dom()->serialize(&markup))
        markup = m_host.dom()->xmlUtf8(node);
    m_job->start(markup, styleSheet, done);
}

void PreviewController::show(const QByteArray &rendered, bool asHtml, const QString &method, QTextDocument *source, bool truncated)
{
    std::unique_ptr<QTextDocument> owned(source);
    // Written in pieces from the one copy of the output, which may be large.
    QByteArrayView output(rendered);
    if (truncated) {
        // Whole lines; without any, never half a character.
        qsizetype end = output.lastIndexOf('\n') + 1;
        if (end == 0) {
            end = output.size();
            while (end > 0 && (uchar(output[end - 1]) & 0xC0) == 0x80)
                --end;
            if (end > 0 && uchar(output[end - 1]) >= 0xC0)
                --end;
        }
        output.truncate(end);
    }
    const QByteArrayView meta("<META http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-16\">");
    const qsizetype metaAt = output.indexOf(meta);
    // The declared output method decides; without one, an html start tag.
    QString extension = asHtml ? QStringLiteral("htm") : QStringLiteral("xml");
    if (method == QLatin1String("html") || (method != QLatin1String("text") && containsHtmlTag(output)))
        extension = QStringLiteral("htm");
    else if (method == QLatin1String("text") || truncated)
        extension = QStringLiteral("txt"); // a cut XML text shows as text
    QByteArray note;
    if (truncated) {
        const QByteArray text = QStringLiteral("変換結果が大きいため、最初の %1 MB だけを表示しています。")
                                    .arg(TransformJob::limits().outputBytes / (1024 * 1024)).toUtf8();
        note = extension == QLatin1String("htm") ? "\n<div style=\"border-top:1px solid;margin-top:1em\">" + text + "</div>\n"
                                                 : "\n\n" + text + "\n";
    }
    const QString folder = m_host.tempFolder();
    if (folder.isEmpty()) {
        fail(QStringLiteral("作業フォルダーがありません。"));
        return;
    }
    const QString path = QDir(folder).filePath(QStringLiteral("preview.") + extension);
    QSaveFile file(path);
    const auto write = [&file](QByteArrayView bytes) { return file.write(bytes.data(), bytes.size()) == bytes.size(); };
    // Plain text gets the mark that tells the browser it is UTF-8.
    bool written = file.open(QIODevice::WriteOnly) && (extension != QLatin1String("txt") || write("\xEF\xBB\xBF"));
    if (metaAt >= 0)
        written = written && write(output.first(metaAt)) && write(output.sliced(metaAt + meta.size()));
    else
        written = written && write(output);
    if (!written || !write(note) || !file.commit()) {
        fail(file.errorString());
        return;
    }
    m_previewFile = path;
    // The built-in view is drawn by the pane itself; the page file stays
    // beside it for whoever opens it.
    if (source)
        m_pane.showSource(owned.release(), path);
    else
        m_pane.showFile(path);
    emit previewShown(path);
}

void PreviewController::fail(const QString &reason)
{
    emit previewFailed();
    // The pane keeps what it showed.
    m_host.prompt().message(GetResString(13) + QLatin1Char('\n') + reason, Prompt::Icon::Exclamation);
}

void PreviewController::RefreshPreview()
{
    if (m_host.flags().m_ApplyingText || !m_host.dom())
        return;
    // From the event loop: the tree shows the change first, and a burst of
    // changes makes one view.
    if (m_host.isOptionChecked(QStringLiteral("mnuToolPreviewSync")) && m_XslFile.isEmpty() && m_PreviewWhole)
        m_refresh->start();
}

void PreviewController::clear()
{
    dropPendingPrint();
    ++m_request;
    m_job->stop();
    m_refresh->stop();
    setTransforming(false);
    m_previewFile.clear();
    m_pane.showFile(QString());
}

void PreviewController::mnuToolPreview_Click()
{
    if (m_host.dom())
        ShowPreview(m_host.dom()->documentNode());
}

void PreviewController::mnuToolPreviewSel_Click()
{
    const QModelIndex selected = m_host.selection().selectedItem();
    if (!selected.isValid() || !m_host.dom())
        return;
    XmlNode node = m_host.selection().GetSelectedDOMNode();
    if (!node.isElement() && !node.isDocument())
        node = m_host.model().nodeAt(selected.parent());
    ShowPreview(node);
}

void PreviewController::mnuToolSelXSL_Click()
{
    if (!m_host.dom())
        return;
    QString chosen;
    if (!m_host.prompt().openFileDialog(QStringLiteral("プレビュー用XSLファイルの選択"), QStringLiteral("XSLファイル(*.xsl)|*.xsl"),
                                        &chosen, nullptr)) {
        m_XslFile.clear();
        ShowPreview(m_host.dom()->documentNode());
        return;
    }
    useStyleSheet(chosen);
}

void PreviewController::useStyleSheet(const QString &path)
{
    // Read where it lies, so its includes and imports are found beside it
    // and an edit to it counts at the next preview.
    if (!QFileInfo(path).isFile()) {
        m_host.prompt().message(QStringLiteral("ファイルを読めません。\n%1").arg(path), Prompt::Icon::Exclamation);
        m_XslFile.clear();
    } else {
        m_XslFile = QFileInfo(path).absoluteFilePath();
    }
    if (m_host.dom())
        ShowPreview(m_host.dom()->documentNode());
}

void PreviewController::mnuFilePrint_Click()
{
    if (!m_host.dom())
        return;
    ShowPreview(m_host.dom()->documentNode());
    auto printer = std::make_shared<QPrinter>(QPrinter::HighResolution);
    if (!m_host.prompt().printDialog(printer.get()))
        return;
    // The engine prints the page as pictures at the printer's resolution;
    // more than 300 dpi only makes them huge.
    if (printer->resolution() > kMaxPrintDpi)
        printer->setResolution(kMaxPrintDpi);
    // The page is printed once it is rendered and loaded; a failure is
    // said, not swallowed.
    QPointer<PreviewController> self(this);
    auto print = [this, self, printer] {
        m_pane.print(printer.get(), [self, printer](bool ok) {
            if (!ok && self)
                self->m_host.prompt().message(QStringLiteral("印刷できませんでした。"), Prompt::Icon::Exclamation);
            if (self)
                emit self->printed(ok);
        });
    };
    if (!m_transforming) {
        print();
        return;
    }
    m_printWhenShown = connect(this, &PreviewController::previewShown, this, [this, print] {
        dropPendingPrint();
        print();
    });
    m_printDropped = connect(this, &PreviewController::previewFailed, this, &PreviewController::dropPendingPrint);
}

void PreviewController::onClicked(const QString &id)
{
    if (id.isEmpty() || !m_PreviewWhole || !m_host.dom() || !m_host.isOptionChecked(QStringLiteral("mnuToolPreviewSync")))
        return;
    const XmlNode node = nodeForSourceViewId(*m_host.dom(), id);
    if (!node)
        return;
    const QModelIndex item = m_host.model().indexForNode(node);
    if (item.isValid())
        m_host.selection().ShowNode(item, true);
}
