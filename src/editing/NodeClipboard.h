#pragma once

#include <QModelIndex>
#include <QObject>
#include <QString>

class DocumentHost;
class DocumentLifecycle;
class NodeEditor;

// Cut, copy and paste of whole nodes through the system clipboard, as
// plain text: a node's markup goes out, and text coming in becomes a node
// (InsertFromText, shared with dropping). Each command checks for itself
// that it applies, as keys and buttons reach it whatever the menu's states.
class NodeClipboard : public QObject
{
    Q_OBJECT
public:
    NodeClipboard(DocumentHost &host, DocumentLifecycle &lifecycle, NodeEditor &editor, QObject *parent = nullptr);

    void mnuEditCut_Click();
    void mnuEditCopy_Click();
    void mnuEditPaste_Click();

    // Put the markup of `treeNode`'s node on the clipboard.
    void CopyNode(const QModelIndex &treeNode);
    // Insert the clipboard's text (spaces trimmed) under `treeNode`; the new
    // item, selected, or invalid when nothing new has an item.
    QModelIndex PasteNode(const QModelIndex &treeNode);

    struct Inserted
    {
        QModelIndex item;     // the new node's item, if one was made
        bool changed = false; // the document changed (also when an attribute only got a new value)
        int droppedReferences = 0; // references to entities without text, left out
    };
    // What pasting and dropping share: InsertFromText, then the new item
    // selected and in view, and the change recorded.
    Inserted insertText(const QModelIndex &treeNode, const QString &text);
    // Make a node from `text` and put it under `treeNode`: markup with a
    // root element gives that element; "<!--...-->" a comment; name="value"
    // an attribute; "<![CDATA[...]]>" a CDATA section; "<?...?>" nothing;
    // anything else a text node. When nothing changes the status bar or a
    // message says why.
    Inserted InsertFromText(const QModelIndex &treeNode, const QString &text);

    // Enabled states of the Edit menu's clipboard items.
    bool canCopy() const;
    bool canCut() const;
    bool canPaste() const;

private:
    DocumentHost &m_host;
    DocumentLifecycle &m_lifecycle;
    NodeEditor &m_editor;
};
