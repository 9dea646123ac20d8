#include "StructureCommands.h"

#include "MainMenu.h"
#include "document/DocumentHost.h"
#include "document/Selection.h"
#include "editing/LabelEditDelegate.h"
#include "editing/NodeCreator.h"
#include "editing/NodeEditor.h"
#include "editing/TreeNavigator.h"

#include <QAction>
#include <QMenu>
#include "document/NodeTreeView.h"

StructureCommands::StructureCommands(DocumentHost &host, DocumentLifecycle &lifecycle, MainMenu &menu,
                                     QAction *deleteButton, QObject *parent)
    : QObject(parent), m_host(host), m_menu(menu), m_creator(new NodeCreator(host, lifecycle, this)),
      m_editor(new NodeEditor(host, lifecycle, this)),
      m_navigator(new TreeNavigator(host, *m_creator, *m_editor, menu.menu(QStringLiteral("mnuNode")), this)),
      m_delegate(new LabelEditDelegate(*m_editor, this))
{
    NodeTreeView *tvw = m_host.tvw();
    tvw->setItemDelegate(m_delegate);
    // A click on the selected item opens the label editor too.
    tvw->setEditTriggers(QAbstractItemView::SelectedClicked);

    auto on = [this](const char *name, auto slot) {
        connect(m_menu.item(QString::fromLatin1(name)), &QAction::triggered, this, slot);
    };
    using Kind = NodeCreator::Kind;
    on("mnuNodeAddElement", [this] { m_creator->add(Kind::Element); });
    on("mnuNodeAddAttribute", [this] { m_creator->add(Kind::Attribute); });
    on("mnuNodeAddText", [this] { m_creator->add(Kind::Text); });
    on("mnuNodeAddComment", [this] { m_creator->add(Kind::Comment); });
    on("mnuNodeAddCDATA", [this] { m_creator->add(Kind::CData); });
    on("mnuNodeInsElement", [this] { m_creator->insert(Kind::Element); });
    on("mnuNodeInsText", [this] { m_creator->insert(Kind::Text); });
    on("mnuNodeInsComment", [this] { m_creator->insert(Kind::Comment); });
    on("mnuNodeInsCDATA", [this] { m_creator->insert(Kind::CData); });
    on("mnuNodeMoveUp", [this] { m_editor->mnuNodeMoveUp_Click(); });
    on("mnuNodeMoveDown", [this] { m_editor->mnuNodeMoveDown_Click(); });
    on("mnuNodeDelete", [this] { m_editor->mnuEditDelete_Click(); });
    on("mnuEditDelete", [this] { m_editor->mnuEditDelete_Click(); });
    on("mnuEditRename", [this] { m_editor->mnuEditRename_Click(); });
    on("mnuNodeExpand", [this] { m_navigator->mnuNodeExpand_Click(); });
    on("mnuNodeCollapse", [this] { m_navigator->mnuNodeCollapse_Click(); });
    // The item is checkable: its check mark has already turned.
    on("mnuViewText", [this](bool checked) { m_navigator->mnuViewText_Click(checked); });
    // The name lock is read where it applies; its check mark is all it is.
    if (deleteButton)
        connect(deleteButton, &QAction::triggered, this, [this] { m_editor->mnuEditDelete_Click(); });

    m_menu.updateOnOpen(QStringLiteral("mnuNode"), [this] { updateNodeMenu(); });
    m_menu.updateOnOpen(QStringLiteral("mnuView"), [this] { updateViewMenu(); });
    m_menu.updateOnOpen(QStringLiteral("mnuEdit"), [this] { updateEditMenu(); });
}

void StructureCommands::updateNodeMenu()
{
    const NodeMenuStates s = m_creator->menuStates();
    auto set = [this](const char *name, bool enabled) { m_menu.item(QString::fromLatin1(name))->setEnabled(enabled); };
    set("mnuNodeAddElement", s.addElement);
    for (const char *name : {"mnuNodeAddAttribute", "mnuNodeAddText", "mnuNodeAddComment", "mnuNodeAddCDATA"})
        set(name, s.addOther);
    for (const char *name : {"mnuNodeInsElement", "mnuNodeInsText", "mnuNodeInsComment", "mnuNodeInsCDATA"})
        set(name, s.insert);
    set("mnuNodeMoveUp", s.moveUp);
    set("mnuNodeMoveDown", s.moveDown);
    set("mnuNodeExpand", s.expandCollapse);
    set("mnuNodeCollapse", s.expandCollapse);
}

void StructureCommands::updateViewMenu()
{
    const bool enabled = canExpandCollapse(m_host.selection().GetSelectedDOMNode());
    m_menu.item(QStringLiteral("mnuNodeExpand"))->setEnabled(enabled);
    m_menu.item(QStringLiteral("mnuNodeCollapse"))->setEnabled(enabled);
}

void StructureCommands::updateEditMenu()
{
    const bool enabled = canDeleteOrRename(m_host.selection().GetSelectedDOMNode(), m_host.flags().m_ReadOnly);
    m_menu.item(QStringLiteral("mnuEditDelete"))->setEnabled(enabled);
    m_menu.item(QStringLiteral("mnuEditRename"))->setEnabled(enabled);
}
