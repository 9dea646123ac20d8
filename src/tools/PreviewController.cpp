#include "PreviewController.h"

#include "PreviewHtml.h"
#include "PreviewPane.h"
#include "document/DocumentHost.h"
#include "document/DocumentTreeModel.h"
#include "document/Prompt.h"
#include "document/Selection.h"
#include "document/StringTable.h"
#include "document/XmlDocument.h"
#include "document/XsltTransform.h"

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QFontInfo>
#include <QPrinter>
#include <QSaveFile>
#include <QThreadPool>
#include <QTreeView>

PreviewController::PreviewController(DocumentHost &host, PreviewPane &pane, QObject *parent)
    : QObject(parent), m_host(host), m_pane(pane)
{
    connect(&m_pane, &PreviewPane::clicked, this, &PreviewController::onClicked);
}

void PreviewController::ShowPreview(const XmlNode &node)
{
    if (!node || !m_host.dom())
        return;
    const quint64 request = ++m_request;
    m_transforming = false;
    m_PreviewWhole = node.isDocument();
    // An element is always shown in the built-in view.
    const QString styleSheet = m_PreviewWhole ? m_XslFile : QString();
    if (styleSheet.isEmpty() || !QFileInfo::exists(styleSheet)) {
        // The face the tree really shows: the browser knows no substitutes
        // the editor may have set up for a configured name.
        const QFont font = m_host.tvw()->font();
        const SourceView view{QFontInfo(font).family(), font.pointSize() > 0 ? font.pointSize() : 10};
        show(view.html(node).toUtf8(), true);
        return;
    }
    // The user's style sheet runs on a copy, away from the window's thread.
    const QByteArray markup = m_host.dom()->xml(node).toUtf8();
    const bool asHtml = m_host.isOptionChecked(QStringLiteral("mnuToolPrevHTML"));
    QPointer<PreviewController> self(this);
    m_transforming = true;
    QThreadPool::globalInstance()->start([self, request, markup, styleSheet, asHtml] {
        const TransformResult result = transformWithStyleSheet(markup, styleSheet);
        QMetaObject::invokeMethod(qApp, [self, request, result, asHtml] {
            if (!self || request != self->m_request)
                return;
            self->m_transforming = false;
            if (result.ok)
                self->show(result.output, asHtml);
            else
                self->fail(result.error);
        });
    });
}

void PreviewController::show(const QByteArray &rendered, bool asHtml)
{
    QByteArray output = rendered;
    const int meta = int(output.indexOf("<META http-equiv=\"Content-Type\" content=\"text/html; charset=UTF-16\">"));
    if (meta >= 0)
        output.remove(meta, 68);
    if (output.toLower().contains("<html"))
        asHtml = true;
    const QString folder = m_host.tempFolder();
    if (folder.isEmpty()) {
        fail(QStringLiteral("作業フォルダーがありません。"));
        return;
    }
    const QString path = QDir(folder).filePath(asHtml ? QStringLiteral("preview.htm") : QStringLiteral("preview.xml"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(output) != output.size() || !file.commit()) {
        fail(file.errorString());
        return;
    }
    m_previewFile = path;
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
    if (m_host.isOptionChecked(QStringLiteral("mnuToolPreviewSync")) && m_XslFile.isEmpty() && m_PreviewWhole)
        ShowPreview(m_host.dom()->documentNode());
}

void PreviewController::clear()
{
    ++m_request;
    m_transforming = false;
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
    const QString copy = QDir(m_host.tempFolder()).filePath(QFileInfo(chosen).fileName());
    QFile::remove(copy);
    if (m_host.tempFolder().isEmpty() || !QFile::copy(chosen, copy)) {
        m_host.prompt().message(QStringLiteral("ファイルをコピーできません。\n%1").arg(chosen), Prompt::Icon::Exclamation);
        m_XslFile.clear();
    } else {
        QFile::setPermissions(copy, QFile::permissions(copy) | QFileDevice::WriteOwner);
        m_XslFile = copy;
    }
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
