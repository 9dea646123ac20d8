#include "NodeReplacer.h"

#include "NodeFinder.h"

#include "base/StringTable.h"
#include "document/DocumentHost.h"
#include "document/DocumentLifecycle.h"
#include "document/DocumentTreeModel.h"
#include "document/Prompt.h"
#include "document/Selection.h"
#include "document/TreeBuilder.h"
#include "xml/TextSearch.h"
#include "xml/XmlDocument.h"

namespace {

XmlNode parentRow(const XmlNode &node)
{
    return node.isAttribute() ? node.ownerElement() : node.parentNode();
}

// Whether the request looks at this part of the node.
bool wanted(const XmlNode &node, int field, int targets)
{
    using R = ReplaceRequest;
    switch (node.kind()) {
    case NodeKind::Element:
        return field == 0 && (targets & R::ElementNames);
    case NodeKind::Attribute:
        return targets & (field == 0 ? R::AttributeNames : R::AttributeValues);
    case NodeKind::Text:
    case NodeKind::CData:
        return field == 1 && (targets & R::Text);
    case NodeKind::Comment:
        return field == 1 && (targets & R::Comments);
    case NodeKind::ProcessingInstruction:
        return field == 1 && (targets & R::Instructions);
    default:
        return false;
    }
}

QString fieldText(const XmlNode &node, int field)
{
    return field == 0 ? node.nodeName() : node.text();
}

} // namespace

NodeReplacer::NodeReplacer(DocumentHost &host, DocumentLifecycle &lifecycle, QObject *parent)
    : QObject(parent), m_host(host), m_lifecycle(lifecycle)
{
}

bool NodeReplacer::canReplace() const
{
    return m_host.dom() && !m_host.flags().m_ReadOnly;
}

bool NodeReplacer::Scope::contains(const XmlNode &node) const
{
    if (roots.isEmpty())
        return true;
    for (XmlNode n = node; n; n = parentRow(n))
        if (roots.contains(n))
            return true;
    return false;
}

bool NodeReplacer::scopeOf(const ReplaceRequest &request, Scope *scope, QString *message) const
{
    XmlDocument &dom = *m_host.dom();
    scope->first = dom.documentNode();
    switch (request.scope) {
    case ReplaceRequest::Scope::Document:
        return true;
    case ReplaceRequest::Scope::Subtree:
        // A node deleted since it was chosen has nothing left to search.
        if (!request.subtree) {
            *message = resourceString(3415);
            return false;
        }
        scope->first = request.subtree;
        scope->end = NodeFinder::nextOutside(request.subtree);
        return true;
    case ReplaceRequest::Scope::Path: {
        // From where the path box would run it: the selected element (an
        // attribute's or a text's element), or the document.
        XmlNode context = m_host.selection().GetSelectedDOMNode();
        if (context && !context.isElement() && !context.isDocument())
            context = parentRow(context);
        QList<XmlNode> found;
        if (!dom.selectNodes(request.path, context, &found, message))
            return false;
        if (found.isEmpty()) {
            *message = QStringLiteral("見つかりませんでした");
            return false;
        }
        scope->roots = QSet<XmlNode>(found.cbegin(), found.cend());
        return true;
    }
    }
    return false;
}

bool NodeReplacer::findNext(const ReplaceRequest &request, QString *message)
{
    message->clear();
    if (!m_host.dom())
        return false;
    const TextMatcher matcher(request);
    Scope scope;
    if (!(*message = matcher.error()).isEmpty() || !scopeOf(request, &scope, message))
        return false;
    // After the match found last, or after the item the user selected since
    // (from the subtree's top when that lies outside it).
    const QByteArray required = matcher.requiredBytes();
    const XmlNode selected = m_host.selection().GetSelectedDOMNode();
    XmlNode n = scope.first;
    int field = Name;
    if (selected && m_found.isValid() && m_found == m_host.selection().selectedItem()) {
        n = selected;
        field = m_foundField + 1;
    } else if (selected && (request.scope != ReplaceRequest::Scope::Subtree
                            || (request.subtree != selected && request.subtree.isAncestorOf(selected)))) {
        n = selected;
        field = Fields;
    }
    for (; n && n != scope.end; n = NodeFinder::nextInTree(n), field = Name) {
        if (!scope.contains(n))
            continue;
        for (; field < Fields; ++field) {
            if (!wanted(n, field, request.targets)
                || (field == Value && !required.isEmpty() && !textMayContain(n, required, matcher.caseless()))
                || matcher.count(fieldText(n, field)) == 0)
                continue;
            const QModelIndex item = m_host.model().indexForNode(n);
            if (!item.isValid())
                continue;
            m_found = item;
            m_foundField = field;
            m_host.setStatusText(QString());
            m_host.treeBuilder().EnsureVisible(item);
            m_host.selection().ShowNode(item, true);
            return true;
        }
    }
    *message = QStringLiteral("終わりまで検索しました。");
    m_host.setStatusText(*message);
    return false;
}

