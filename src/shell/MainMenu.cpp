#include "MainMenu.h"

#include <QAction>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>

MainMenu::MainMenu(QMainWindow *window) : m_window(window)
{
    QMenu *file = addMenu(nullptr, QStringLiteral("mnuFile"), QStringLiteral("ファイル(&F)"));
    add(file, QStringLiteral("mnuFileNew"), QStringLiteral("新規作成(&N)"), QStringLiteral("Ctrl+N"));
    add(file, QStringLiteral("mnuFileOpen"), QStringLiteral("開く(&O)..."), QStringLiteral("Ctrl+O"));
    add(file, QStringLiteral("mnuFileReload"), QStringLiteral("再読込(&R)"));
    addSeparator(file);
    add(file, QStringLiteral("mnuFileSave"), QStringLiteral("保存(&S)"), QStringLiteral("Ctrl+S"));
    add(file, QStringLiteral("mnuFileSaveAs"), QStringLiteral("名前を付けて保存(&A)..."), QStringLiteral("Ctrl+Shift+S"));
    addSeparator(file);
    add(file, QStringLiteral("mnuFilePrint"), QStringLiteral("プレビューの印刷(&P)..."), QStringLiteral("Ctrl+P"));
    add(file, QStringLiteral("mnuFilePrintTree"), QStringLiteral("ツリーの印刷(&T)..."));
    addSeparator(file);
    addMenu(file, QStringLiteral("mnuFileMRU"), QStringLiteral("最近使ったファイル(&M)"));
    addSeparator(file);
    add(file, QStringLiteral("mnuFileClose"), QStringLiteral("閉じる(&C)"), QStringLiteral("Ctrl+W"));
    // Key texts after a tab: keys handled elsewhere, shown for the user.
    add(file, QStringLiteral("mnuFileQuit"), QStringLiteral("終了(&X)\tAlt+F4"), QStringLiteral("Ctrl+Q"));

    QMenu *edit = addMenu(nullptr, QStringLiteral("mnuEdit"), QStringLiteral("編集(&E)"));
    add(edit, QStringLiteral("mnuEditUndo"), QStringLiteral("元に戻す(&U)"), QStringLiteral("Ctrl+Z"));
    // The key other programs use for redo works too; the menu shows Ctrl+Y.
    add(edit, QStringLiteral("mnuEditRedo"), QStringLiteral("やり直す(&R)"), QStringLiteral("Ctrl+Y"))
        ->setShortcuts({QKeySequence(QStringLiteral("Ctrl+Y")), QKeySequence(QStringLiteral("Ctrl+Shift+Z"))});
    add(edit, QStringLiteral("mnuEditUndoAll"), QStringLiteral("開いた時の状態に戻す(&A)"));
    addSeparator(edit);
    add(edit, QStringLiteral("mnuEditCut"), QStringLiteral("切り取り(&T)\tCtrl+X"));
    add(edit, QStringLiteral("mnuEditCopy"), QStringLiteral("コピー(&C)\tCtrl+C"));
    add(edit, QStringLiteral("mnuEditPaste"), QStringLiteral("貼り付け(&P)\tCtrl+V"));
    add(edit, QStringLiteral("mnuEditDelete"), QStringLiteral("削除(&D)\tCtrl+D"));
    addSeparator(edit);
    add(edit, QStringLiteral("mnuEditRename"), QStringLiteral("名前の変更(&R)"), QStringLiteral("F2"));
    addSeparator(edit);
    add(edit, QStringLiteral("mnuEditFind"), QStringLiteral("検索(&F)..."), QStringLiteral("Ctrl+F"));
    add(edit, QStringLiteral("mnuEditFindNext"), QStringLiteral("次を検索(&N)"), QStringLiteral("F3"));
    add(edit, QStringLiteral("mnuEditReplace"), QStringLiteral("置換(&H)..."), QStringLiteral("Ctrl+H"));
    addSeparator(edit);
    add(edit, QStringLiteral("mnuViewLock"), QStringLiteral("要素・属性名のロック(&L)"))->setCheckable(true);

    QMenu *view = addMenu(nullptr, QStringLiteral("mnuView"), QStringLiteral("表示(&V)"));
    add(view, QStringLiteral("mnuNodeCollapse"), QStringLiteral("ツリー項目の折りたたみ(&C)"));
    add(view, QStringLiteral("mnuNodeExpand"), QStringLiteral("ツリー項目の展開(&E)"));
    addSeparator(view);
    QAction *text = add(view, QStringLiteral("mnuViewText"), QStringLiteral("テキストの内容をツリーに表示(&T)"));
    text->setCheckable(true);
    text->setChecked(true);
    add(view, QStringLiteral("mnuViewLiveValidate"), QStringLiteral("入力時に検証(&L)"))->setCheckable(true);
    addSeparator(view);
    add(view, QStringLiteral("mnuViewFont"), QStringLiteral("フォント(&F)..."));

    QMenu *node = addMenu(nullptr, QStringLiteral("mnuNode"), QStringLiteral("ノード(&N)"));
    add(node, QStringLiteral("mnuNodeMoveUp"), QStringLiteral("上へ移動(&U)"));
    add(node, QStringLiteral("mnuNodeMoveDown"), QStringLiteral("下へ移動(&D)"));
    addSeparator(node);
    add(node, QStringLiteral("mnuNodeAddElement"), QStringLiteral("要素の追加(&E)"), QStringLiteral("Ctrl+E"));
    add(node, QStringLiteral("mnuNodeAddAttribute"), QStringLiteral("属性の追加(&A)\tCtrl+A"));
    add(node, QStringLiteral("mnuNodeAddText"), QStringLiteral("テキストの追加(&T)"), QStringLiteral("Ctrl+T"));
    add(node, QStringLiteral("mnuNodeAddComment"), QStringLiteral("コメントの追加(&C)"), QStringLiteral("Ctrl+K"));
    add(node, QStringLiteral("mnuNodeAddCDATA"), QStringLiteral("CDATAの追加(&D)"));
    addSeparator(node);
    add(node, QStringLiteral("mnuNodeInsElement"), QStringLiteral("要素の挿入(&L)\tCtrl+Alt+E"));
    add(node, QStringLiteral("mnuNodeInsText"), QStringLiteral("テキストの挿入(&X)\tCtrl+Alt+T"));
    add(node, QStringLiteral("mnuNodeInsComment"), QStringLiteral("コメントの挿入(&M)\tCtrl+Alt+K"));
    add(node, QStringLiteral("mnuNodeInsCDATA"), QStringLiteral("CDATAの挿入"));
    addSeparator(node);
    add(node, QStringLiteral("mnuNodeDelete"), QStringLiteral("削除(&D)"));

    QMenu *tool = addMenu(nullptr, QStringLiteral("mnuTool"), QStringLiteral("ツール(&T)"));
    add(tool, QStringLiteral("mnuToolSelXSL"), QStringLiteral("プレビュー用XSLファイルの選択(&X)..."));
    add(tool, QStringLiteral("mnuToolPreview"), QStringLiteral("プレビュー(&P)"), QStringLiteral("F5"));
    add(tool, QStringLiteral("mnuToolPreviewSel"), QStringLiteral("選択したノードのプレビュー(&N)"), QStringLiteral("Ctrl+F5"));
    QAction *asHtml = add(tool, QStringLiteral("mnuToolPrevHTML"), QStringLiteral("プレビューをHTMLとして表示(&H)"));
    asHtml->setCheckable(true);
    asHtml->setVisible(false);
    QAction *sync = add(tool, QStringLiteral("mnuToolPreviewSync"), QStringLiteral("プレビューとツリーの同期(&Y)"));
    sync->setCheckable(true);
    sync->setChecked(true);
    addSeparator(tool);
    add(tool, QStringLiteral("mnuToolVerifyNew"), QStringLiteral("検証用ファイルの選択(&S)..."));
    add(tool, QStringLiteral("mnuToolVerify"), QStringLiteral("検証(&V)"), QStringLiteral("F7"));
    addSeparator(tool);
    add(tool, QStringLiteral("mnuToolSend"), QStringLiteral("送信(&S)..."))->setVisible(false);
    add(tool, QStringLiteral("mnuToolRemoveText"), QStringLiteral("全てのテキスト・属性値のクリア(&C)"));
    addSeparator(tool, QStringLiteral("mnuToolLine3"));
    addMenu(tool, QStringLiteral("mnuToolOpenEditor"), QStringLiteral("他のエディタで開く(&E)"));
    addSeparator(tool, QStringLiteral("mnuToolLine4"))->setVisible(false);
    add(tool, QStringLiteral("mnuToolOption"), QStringLiteral("オプション(&O)..."))->setVisible(false);

    QMenu *windows = addMenu(nullptr, QStringLiteral("mnuWindow"), QStringLiteral("ウィンドウ(&W)"));
    add(windows, QStringLiteral("mnuWindowTileH"), QStringLiteral("横に並べる(&H)"));

    QMenu *help = addMenu(nullptr, QStringLiteral("mnuHelp"), QStringLiteral("ヘルプ(&H)"));
    add(help, QStringLiteral("mnuHelpReadme"), QStringLiteral("Readme.txt表示(&R)..."), QStringLiteral("F1"));
    add(help, QStringLiteral("mnuHelpAbout"), QStringLiteral("バージョン情報(&A)..."));

    QMenu *popup = addMenu(nullptr, QStringLiteral("mnuNodeContext"), QStringLiteral("Popup"));
    add(popup, QStringLiteral("mnuNodeContextUp"), QStringLiteral("上へ移動(&U)"));
    add(popup, QStringLiteral("mnuNodeContextDown"), QStringLiteral("下へ移動(&D)"));
    popup->menuAction()->setVisible(false);
}

