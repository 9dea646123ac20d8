#include "WindowToolbar.h"

#include "document/ImageList.h"
#include "document/TextFields.h"

#include <QAction>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QToolBar>

WindowToolbar::WindowToolbar(QMainWindow *window) : m_tbr(window->addToolBar(QStringLiteral("tbr")))
{
    m_tbr->setObjectName(QStringLiteral("tbr"));
    m_tbr->setMovable(false);
    m_tbr->setFloatable(false);
    m_tbr->setIconSize(QSize(16, 16));
    addButton(QStringLiteral("new"), QStringLiteral("新規作成(Ctrl+N)"));
    addButton(QStringLiteral("open"), QStringLiteral("開く(Ctrl+O)"));
    addButton(QStringLiteral("save"), QStringLiteral("保存(Ctrl+S)"));
    m_tbr->addSeparator();
    addButton(QStringLiteral("print"), QStringLiteral("印刷(Ctrl+P)"));
    addButton(QStringLiteral("preview"), QStringLiteral("プレビュー(F5)"));
    m_tbr->addSeparator();
    addButton(QStringLiteral("cut"), QStringLiteral("切り取り(Ctrl+X)"));
    addButton(QStringLiteral("copy"), QStringLiteral("コピー(Ctrl+C)"));
    addButton(QStringLiteral("paste"), QStringLiteral("貼り付け(Ctrl+V)"));
    addButton(QStringLiteral("delete"), QStringLiteral("削除(Ctrl+D)"));
    addButton(QStringLiteral("find"), QStringLiteral("検索(F3)"));
    m_tbr->addSeparator();
    addButton(QStringLiteral("undo"), QStringLiteral("元に戻す(Ctrl+Z)"));
    addButton(QStringLiteral("redo"), QStringLiteral("やり直す(Ctrl+Y)"));
    m_tbr->addSeparator();
    addButton(QStringLiteral("verify"), QStringLiteral("検証(F7)"));
    m_tbr->addSeparator();
    addPathBar();
}

void WindowToolbar::addButton(const QString &key, const QString &tooltip)
{
    QAction *action = m_tbr->addAction(ImageList::icon(key), tooltip);
    action->setObjectName(key);
    action->setToolTip(tooltip);
    m_buttons.insert(key, action);
}

// The path bar fills the rest of the toolbar.
void WindowToolbar::addPathBar()
{
    auto *picPath = new QWidget(m_tbr);
    picPath->setObjectName(QStringLiteral("picPath"));
    auto *layout = new QHBoxLayout(picPath);
    layout->setContentsMargins(4, 0, 0, 0);
    auto *lblPath = new QLabel(QStringLiteral("&XPath"), picPath);
    lblPath->setObjectName(QStringLiteral("lblPath"));
    m_cboPath = new QComboBox(picPath);
    m_cboPath->setObjectName(QStringLiteral("cboPath"));
    m_cboPath->setEditable(true);
    m_cboPath->setLineEdit(new HistoryLineEdit(m_cboPath));
    // The list keeps earlier expressions to choose from; completing typed
    // text inline to a longer one would run the older query.
    m_cboPath->setCompleter(nullptr);
    m_cboPath->setInsertPolicy(QComboBox::NoInsert);
    m_cboPath->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_cboPath->setMinimumWidth(0);
    m_cboPath->setMinimumContentsLength(1);
    lblPath->setBuddy(m_cboPath);
    auto *tbrMove = new QToolBar(picPath);
    tbrMove->setObjectName(QStringLiteral("tbrMove"));
    tbrMove->setIconSize(QSize(16, 16));
    tbrMove->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    m_go = tbrMove->addAction(ImageList::icon(QStringLiteral("move")), QStringLiteral("移動"));
    m_go->setObjectName(QStringLiteral("move"));
    layout->addWidget(lblPath);
    layout->addWidget(m_cboPath, 1);
    layout->addWidget(tbrMove);
    picPath->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_tbr->addWidget(picPath);
}
