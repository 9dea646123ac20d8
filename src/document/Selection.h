#pragma once

#include "xml/XmlNode.h"

#include <QModelIndex>
#include <QObject>
#include <QStringList>

#include <functional>

class DocumentTreeModel;
class QComboBox;
class NodeTreeView;
class ValuePane;
class WindowContext;
class XmlDocument;

// The selected tree item decides what the window shows: ShowNode fills the
// path box and the value pane for the item's node, locks the pane as the
// node's kind and the options require, enables the clipboard buttons and
// selects the item.
class Selection : public QObject
{
    Q_OBJECT
public:
    // Shows nodes of the document the model shows.
    Selection(WindowContext &window, DocumentTreeModel &model, NodeTreeView &tvw, QComboBox &cboPath,
              ValuePane &txtEdit, QObject *parent = nullptr);

    XmlNode GetDOMNode(const QModelIndex &treeNode) const;
    XmlNode GetSelectedDOMNode() const;
    QModelIndex selectedItem() const;
    // Select an item without raising a node click.
    void setSelectedItem(const QModelIndex &treeNode);
    // While held, changes of the current item (also those the view makes
    // when the current item is removed) raise no node click.
    void holdClicks(bool hold) { m_held = hold; }

    static QString LfToCrLf(const QString &text);

    // The values the value pane offers for a node shown in it.
    void setValueOffer(std::function<QStringList(const XmlNode &)> offer) { m_valueOffer = std::move(offer); }

    // Markup beyond this many bytes is not put into the value pane: the
    // pane shows its beginning, locked, and the status bar says so. A text
    // box holding a whole large document takes seconds and hundreds of
    // megabytes, and re-parsing it on every keystroke would be unusable.
    static constexpr qsizetype kPaneMarkupLimit = 1024 * 1024;
    static QString truncatedNotice();

    void ShowNode(const QModelIndex &treeNode, bool selectIt);
    // The path box shows the element's (or the document's) path.
    void showPath(const QModelIndex &element);

public slots:
    void tvw_NodeClick(const QModelIndex &node);

private:
    void onCurrentChanged(const QModelIndex &current);
    void onClicked(const QModelIndex &index);

    WindowContext &m_window;
    DocumentTreeModel &m_model;
    NodeTreeView &m_tvw;
    QComboBox &m_cboPath;
    ValuePane &m_txtEdit;
    std::function<QStringList(const XmlNode &)> m_valueOffer;
    bool m_selecting = false;
    bool m_held = false;
    QPersistentModelIndex m_clickedByCurrentChange;
};
