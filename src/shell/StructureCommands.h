#pragma once

#include <QObject>

class DocumentHost;
class DocumentLifecycle;
class LabelEditDelegate;
class MainMenu;
class NodeCreator;
class NodeEditor;
class QAction;
class TreeNavigator;

// Wires the structure commands to the window: the Node menu's items and
// the Edit and View menus' structure items, their enabled states worked out
// as each menu opens, the toolbar's delete button, the tree's label editor.
class StructureCommands : public QObject
{
    Q_OBJECT
public:
    StructureCommands(DocumentHost &host, DocumentLifecycle &lifecycle, MainMenu &menu, QAction *deleteButton,
                      QObject *parent = nullptr);

    NodeCreator &creator() { return *m_creator; }
    LabelEditDelegate &delegate() { return *m_delegate; }
    NodeEditor &editor() { return *m_editor; }
    TreeNavigator &navigator() { return *m_navigator; }

    void updateNodeMenu();
    void updateViewMenu();
    void updateEditMenu();

private:
    DocumentHost &m_host;
    MainMenu &m_menu;
    NodeCreator *m_creator;
    NodeEditor *m_editor;
    TreeNavigator *m_navigator;
    LabelEditDelegate *m_delegate;
};
