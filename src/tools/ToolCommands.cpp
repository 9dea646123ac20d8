#include "ToolCommands.h"

#include "TreePrinter.h"
#include "base/StringTable.h"
#include "ChildEnvironment.h"
#include "document/DocumentHost.h"
#include "document/DocumentLifecycle.h"
#include "document/DocumentTreeModel.h"
#include "document/Prompt.h"
#include "document/Selection.h"
#include "document/TreeBuilder.h"
#include "xml/XmlDocument.h"

#include <QNetworkAccessManager>
#include <QPrinter>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QFileInfo>
#include <QProcess>
#include "document/NodeTreeView.h"
#include <QUrl>

ToolCommands::ToolCommands(DocumentHost &host, DocumentLifecycle &lifecycle, QObject *parent)
    : QObject(parent), m_host(host), m_lifecycle(lifecycle)
{
}

void ToolCommands::warn(const QString &text)
{
    m_host.prompt().message(text, Prompt::Icon::Exclamation);
}

bool ToolCommands::canClearValues() const
{
    return m_host.dom() && !m_host.flags().m_ReadOnly;
}

bool ToolCommands::canOpenInProgram() const
{
    // A document without a file (new, or given as markup) has only a name
    // that is no path.
    return m_host.flags().m_HasFile && !m_host.flags().m_FileName.isEmpty();
}

int ToolCommands::ClearTextValues(XmlDocument &document, const XmlNode &node)
{
    int changed = 0;
    switch (node.kind()) {
    case NodeKind::Text:
    case NodeKind::Comment:
        if (document.removeNode(node))
            ++changed;
        break;
    case NodeKind::Element:
    case NodeKind::Document:
        // From the last child to the first, so removals do not disturb the
        // children still to visit.
        for (XmlNode child = node.lastChild(); child;) {
            const XmlNode previous = child.previousSibling();
            changed += ClearTextValues(document, child);
            child = previous;
        }
        if (node.isElement()) {
            QStringList names;
            for (XmlNode a = node.firstAttribute(); a; a = a.nextSibling()) {
                const QString name = a.nodeName();
                // A namespace declaration is no value: emptying it would
                // move the element and its descendants out of their
                // namespace.
                if (name != QLatin1String("xmlns") && !name.startsWith(QLatin1String("xmlns:")) && !a.text().isEmpty())
                    names.prepend(name);
            }
            for (const QString &name : names)
                if (document.setAttribute(node, name, QString()))
                    ++changed;
        }
        break;
    default:
        break;
    }
    return changed;
}

void ToolCommands::mnuToolRemoveText_Click()
{
    if (!canClearValues())
        return;
    if (m_host.prompt().message(GetResString(6), Prompt::Icon::Question, Prompt::Buttons::OkCancel) != Prompt::Answer::Ok)
        return;
    XmlDocument &document = *m_host.dom();
    const int changed = ClearTextValues(document, document.documentNode());
    m_host.treeBuilder().Rebuild(&document, true);
    // The pane would still show a node that may be gone: show the top.
    m_host.selection().ShowNode(m_host.model().documentIndex(), true);
    m_host.showPreview();
    if (changed > 0)
        m_lifecycle.DocumentModified();
}

void ToolCommands::mnuToolSend_Click()
{
    XmlDocument *document = m_host.dom();
    if (!document)
        return;
    QString answer;
    if (!m_host.prompt().inputBox(QStringLiteral("URL?"), &answer) || answer.trimmed().isEmpty())
        return;
    const QUrl url(answer.trimmed(), QUrl::StrictMode);
    const QString scheme = url.scheme().toLower();
    if (!url.isValid() || (scheme != QLatin1String("http") && scheme != QLatin1String("https")) || url.host().isEmpty()) {
        warn(QStringLiteral("URLが正しくありません: %1").arg(answer.trimmed()));
        return;
    }
    QByteArray body;
    QString error;
    if (!document->serialize(&body, &error)) {
        warn(error);
        return;
    }
    if (!m_network)
        m_network = new QNetworkAccessManager(this);
    QNetworkRequest request(url);
    request.setHeader(QNetworkRequest::ContentTypeHeader, QStringLiteral("application/xml"));
    request.setTransferTimeout(sendTimeoutMs);
    QNetworkReply *reply = m_network->post(request, body);
    connect(reply, &QNetworkReply::finished, this, [this, reply] {
        reply->deleteLater();
        // Nothing here cancels a send but the timeout, whose own text
        // ("operation cancelled") would say the user gave up.
        const QNetworkReply::NetworkError code = reply->error();
        const QString failure = code == QNetworkReply::NoError ? QString()
            : code == QNetworkReply::OperationCanceledError || code == QNetworkReply::TimeoutError
            ? resourceString(3203).arg((sendTimeoutMs + 999) / 1000)
            : reply->errorString();
        if (!failure.isEmpty())
            warn(QStringLiteral("送信できませんでした。\n") + failure);
        emit sendFinished(failure);
    });
}

void ToolCommands::mnuToolOpen_Click(const QString &program)
{
    const QString file = m_host.flags().m_FileName;
    if (!canOpenInProgram() || program.isEmpty())
        return;
    // No shell: the path reaches the program as one argument, blanks and
    // all, and absolute, so that a name starting with a dash is no option.
    QProcess process;
    process.setProgram(program);
    process.setArguments({QFileInfo(file).absoluteFilePath()});
    process.setProcessEnvironment(ChildEnvironment::forPrograms());
    if (!process.startDetached())
        warn(process.errorString());
}

void ToolCommands::mnuFilePrintTree_Click()
{
    XmlDocument *document = m_host.dom();
    if (!document)
        return;
    QPrinter printer(QPrinter::HighResolution);
    if (!m_host.prompt().printDialog(&printer))
        return;
    const QList<OutlineLine> lines = treeOutline(*document, m_host.model().showText());
    if (!printOutline(&printer, lines, m_host.tvw()->font()))
        m_host.prompt().message(QStringLiteral("印刷できませんでした。"), Prompt::Icon::Exclamation);
}
