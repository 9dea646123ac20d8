#pragma once

#include <QObject>

class DocumentHost;
class DocumentLifecycle;
class MainMenu;
class NodeClipboard;
class NodeEditor;
class NodeFinder;
class QAction;
class QComboBox;
class NodeReplacer;
class ReplaceDialog;
class TreeDragDrop;
class TreeNavigator;

// Wires the clipboard and search commands to the window: the Edit menu's
// items and their states as the menu opens, the toolbar's buttons, the
// tree's keys, dragging and dropping on the tree, and the path box (Enter,
// its list, the go button).
class ClipboardSearchCommands : public QObject
{
    Q_OBJECT
public:
    struct Controls
    {
        QAction *cut = nullptr;
        QAction *copy = nullptr;
        QAction *paste = nullptr;
        QAction *find = nullptr;
        QAction *go = nullptr;
        QComboBox *cboPath = nullptr;
    };

    ClipboardSearchCommands(DocumentHost &host, DocumentLifecycle &lifecycle, MainMenu &menu, NodeEditor &editor,
                            TreeNavigator &navigator, const Controls &controls, QObject *parent = nullptr);

    NodeClipboard &clipboard() { return *m_clipboard; }
    NodeFinder &finder() { return *m_finder; }
    TreeDragDrop &dragDrop() { return *m_dragDrop; }
    NodeReplacer &replacer() { return *m_replacer; }
    // The find-and-replace window, made when first asked for.
    ReplaceDialog *replaceDialog() const { return m_replaceDialog; }
    void showReplaceDialog();

    void updateEditMenu();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    DocumentHost &m_host;
    MainMenu &m_menu;
    NodeClipboard *m_clipboard;
    NodeFinder *m_finder;
    NodeReplacer *m_replacer;
    ReplaceDialog *m_replaceDialog = nullptr;
    TreeDragDrop *m_dragDrop = nullptr;
    QObject *m_pathEdit = nullptr;
    QObject *m_pathBox = nullptr;
};