QMenu *MainMenu::addMenu(QMenu *parent, const QString &name, const QString &caption)
{
    QMenu *menu = parent ? parent->addMenu(caption) : m_window->menuBar()->addMenu(caption);
    menu->setObjectName(name);
    menu->menuAction()->setObjectName(name);
    m_menus.insert(name, menu);
    m_items.insert(name, menu->menuAction());
    return menu;
}

QAction *MainMenu::add(QMenu *menu, const QString &name, const QString &caption, const QString &shortcut)
{
    QAction *action = menu->addAction(caption);
    action->setObjectName(name);
    if (!shortcut.isEmpty())
        action->setShortcut(QKeySequence(shortcut));
    // Shortcuts act while the window is active, whatever has the focus.
    action->setShortcutContext(Qt::WindowShortcut);
    m_items.insert(name, action);
    return action;
}

QAction *MainMenu::addSeparator(QMenu *menu, const QString &name)
{
    QAction *separator = menu->addSeparator();
    if (!name.isEmpty()) {
        separator->setObjectName(name);
        m_items.insert(name, separator);
    }
    return separator;
}

void MainMenu::enable(const QString &name, bool on)
{
    if (QAction *a = item(name))
        a->setEnabled(on);
}

void MainMenu::updateOnOpen(const QString &menuName, const std::function<void()> &update)
{
    QMenu *menu = this->menu(menuName);
    QObject::connect(menu, &QMenu::aboutToShow, menu, update);
    QObject::connect(menu, &QMenu::aboutToHide, menu, [this, menu] {
        for (QAction *a : menu->actions())
            if (!a->isSeparator() && !a->menu())
                a->setEnabled(true);
    });
}
