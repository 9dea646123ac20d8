#include "frmMain.h"

#include "AppInfo.h"
#include "QtPrompt.h"
#include "Twips.h"
#include "document/DocumentTreeModel.h"
#include "document/ImageList.h"
#include "document/Prompt.h"
#include "document/Selection.h"
#include "document/StringTable.h"
#include "document/TreeBuilder.h"
#include "document/ValuePane.h"
#include "document/XmlDocument.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QSplitter>
#include <QStatusBar>
#include <QToolBar>
#include <QTreeView>

namespace {

// Design sizes, in twips.
constexpr int kDesignWidth = 11880;
constexpr int kDesignHeight = 8310;
constexpr int kDesignSplit = 3600;

} // namespace

frmMain::frmMain(std::unique_ptr<Prompt> prompt, QWidget *parent)
    : QMainWindow(parent), m_prompt(prompt ? std::move(prompt) : std::make_unique<QtPrompt>(this)),
      m_DOM(std::make_unique<XmlDocument>())
{
    setObjectName(QStringLiteral("frmMain"));
    setWindowTitle(AppInfo::title());

    m_mnuViewText = new QAction(QStringLiteral("テキストの内容をツリーに表示(&T)"), this);
    m_mnuViewText->setObjectName(QStringLiteral("mnuViewText"));
    m_mnuViewText->setCheckable(true);
    m_mnuViewText->setChecked(true);
    m_mnuViewLock = new QAction(QStringLiteral("要素・属性名のロック(&L)"), this);
    m_mnuViewLock->setObjectName(QStringLiteral("mnuViewLock"));
    m_mnuViewLock->setCheckable(true);

    createToolbar();
    createPanes();

    m_sbrText = new QLabel(this);
    m_sbrText->setObjectName(QStringLiteral("sbrText"));
    statusBar()->setObjectName(QStringLiteral("sbr"));
    statusBar()->addWidget(m_sbrText, 1);

    m_model = new DocumentTreeModel(this);
    m_model->setDocument(m_DOM.get());
    m_tvw->setModel(m_model);
    m_treeBuilder = std::make_unique<TreeBuilder>(*this, *m_DOM, *m_model, *m_tvw);
    m_selection = new Selection(*this, *m_DOM, *m_model, *m_tvw, *m_cboPath, *m_txtEdit, this);
    connect(m_mnuViewText, &QAction::toggled, m_model, &DocumentTreeModel::setShowText);

    resize(Twips::toPixelsX(kDesignWidth, this), Twips::toPixelsY(kDesignHeight, this));
}

frmMain::~frmMain()
{
    // The model observes the document; let go of it before the document goes.
    m_model->setDocument(nullptr);
}

QAction *frmMain::addButton(const QString &key, const QString &tooltip)
{
    QAction *action = m_tbr->addAction(ImageList::icon(key), tooltip);
    action->setObjectName(key);
    action->setToolTip(tooltip);
    m_buttons.insert(key, action);
    return action;
}

void frmMain::createToolbar()
{
    m_tbr = addToolBar(QStringLiteral("tbr"));
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
    // Commands that later parts of the window carry out start disabled.
    for (QAction *a : std::as_const(m_buttons))
        a->setEnabled(false);

    // The path bar fills the rest of the toolbar.
    m_picPath = new QWidget(m_tbr);
    m_picPath->setObjectName(QStringLiteral("picPath"));
    auto *layout = new QHBoxLayout(m_picPath);
    layout->setContentsMargins(4, 0, 0, 0);
    m_lblPath = new QLabel(QStringLiteral("&XPath"), m_picPath);
    m_lblPath->setObjectName(QStringLiteral("lblPath"));
    m_cboPath = new QComboBox(m_picPath);
    m_cboPath->setObjectName(QStringLiteral("cboPath"));
    m_cboPath->setEditable(true);
    m_cboPath->setInsertPolicy(QComboBox::NoInsert);
    m_cboPath->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_cboPath->setMinimumWidth(0);
    m_lblPath->setBuddy(m_cboPath);
    m_tbrMove = new QToolBar(m_picPath);
    m_tbrMove->setObjectName(QStringLiteral("tbrMove"));
    m_tbrMove->setIconSize(QSize(16, 16));
    m_tbrMove->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
    QAction *move = m_tbrMove->addAction(ImageList::icon(QStringLiteral("move")), QStringLiteral("移動"));
    move->setEnabled(false);
    layout->addWidget(m_lblPath);
    layout->addWidget(m_cboPath, 1);
    layout->addWidget(m_tbrMove);
    m_picPath->setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
    m_tbr->addWidget(m_picPath);
}

void frmMain::createPanes()
{
    m_vsp = new QSplitter(Qt::Vertical, this);
    m_vsp->setObjectName(QStringLiteral("vsp"));
    m_hsp = new QSplitter(Qt::Horizontal, m_vsp);
    m_hsp->setObjectName(QStringLiteral("hsp"));
    m_tvw = new QTreeView(m_hsp);
    m_tvw->setObjectName(QStringLiteral("tvw"));
    m_tvw->setHeaderHidden(true);
    // Every row has one line of text; lets the view skip measuring rows,
    // which matters for elements with many thousands of children.
    m_tvw->setUniformRowHeights(true);
    m_tvw->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_tvw->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    m_tvw->header()->setStretchLastSection(false);
    m_txtEdit = new ValuePane(m_hsp);
    m_vsp->addWidget(m_hsp);
    setCentralWidget(m_vsp);
    const int split = Twips::toPixelsX(kDesignSplit, this);
    m_hsp->setSizes({split, Twips::toPixelsX(kDesignWidth, this) - split});
}

bool frmMain::OpenFile(const QString &path)
{
    if (!m_DOM->load(path)) {
        const XmlParseError &e = m_DOM->parseError();
        QString text = GetResString(8) + QStringLiteral("\n") + e.reason;
        if (e.line > 0)
            text += QStringLiteral("\n(%1 行目)").arg(e.line);
        m_prompt->message(text, Prompt::Icon::Exclamation);
        return false;
    }
    m_flags.m_HasFile = true;
    m_flags.m_FileName = QFileInfo(path).absoluteFilePath();
    m_treeBuilder->Rebuild(m_DOM.get(), true);
    const QModelIndex top = m_model->documentIndex();
    m_tvw->expand(top);
    m_selection->ShowNode(top, true);
    setWindowTitle(QFileInfo(path).fileName() + QStringLiteral(" - ") + AppInfo::title());
    return true;
}

QString frmMain::statusText() const
{
    return m_sbrText->text();
}

void frmMain::setStatusText(const QString &text)
{
    m_sbrText->setText(text);
}

void frmMain::setButtonEnabled(const QString &key, bool enabled)
{
    if (QAction *a = m_buttons.value(key))
        a->setEnabled(enabled);
}

bool frmMain::isOptionChecked(const QString &item) const
{
    if (item == QLatin1String("mnuViewText"))
        return m_mnuViewText->isChecked();
    if (item == QLatin1String("mnuViewLock"))
        return m_mnuViewLock->isChecked();
    return false;
}

void frmMain::refreshPreview()
{
    // The window has no preview pane yet; nothing to refresh.
}

QString frmMain::clipboardText() const
{
    return QApplication::clipboard()->text();
}
