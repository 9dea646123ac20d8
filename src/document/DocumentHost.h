#pragma once

#include "WindowContext.h"

#include <memory>

class DocumentTreeModel;
class NodeTreeView;
class Selection;
class TreeBuilder;
class ValuePane;
class XmlDocument;

// What the document's lifecycle needs of its window beyond WindowContext.
class DocumentHost : public WindowContext
{
public:
    // The window's document; null when the window is empty.
    virtual XmlDocument *dom() const = 0;
    // Make `document` the window's document (null: none). The tree is
    // emptied; the caller rebuilds it.
    virtual void setDom(std::unique_ptr<XmlDocument> document) = 0;
    virtual TreeBuilder &treeBuilder() = 0;
    virtual Selection &selection() = 0;
    virtual DocumentTreeModel &model() = 0;
    virtual NodeTreeView *tvw() const = 0;
    virtual ValuePane *txtEdit() const = 0;
    virtual void setCaption(const QString &caption) = 0;
    // Show the whole document in the preview; blank it when there is none.
    virtual void showPreview() = 0;
    virtual void addRecentFile(const QString &path) = 0;
    // The window's private working folder; empty when it could not be made.
    virtual QString tempFolder() const = 0;
    // The undo history: start anew from the present state, or record the
    // change just made.
    virtual void resetUndo() = 0;
    virtual void recordUndo() = 0;
    // The document was opened, saved, closed or recovered: its unsaved
    // state may have changed.
    virtual void documentStateChanged() {}
};
