#include "PreviewController.h"

#include "base/StringTable.h"
#include "document/DocumentHost.h"
#include "document/DocumentTreeModel.h"
#include "document/Prompt.h"
#include "document/Selection.h"
#include "PreviewHtml.h"
#include "PreviewPane.h"
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
#include "document/NodeTreeView.h"

namespace {
constexpr int kMaxPrintDpi = 300;
}

PreviewController::PreviewController(DocumentHost &host, PreviewPane &pane, QObject *parent)
    : QObject(parent), m_host(host), m_pane(pane), m_job(new TransformJob(this)),
      m_stop(new QShortcut(QKeySequence(Qt::Key_Escape), pane.window(), nullptr, nullptr, Qt::WindowShortcut))
{
    connect(&m_pane, &PreviewPane::clicked, this, &PreviewController::onClicked);
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

void PreviewController::stopTransform()
{
    if (!m_transforming)
        return;
    ++m_request;
    m_job->stop();
    setTransforming(false);
}

void PreviewController::ShowPreview(const XmlNode &node)
{
    if (!node || !m_host.dom())
        return;
    const quint64 request = ++m_request;
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
        show(view.html(node).toUtf8(), true, QString(), true);
        return;
    }
    // The user's style sheet runs on a copy of the document, in a worker.
    const QByteArray markup = m_host.dom()->xml(node).toUtf8();
    const bool asHtml = m_host.isOptionChecked(QStringLiteral("mnuToolPrevHTML"));
    setTransforming(true);
    m_job->start(markup, styleSheet, [this, request, asHtml](const TransformResult &result) {
        if (request != m_request)
            return;
        setTransforming(false);
        if (result.ok)
            show(result.output, asHtml, result.method);
        else
            fail(result.error);
    });
}

void PreviewController::show(const QByteArray &rendered, bool asHtml, const QString &method, bool builtIn)
{
    QByteArray output = rendered;
    const int meta = int(output.indexOf("<META http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-16\">"));
    if (meta >= 0)
        output.remove(meta, 68);
    // The declared output method decides; without one, an html start tag.
    QString extension = asHtml ? QStringLiteral("htm") : QStringLiteral("xml");
    if (method == QLatin1String("html") || (method != QLatin1String("text") && output.toLower().contains("<html")))
        extension = QStringLiteral("htm");
    else if (method == QLatin1String("text")) {
        // Plain text, and the mark tells the browser it is UTF-8.
        extension = QStringLiteral("txt");
        output.prepend("\xEF\xBB\xBF");
    }
    const QString folder = m_host.tempFolder();
    if (folder.isEmpty()) {
        fail(QStringLiteral("作業フォルダーがありません。"));
        return;
    }
    const QString path = QDir(folder).filePath(QStringLiteral("preview.") + extension);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(output) != output.size() || !file.commit()) {
        fail(file.errorString());
        return;
    }
    m_previewFile = path;
    // Scripts run only in the built-in view, which the editor writes itself.
    m_pane.showFile(path, builtIn ? PreviewPane::Scripts::Allowed : PreviewPane::Scripts::Off);
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
    if (m_host.isOptionChecked(QStringLiteral("mnuToolPreviewSync")) && m_XslFile.isEmpty() && m_PreviewWhole)
        ShowPreview(m_host.dom()->documentNode());
}

void PreviewController::clear()
{
    ++m_request;
    m_job->stop();
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
    auto shown = std::make_shared<QMetaObject::Connection>();
    auto failed = std::make_shared<QMetaObject::Connection>();
    *shown = connect(this, &PreviewController::previewShown, this, [shown, failed, print] {
        disconnect(*shown);
        disconnect(*failed);
        print();
    });
    *failed = connect(this, &PreviewController::previewFailed, this, [shown, failed] {
        disconnect(*shown);
        disconnect(*failed);
    });
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
