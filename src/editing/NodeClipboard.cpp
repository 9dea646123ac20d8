#include "NodeClipboard.h"

#include "NodeEditor.h"
#include "Wildcard.h"

#include "document/DocumentHost.h"
#include "document/DocumentLifecycle.h"
#include "document/DocumentTreeModel.h"
#include "document/Prompt.h"
#include "document/Selection.h"
#include "document/TreeBuilder.h"
#include "xml/XmlDocument.h"

#include <QClipboard>
#include <QGuiApplication>
#include "document/NodeTreeView.h"
#include <QRegularExpression>

namespace {

QString notPastedHere()
{
    return QStringLiteral("選択したノードには貼り付けられません。");
}

// Only spaces are trimmed: a line break after markup keeps it from being
// taken for a comment or CDATA section.
QString trimSpaces(const QString &text)
{
    qsizetype from = 0;
    qsizetype to = text.size();
    while (from < to && text[from] == QLatin1Char(' '))
        ++from;
    while (to > from && text[to - 1] == QLatin1Char(' '))
        --to;
    return text.mid(from, to - from);
}

// A namespace declaration that follows a copied prefixed attribute.
struct Declaration
{
    QString prefix;
    QString uri;
    bool needed = false; // the prefix is bound nowhere at the target
};

// Where the attribute's value in `text` ends (its closing quote), after
// `pair` (its "=\""); a declaration of the name's prefix that follows it
// goes to `declared`. Values as copied hold no quote; anything else after
// the value belongs to it, as before.
qsizetype declaredPrefix(const QString &text, qsizetype pair, Declaration *declared)
{
    const qsizetype last = text.size() - 1;
    const qsizetype quote = text.indexOf(QLatin1Char('"'), pair + 2);
    if (quote == last)
        return last;
    static const QRegularExpression declaration(QStringLiteral("^ xmlns:([^\\s=\"]+)=\"([^\"<]*)\"$"));
    const QRegularExpressionMatch match = declaration.match(text.mid(quote + 1));
    const QString name = text.left(pair);
    if (!match.hasMatch() || !name.startsWith(match.captured(1) + QLatin1Char(':')))
        return last;
    declared->prefix = match.captured(1);
    declared->uri = match.captured(2)
                        .replace(QLatin1String("&quot;"), QLatin1String("\""))
                        .replace(QLatin1String("&lt;"), QLatin1String("<"))
                        .replace(QLatin1String("&gt;"), QLatin1String(">"))
                        .replace(QLatin1String("&amp;"), QLatin1String("&"));
    return quote;
}

} // namespace

NodeClipboard::NodeClipboard(DocumentHost &host, DocumentLifecycle &lifecycle, NodeEditor &editor, QObject *parent)
    : QObject(parent), m_host(host), m_lifecycle(lifecycle), m_editor(editor)
{
}

void NodeClipboard::CopyNode(const QModelIndex &treeNode)
{
    const XmlNode node = m_host.selection().GetDOMNode(treeNode);
    if (!node || !m_host.dom())
        return;
    QGuiApplication::clipboard()->setText(m_host.dom()->portableXml(node));
}

void NodeClipboard::mnuEditCopy_Click()
{
    const QModelIndex selected = m_host.selection().selectedItem();
    CopyNode(selected);
    if (!m_host.clipboardText().isEmpty() && m_host.selection().GetDOMNode(selected).isElement())
        m_host.setButtonEnabled(QStringLiteral("paste"), true);
}

void NodeClipboard::mnuEditCut_Click()
{
    if (m_host.flags().m_ReadOnly)
        return;
    const QModelIndex selected = m_host.selection().selectedItem();
    CopyNode(selected);
    m_editor.DeleteNode(selected);
    const QModelIndex current = m_host.tvw()->currentIndex();
    if (current.isValid())
        m_host.selection().ShowNode(current, true);
}

void NodeClipboard::mnuEditPaste_Click()
{
    if (m_host.flags().m_ReadOnly)
        return;
    PasteNode(m_host.selection().selectedItem());
}

QModelIndex NodeClipboard::PasteNode(const QModelIndex &treeNode)
{
    return insertText(treeNode, trimSpaces(m_host.clipboardText())).item;
}

NodeClipboard::Inserted NodeClipboard::insertText(const QModelIndex &treeNode, const QString &text)
{
    if (!treeNode.isValid() || !m_host.dom())
        return {};
    Inserted inserted = InsertFromText(treeNode, text);
    if (inserted.item.isValid()) {
        const QPersistentModelIndex keep(inserted.item);
        m_host.treeBuilder().EnsureVisible(keep);
        m_host.selection().ShowNode(keep, true);
        inserted.item = keep;
    }
    // An insertion that changed nothing leaves no history step and no mark.
    if (inserted.changed) {
        m_lifecycle.DocumentModified();
        m_host.refreshPreview();
        if (inserted.droppedReferences)
            m_host.setStatusText(QStringLiteral("外部エンティティへの参照は挿入されませんでした。"));
    }
    return inserted;
}

