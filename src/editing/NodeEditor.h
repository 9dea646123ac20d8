#pragma once

#include <QModelIndex>
#include <QObject>
#include <QString>

#include <functional>
#include <utility>

class DocumentHost;
class DocumentLifecycle;
class XmlNode;

// Deleting, moving and renaming nodes from the tree. Renames go through the
// tree's own label editor: however an edit starts, tvw_BeforeLabelEdit
// decides whether it may, and tvw_AfterLabelEdit applies the typed text.
// Each command checks for itself that it applies.
class NodeEditor : public QObject
{
    Q_OBJECT
public:
    NodeEditor(DocumentHost &host, DocumentLifecycle &lifecycle, QObject *parent = nullptr);

    // Delete: refuses the document item (1005), asks first (1006, No by
    // default), then removes the selected node with its subtree.
    void mnuEditDelete_Click();
    // Remove the node of `treeNode` from the document; its items go with it.
    // Refusals are reported and change nothing. True when it was removed.
    bool DeleteNode(const QModelIndex &treeNode);

    void mnuNodeMoveUp_Click();
    void mnuNodeMoveDown_Click();

    // Open the label editor on the selected item.
    void mnuEditRename_Click();

    // True when an edit of `item`'s label may start.
    bool tvw_BeforeLabelEdit(const QModelIndex &item) const;
    // What the label editor starts with: an attribute's name alone, for the
    // rest the label.
    QString labelEditText(const QModelIndex &item) const;
    // Apply `newString` typed for `item`. False when it was refused (the
    // label stays as it was and the document unchanged).
    bool tvw_AfterLabelEdit(const QModelIndex &item, const QString &newString);

    // For a name a schema offered whose prefix nothing declares where the
    // node stands: the prefix and namespace a rename declares on the element.
    using DeclarationNeed = std::function<std::pair<QString, QString>(const XmlNode &node, const QString &name)>;
    void setDeclarationNeed(DeclarationNeed need) { m_declarationNeed = std::move(need); }

private:
    void move(bool up);
    bool renameElement(const QModelIndex &item, const QString &newString);
    bool renameAttribute(const QModelIndex &item, const QString &newString);
    bool setContent(const QModelIndex &item, const QString &newString);
    bool refuse(const QString &description);
    bool declareFor(const XmlNode &node, const QString &name, QString *error);

    DocumentHost &m_host;
    DocumentLifecycle &m_lifecycle;
    DeclarationNeed m_declarationNeed;
};