bool NodeReplacer::apply(const XmlNode &node, int field, const QString &text, QString *error)
{
    if (field == Value)
        return m_host.dom()->setText(node, text, error);
    // Names are locked as against a rename in the tree.
    if (m_host.isOptionChecked(QStringLiteral("mnuViewLock"))) {
        *error = resourceString(3414);
        return false;
    }
    return m_host.dom()->rename(node, text, error);
}

// One step of the history for all that changed, and the window's panes
// shown anew as after any edit.
void NodeReplacer::changed()
{
    m_lifecycle.DocumentModified();
    const QModelIndex selected = m_host.selection().selectedItem();
    if (selected.isValid())
        m_host.selection().ShowNode(selected, false);
    m_host.refreshPreview();
}

bool NodeReplacer::replace(const ReplaceRequest &request, QString *message)
{
    message->clear();
    if (!canReplace())
        return false;
    const TextMatcher matcher(request);
    if (!(*message = matcher.error()).isEmpty())
        return false;
    const XmlNode found = m_found.isValid() ? m_host.model().nodeAt(m_found) : XmlNode();
    if (found && m_found == m_host.selection().selectedItem()) {
        const QString text = fieldText(found, m_foundField);
        int count = 0;
        const QString result = matcher.replaced(text, &count);
        if (count > 0 && result != text) {
            if (!apply(found, m_foundField, result, message)) {
                m_host.setStatusText(*message);
                return false;
            }
            changed();
        }
    }
    return findNext(request, message);
}

int NodeReplacer::replaceAll(const ReplaceRequest &request, QString *message)
{
    message->clear();
    if (!canReplace())
        return 0;
    const TextMatcher matcher(request);
    Scope scope;
    if (!(*message = matcher.error()).isEmpty() || !scopeOf(request, &scope, message))
        return 0;
    const std::unique_ptr<Prompt::Progress> progress = m_host.prompt().progress(resourceString(3413), 0);
    int replaced = 0;
    int skipped = 0;
    bool anyChange = false;
    QString reason;
    unsigned visited = 0;
    // Most values do not hold the text: they are passed over on their bytes,
    // and without names to look at, on the tree's links.
    const QByteArray required = matcher.requiredBytes();
    const bool valuesOnly = !required.isEmpty()
        && !(request.targets & (ReplaceRequest::ElementNames | ReplaceRequest::AttributeNames));
    const auto next = [&](const XmlNode &n) {
        return valuesOnly ? nextTextMayContain(n, scope.end, required, matcher.caseless()) : NodeFinder::nextInTree(n);
    };
    for (XmlNode n = scope.first; n && n != scope.end; n = next(n)) {
        // Cancelled, what is replaced so far stays as one step to undo.
        if (progress && (++visited & 0xFFFF) == 0 && !progress->advance(0))
            break;
        if (!scope.contains(n))
            continue;
        for (int field = Name; field < Fields; ++field) {
            if (!wanted(n, field, request.targets)
                || (field == Value && !required.isEmpty() && !textMayContain(n, required, matcher.caseless())))
                continue;
            const QString text = fieldText(n, field);
            int count = 0;
            const QString result = matcher.replaced(text, &count);
            if (count == 0)
                continue;
            QString why;
            if (result == text || apply(n, field, result, &why)) {
                replaced += count;
                anyChange = anyChange || result != text;
                continue;
            }
            skipped += count;
            if (reason.isEmpty())
                reason = why;
        }
    }
    if (anyChange)
        changed();
    if (replaced == 0 && skipped == 0)
        *message = QStringLiteral("見つかりませんでした");
    else
        *message = resourceString(3401).arg(replaced);
    if (skipped > 0)
        *message += resourceString(3402).arg(skipped) + reason;
    m_host.setStatusText(*message);
    return replaced;
}