NodeClipboard::Inserted NodeClipboard::InsertFromText(const QModelIndex &treeNode, const QString &text)
{
    const XmlNode target = m_host.selection().GetDOMNode(treeNode);
    if (!target || !m_host.dom())
        return {};
    XmlDocument &dom = *m_host.dom();
    Prompt &prompt = m_host.prompt();

    // The candidate: an element from markup that parses, else by the text's shape.
    const std::unique_ptr<XmlDocument> parsed = XmlDocument::parse(text);
    XmlNode candidate = parsed ? parsed->documentElement() : XmlNode();
    QString error;
    Declaration declared;
    if (!candidate) {
        if (wildcardMatch(text, QStringLiteral("<!--*-->"))) {
            candidate = dom.createComment(text.mid(4, text.size() - 7), &error);
        } else if (wildcardMatch(text, QStringLiteral("*=\"*\""))) {
            const qsizetype pair = text.indexOf(QStringLiteral("=\""));
            const qsizetype end = declaredPrefix(text, pair, &declared);
            // An invalid name is refused by the document: said, and nothing changes.
            candidate = dom.createAttribute(text.left(pair), &error);
            if (candidate && !dom.setText(candidate, text.mid(pair + 2, end - pair - 2), &error))
                candidate = XmlNode();
        } else if (wildcardMatch(text, QStringLiteral("<[?]*[?]>"))) {
            m_host.setStatusText(QStringLiteral("処理命令は貼り付けられません。"));
            return {};
        } else if (wildcardMatch(text, QStringLiteral("<![[]CDATA[[]*]]>"))) {
            candidate = dom.createCDATASection(text.mid(9, text.size() - 12), &error);
        } else {
            candidate = dom.createTextNode(text, &error);
        }
        if (!candidate) {
            prompt.message(error, Prompt::Icon::Exclamation);
            return {};
        }
    }

    // A prefix bound nowhere would be written into a file that is not
    // namespace-well-formed; refused as an invalid name is.
    if (target.isElement() || target.isDocument()) {
        const QString prefix = dom.unboundPrefix(candidate, target);
        declared.needed = !prefix.isEmpty() && prefix == declared.prefix && target.isElement();
        if (!prefix.isEmpty() && !declared.needed) {
            prompt.message(QStringLiteral("接頭辞「%1」の名前空間が宣言されていません。").arg(prefix),
                           Prompt::Icon::Exclamation);
            return {};
        }
    }

    TreeBuilder &builder = m_host.treeBuilder();
    QModelIndex relative = treeNode;
    int relationship = TreeBuilder::Child;
    Inserted result;
    // The copy takes the replacement text of the markup's entities; those
    // whose text the markup does not have become nothing.
    result.droppedReferences = parsed && candidate.isElement() ? parsed->externalReferences(candidate) : 0;
    switch (target.kind()) {
    case NodeKind::Document:
        if (!candidate.isElement() && candidate.kind() != NodeKind::Comment) {
            m_host.setStatusText(notPastedHere());
            return {};
        }
        result.item = builder.AddNode(relative, candidate, false, relationship);
        result.changed = result.item.isValid();
        return result;
    case NodeKind::Element:
        if (candidate.isAttribute()) {
            const XmlNode existing = target.attributeNode(candidate.nodeName());
            const QString before = existing ? existing.text() : QString();
            // The attribute's namespace is declared on the element it joins,
            // and taken off again when it does not join.
            const QString declaration = QStringLiteral("xmlns:") + declared.prefix;
            if (declared.needed && !dom.setAttribute(target, declaration, declared.uri, &error)) {
                prompt.message(error, Prompt::Icon::Exclamation);
                return {};
            }
            result.item = builder.AddAttributeNode(treeNode, candidate, false);
            if (declared.needed && !result.item.isValid())
                dom.removeAttribute(target, declaration);
            result.changed = result.item.isValid() || (existing && existing.text() != before);
            if (existing && before == candidate.text())
                m_host.setStatusText(QStringLiteral("同じ値の属性がすでにあります。"));
            return result;
        }
        result.item = builder.AddNode(relative, candidate, false, relationship);
        result.changed = result.item.isValid();
        return result;
    case NodeKind::Attribute:
    case NodeKind::Text:
    case NodeKind::Comment:
    case NodeKind::CData:
    case NodeKind::ProcessingInstruction:
        m_host.setStatusText(notPastedHere());
        return {};
    default:
        prompt.message(target.kindName());
        return {};
    }
}

bool NodeClipboard::canCopy() const
{
    const XmlNode node = m_host.selection().GetSelectedDOMNode();
    return node && !node.isDocument();
}

bool NodeClipboard::canCut() const
{
    return !m_host.flags().m_ReadOnly && canCopy();
}

bool NodeClipboard::canPaste() const
{
    return !m_host.flags().m_ReadOnly && m_host.selection().GetSelectedDOMNode().isElement();
}
