#include "ClipboardSearchCommands.h"

#include "MainMenu.h"
#include "ReplaceDialog.h"
#include "document/DocumentHost.h"
#include "document/NodeTreeView.h"
#include "editing/NodeClipboard.h"
#include "editing/NodeFinder.h"
#include "editing/NodeReplacer.h"
#include "editing/TreeDragDrop.h"
#include "editing/TreeNavigator.h"

#include <QAction>
#include <QComboBox>
#include <QKeyEvent>
#include <QLineEdit>

ClipboardSearchCommands::ClipboardSearchCommands(DocumentHost &host, DocumentLifecycle &lifecycle, MainMenu &menu,
                                                 NodeEditor &editor, TreeNavigator &navigator,
                                                 const Controls &controls, QObject *parent)
    : QObject(parent), m_host(host), m_menu(menu), m_clipboard(new NodeClipboard(host, lifecycle, editor, this)),
      m_finder(new NodeFinder(host, *controls.cboPath, this)), m_replacer(new NodeReplacer(host, lifecycle, this))
{
    navigator.setClipboardAndFinder(m_clipboard, m_finder);
    m_dragDrop = new TreeDragDrop(host, lifecycle, *m_clipboard, editor, navigator, this);

    auto on = [this](QAction *action, auto slot) {
        if (action)
            connect(action, &QAction::triggered, this, slot);
    };
    auto item = [this](const char *name) { return m_menu.item(QString::fromLatin1(name)); };
    auto cut = [this] { m_clipboard->mnuEditCut_Click(); };
    auto copy = [this] { m_clipboard->mnuEditCopy_Click(); };
    auto paste = [this] { m_clipboard->mnuEditPaste_Click(); };
    auto find = [this] { m_finder->mnuEditFind_Click(); };
    on(item("mnuEditCut"), cut);
    on(item("mnuEditCopy"), copy);
    on(item("mnuEditPaste"), paste);
    on(item("mnuEditFind"), find);
    on(item("mnuEditFindNext"), [this] { m_finder->mnuEditFindNext_Click(); });
    on(item("mnuEditReplace"), [this] { showReplaceDialog(); });
    on(controls.cut, cut);
    on(controls.copy, copy);
    on(controls.paste, paste);
    on(controls.find, find);
    on(controls.go, [this] { m_finder->RunPathQuery(); });

    // Enter is taken before the box sees it: the box would otherwise also
    // report an equal entry as chosen, and the query would run twice. The
    // keyboard's keys reach the box, which hands them to its line edit
    // directly, past any filter there; keys sent to the line edit itself
    // arrive there.
    m_pathBox = controls.cboPath;
    m_pathBox->installEventFilter(this);
    if (QLineEdit *edit = controls.cboPath->lineEdit()) {
        m_pathEdit = edit;
        edit->installEventFilter(this);
    }
    connect(controls.cboPath, &QComboBox::activated, this, [this] { m_finder->RunPathQuery(); });

    m_menu.updateOnOpen(QStringLiteral("mnuEdit"), [this] { updateEditMenu(); });
}

void ClipboardSearchCommands::updateEditMenu()
{
    m_menu.enable(QStringLiteral("mnuEditCut"), m_clipboard->canCut());
    m_menu.enable(QStringLiteral("mnuEditCopy"), m_clipboard->canCopy());
    m_menu.enable(QStringLiteral("mnuEditPaste"), m_clipboard->canPaste());
    const bool hasDocument = m_host.dom() != nullptr;
    m_menu.enable(QStringLiteral("mnuEditFind"), hasDocument);
    m_menu.enable(QStringLiteral("mnuEditFindNext"), hasDocument);
    m_menu.enable(QStringLiteral("mnuEditReplace"), hasDocument);
}

void ClipboardSearchCommands::showReplaceDialog()
{
    if (!m_host.dom())
        return;
    if (!m_replaceDialog)
        m_replaceDialog = new ReplaceDialog(m_host, *m_replacer, m_host.tvw()->window());
    m_replaceDialog->open(m_finder->findText());
}

bool ClipboardSearchCommands::eventFilter(QObject *watched, QEvent *event)
{
    if ((watched == m_pathEdit || watched == m_pathBox) && event->type() == QEvent::KeyPress) {
        const int key = static_cast<QKeyEvent *>(event)->key();
        if (key == Qt::Key_Return || key == Qt::Key_Enter) {
            m_finder->RunPathQuery();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}
