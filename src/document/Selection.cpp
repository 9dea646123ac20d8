#include "Selection.h"

#include "DocumentTreeModel.h"
#include "Prompt.h"
#include "ValuePane.h"
#include "WindowContext.h"
#include "xml/XmlDocument.h"

#include <QComboBox>
#include <QItemSelectionModel>
#include "NodeTreeView.h"

Selection::Selection(WindowContext &window, DocumentTreeModel &model, NodeTreeView &tvw, QComboBox &cboPath,
                     ValuePane &txtEdit, QObject *parent)
    : QObject(parent), m_window(window), m_model(model), m_tvw(tvw), m_cboPath(cboPath),
      m_txtEdit(txtEdit)
{
    // A click and a keyboard move both count as a node click; a click that
    // also moved the current item is handled once.
    connect(m_tvw.selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex &current) { onCurrentChanged(current); });
    connect(&m_tvw, &NodeTreeView::clicked, this, [this](const QModelIndex &index) { onClicked(index); });
}

XmlNode Selection::GetDOMNode(const QModelIndex &treeNode) const
{
    if (!treeNode.isValid() || treeNode.model() != &m_model)
        return XmlNode();
    return m_model.nodeAt(treeNode);
}

XmlNode Selection::GetSelectedDOMNode() const
{
    return GetDOMNode(selectedItem());
}

QModelIndex Selection::selectedItem() const
{
    const QModelIndex current = m_tvw.selectionModel() ? m_tvw.selectionModel()->currentIndex() : QModelIndex();
    return current.isValid() && m_tvw.selectionModel()->isSelected(current) ? current : QModelIndex();
}

void Selection::setSelectedItem(const QModelIndex &treeNode)
{
    m_selecting = true;
    m_tvw.selectionModel()->setCurrentIndex(treeNode, QItemSelectionModel::ClearAndSelect);
    m_selecting = false;
}

QString Selection::LfToCrLf(const QString &text)
{
    QString result;
    result.reserve(text.size());
    for (const QChar c : text) {
        if (c == QLatin1Char('\n'))
            result += QLatin1Char('\r');
        result += c;
    }
    return result;
}

QString Selection::truncatedNotice()
{
    return QStringLiteral("大きすぎるため先頭の部分だけを表示しています（値ペインでは編集できません）。");
}

void Selection::showPath(const QModelIndex &element)
{
    // The full path starts with the document's label and a "/".
    m_cboPath.setEditText(QStringLiteral("/") + m_model.fullPath(element).mid(10));
}

void Selection::ShowNode(const QModelIndex &treeNode, bool selectIt)
{
    if (!treeNode.isValid())
        return;
    const XmlNode domNode = GetDOMNode(treeNode);
    if (!domNode)
        return;
    WindowFlags &flags = m_window.flags();
    flags.m_PaneUpdating = true;
    bool truncated = false;
    switch (domNode.kind()) {
    case NodeKind::Element:
    case NodeKind::Document:
        showPath(treeNode);
        m_txtEdit.setValue(m_model.document()->xml(domNode, kPaneMarkupLimit, &truncated));
        m_txtEdit.setLocked(truncated || flags.m_ReadOnly || m_window.isOptionChecked(QStringLiteral("mnuViewLock")));
        break;
    case NodeKind::Attribute:
    case NodeKind::Text:
    case NodeKind::Comment:
    case NodeKind::CData:
        m_txtEdit.setValue(domNode.text());
        m_txtEdit.setLocked(flags.m_ReadOnly);
        break;
    case NodeKind::ProcessingInstruction:
    case NodeKind::DocumentType:
        m_cboPath.setEditText(QStringLiteral("/"));
        m_txtEdit.setValue(domNode.text());
        m_txtEdit.setLocked(true);
        break;
    default:
        m_window.prompt().message(domNode.kindName() + QStringLiteral(" cannot modify"));
        break;
    }
    m_txtEdit.setOffered(m_valueOffer && domNode.isAttribute() ? m_valueOffer(domNode) : QStringList());
    flags.m_PaneUpdating = false;

    // A node about to be selected counts as selected: otherwise the first
    // node shown after a rebuild would leave copy, cut and delete disabled.
    const bool copyAllowed = (selectIt || selectedItem().isValid()) && !domNode.isDocument();
    const bool pasteAllowed = !flags.m_ReadOnly && !m_window.clipboardText().isEmpty()
        && (domNode.isElement() || domNode.isDocument());
    m_window.setButtonEnabled(QStringLiteral("paste"), pasteAllowed);
    m_window.setButtonEnabled(QStringLiteral("copy"), copyAllowed);
    m_window.setButtonEnabled(QStringLiteral("cut"), !flags.m_ReadOnly && copyAllowed);
    m_window.setButtonEnabled(QStringLiteral("delete"), !flags.m_ReadOnly && copyAllowed);

    if (selectIt && selectedItem() != treeNode)
        setSelectedItem(treeNode);
    m_window.setStatusText(truncated ? truncatedNotice() : QString());
}

void Selection::tvw_NodeClick(const QModelIndex &node)
{
    ShowNode(node, true);
}

void Selection::onCurrentChanged(const QModelIndex &current)
{
    if (m_selecting || m_held || !current.isValid())
        return;
    m_clickedByCurrentChange = current;
    tvw_NodeClick(current);
}

void Selection::onClicked(const QModelIndex &index)
{
    if (m_clickedByCurrentChange.isValid() && m_clickedByCurrentChange == index) {
        m_clickedByCurrentChange = QPersistentModelIndex();
        return;
    }
    m_clickedByCurrentChange = QPersistentModelIndex();
    tvw_NodeClick(index);
}
