#include "frmMain.h"

#include "AppInfo.h"
#include "ClipboardSearchCommands.h"
#include "CoordinatorClient.h"
#include "document/DocumentLifecycle.h"
#include "document/DocumentTreeModel.h"
#include "document/ImageList.h"
#include "document/NodeTreeView.h"
#include "document/Recovery.h"
#include "document/Selection.h"
#include "document/TempFolder.h"
#include "document/TreeBuilder.h"
#include "document/ValuePane.h"
#include "editing/LabelEditDelegate.h"
#include "editing/NodeClipboard.h"
#include "editing/NodeCreator.h"
#include "editing/NodeEditor.h"
#include "editing/ValuePaneEditor.h"
#include "MainMenu.h"
#include "QtPrompt.h"
#include "RecentFilesMenu.h"
#include "Settings.h"
#include "SplitPosition.h"
#include "StructureCommands.h"
#include "tools/HelpCommands.h"
#include "tools/PreviewController.h"
#include "tools/PreviewPane.h"
#include "tools/SchemaAssist.h"
#include "tools/ToolCommands.h"
#include "tools/ValidationCommands.h"
#include "TiledWindow.h"
#include "Twips.h"
#include "WindowToolbar.h"
#include "undo/UndoController.h"
#include "xml/XmlDocument.h"

#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QDialog>
#include <QFontInfo>
#include <QComboBox>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPrinter>
#include <QScreen>
#include <QStyle>
#include <QSplitter>
#include <QStatusBar>
#include <QThread>
#include <QTimer>

#include <algorithm>

namespace {

// Design sizes, in twips.
constexpr int kDesignWidth = 11880;
constexpr int kDesignHeight = 8310;
constexpr int kDesignSplit = 3600;

} // namespace

frmMain::frmMain(std::unique_ptr<Prompt> prompt, QWidget *parent)
    : QMainWindow(parent), m_prompt(prompt ? std::move(prompt) : std::make_unique<QtPrompt>(this)),
      m_DOM(std::make_unique<XmlDocument>()), m_temp(std::make_unique<TempFolder>())
{
    setObjectName(QStringLiteral("frmMain"));
    m_baseLoopLevel = std::max(1, QThread::currentThread()->loopLevel());
    setWindowTitle(AppInfo::title());
    setWindowIcon(ImageList::icon(QStringLiteral("DOMDocument")));

    m_menu = new MainMenu(this);
    m_toolbar = std::make_unique<WindowToolbar>(this);
    m_cboPath = m_toolbar->pathBox();
    createPanes();

    m_sbrText = new QLabel(this);
    m_sbrText->setObjectName(QStringLiteral("sbrText"));
    statusBar()->setObjectName(QStringLiteral("sbr"));
    statusBar()->addWidget(m_sbrText, 1);

    m_model = new DocumentTreeModel(this);
    m_model->setDocument(m_DOM.get());
    m_tvw->setModel(m_model);
    m_treeBuilder = std::make_unique<TreeBuilder>(*this, *m_model, *m_tvw);
    m_selection = new Selection(*this, *m_model, *m_tvw, *m_cboPath, *m_txtEdit, this);
    m_lifecycle = std::make_unique<DocumentLifecycle>(*this);
    m_undo = new UndoController(*this, *m_lifecycle, this);
    m_undo->documentChanged();
    m_recovery = new RecoveryWriter(*this, this);
    m_recovery->setDocument(m_DOM.get());
    m_paneEditor = new ValuePaneEditor(*this, *m_lifecycle, this);
    m_preview = new PreviewController(*this, *m_ie, this);
    m_validation = new ValidationCommands(*this, this);
    m_tools = new ToolCommands(*this, *m_lifecycle, this);
    m_help = new HelpCommands(*this, {AppInfo::title(), AppInfo::version(), AppInfo::legalCopyright()}, this);
    m_structure = new StructureCommands(*this, *m_lifecycle, *m_menu, m_toolbar->button(QStringLiteral("delete")), this);
    m_clipboardSearch = new ClipboardSearchCommands(
        *this, *m_lifecycle, *m_menu, m_structure->editor(), m_structure->navigator(),
        {m_toolbar->button(QStringLiteral("cut")), m_toolbar->button(QStringLiteral("copy")),
         m_toolbar->button(QStringLiteral("paste")), m_toolbar->button(QStringLiteral("find")), m_toolbar->go(), m_cboPath},
        this);

    auto *faults = new QLabel(this);
    faults->setObjectName(QStringLiteral("sbrFaults"));
    statusBar()->addPermanentWidget(faults);
    QAction *live = m_menu->item(QStringLiteral("mnuViewLiveValidate"));
    bindStoredChoice(live, QStringLiteral("ValidateWhileTyping"), true);
    m_assist = new SchemaAssist(*this, live, faults, this);
    m_assist->setDocument(m_DOM.get());
    connect(m_validation, &ValidationCommands::fileChosen, this, [this] { m_assist->refresh(m_validation->verifyPath()); });
    m_structure->delegate().setNameOffer([this](const QModelIndex &item) { return m_assist->namesFor(m_model->nodeAt(item)); });
    m_structure->editor().setDeclarationNeed([this](const XmlNode &node, const QString &name) { return m_assist->declarationFor(node, name); });
    m_selection->setValueOffer([this](const XmlNode &node) { return m_assist->valuesFor(node); });
    m_structure->creator().setAttributeNameProposal([this](const XmlNode &element) { return m_assist->attributeProposal(element); });
    for (const bool forward : {true, false}) {
        auto *fault = new QAction(this);
        fault->setObjectName(forward ? QStringLiteral("actNextFault") : QStringLiteral("actPreviousFault"));
        fault->setShortcut(forward ? QKeySequence(Qt::Key_F8) : QKeySequence(Qt::SHIFT | Qt::Key_F8));
        connect(fault, &QAction::triggered, this, [this, forward] { m_assist->selectFault(forward); });
        addAction(fault);
    }

    // The design size is the client area below the menu bar.
    resize(Twips::toPixelsX(kDesignWidth, this),
           Twips::toPixelsY(kDesignHeight, this) + menuBar()->sizeHint().height());
    LoadSettings(*this);
    applyFont();
    createProgramsMenu();
    connectCommands();
    m_recent = new RecentFilesMenu(m_menu->menu(QStringLiteral("mnuFileMRU")), m_menu->menu(QStringLiteral("mnuFile")));
    connect(m_recent, &RecentFilesMenu::fileChosen, this, [this](const QString &path) { m_lifecycle->openRecentFile(path); });

    // Register with the window coordinator; the client retries while a
    // coordinator started just before this window is not yet listening.
    m_coordinator = CoordinatorClient::forApplication();
    m_registeredHandle = windowHandle();
    m_coordinator->registerWindow(m_registeredHandle);
}

bool frmMain::event(QEvent *event)
{
    // Should the platform replace the native window, the coordinator learns
    // the new handle, or tiling would miss this window.
    if (event->type() == QEvent::WinIdChange && m_coordinator && !m_unloaded && m_registeredHandle != 0
        && internalWinId() != 0 && quint64(internalWinId()) != m_registeredHandle) {
        m_coordinator->unregisterWindow(m_registeredHandle);
        m_registeredHandle = quint64(internalWinId());
        m_coordinator->registerWindow(m_registeredHandle);
    }
    return QMainWindow::event(event);
}

frmMain::~frmMain()
{
    // The model and the history observe the document: they go first, as
    // members die before the QObject children would.
    m_model->setDocument(nullptr);
    m_assist->setDocument(nullptr);
    delete m_undo;
    m_undo = nullptr;
    delete m_recovery;
    m_recovery = nullptr;
}

QAction *frmMain::button(const QString &key) const
{
    return m_toolbar->button(key);
}

QAction *frmMain::menuItem(const QString &name) const
{
    return m_menu->item(name);
}

quint64 frmMain::windowHandle() const
{
    return quint64(const_cast<frmMain *>(this)->winId());
}

void frmMain::createPanes()
{
    m_vsp = new QSplitter(Qt::Vertical, this);
    m_vsp->setObjectName(QStringLiteral("vsp"));
    m_vsp->setHandleWidth(Twips::toPixelsY(60, this));
    m_hsp = new QSplitter(Qt::Horizontal, m_vsp);
    m_hsp->setObjectName(QStringLiteral("hsp"));
    m_hsp->setHandleWidth(Twips::toPixelsX(60, this));
    m_tvw = new NodeTreeView(m_hsp);
    m_tvw->setObjectName(QStringLiteral("tvw"));
    m_tvw->setEditTriggers(QAbstractItemView::NoEditTriggers);
    m_txtEdit = new ValuePane(m_hsp);
    m_vsp->addWidget(m_hsp);
    m_ie = new PreviewPane(m_vsp);
    m_vsp->addWidget(m_ie);
    setCentralWidget(m_vsp);
    m_hspPosition = new SplitPosition(m_hsp, Twips::toPixelsX(m_hspTwips, this));
    m_vspPosition = new SplitPosition(m_vsp, Twips::toPixelsY(m_vspTwips, this));
}

void frmMain::connectCommands()
{
    auto on = [this](const char *name, auto slot) {
        connect(m_menu->item(QString::fromLatin1(name)), &QAction::triggered, this, slot);
    };
    on("mnuFileNew", [this] { m_lifecycle->mnuFileNew_Click(); });
    on("mnuFileOpen", [this] { m_lifecycle->mnuFileOpen_Click(); });
    on("mnuFileReload", [this] { m_lifecycle->mnuFileReload_Click(); });
    on("mnuFileSave", [this] { m_lifecycle->mnuFileSave_Click(); });
    on("mnuFileSaveAs", [this] { m_lifecycle->mnuFileSaveAs_Click(); });
    on("mnuFileClose", [this] { m_lifecycle->mnuFileClose_Click(); });
    on("mnuFileQuit", [this] { close(); });
    on("mnuEditUndo", [this] { m_undo->DoUndo(); });
    on("mnuEditRedo", [this] { m_undo->DoRedo(); });
    on("mnuEditUndoAll", [this] { m_undo->UndoAll(); });
    on("mnuViewFont", [this] { mnuViewFont_Click(); });
    on("mnuToolSelXSL", [this] { m_preview->mnuToolSelXSL_Click(); });
    on("mnuToolPreview", [this] { m_preview->mnuToolPreview_Click(); });
    on("mnuToolPreviewSel", [this] { m_preview->mnuToolPreviewSel_Click(); });
    on("mnuToolPrevHTML", [this] { m_preview->mnuToolPreview_Click(); });
    on("mnuFilePrint", [this] { m_preview->mnuFilePrint_Click(); });
    on("mnuFilePrintTree", [this] { m_tools->mnuFilePrintTree_Click(); });
    on("mnuWindowTileH", [this] { m_coordinator->tileVertical(); });
    on("mnuToolVerifyNew", [this] { m_validation->mnuToolVerifyNew_Click(); });
    on("mnuToolVerify", [this] { m_validation->mnuToolVerify_Click(); });
    on("mnuToolSend", [this] { m_tools->mnuToolSend_Click(); });
    on("mnuToolRemoveText", [this] { m_tools->mnuToolRemoveText_Click(); });
    on("mnuHelpReadme", [this] { m_help->mnuHelpReadme_Click(); });
    on("mnuHelpAbout", [this] { m_help->mnuHelpAbout_Click(); });

    // Buttons run their commands directly, whatever state the menu item was
    // left in when its menu last opened.
    auto button = [this](const char *key, auto slot) {
        connect(m_toolbar->button(QString::fromLatin1(key)), &QAction::triggered, this, slot);
    };
    button("new", [this] { m_lifecycle->mnuFileNew_Click(); });
    button("open", [this] { m_lifecycle->mnuFileOpen_Click(); });
    button("save", [this] { m_lifecycle->mnuFileSave_Click(); });
    button("print", [this] { m_preview->mnuFilePrint_Click(); });
    button("preview", [this] { m_preview->mnuToolPreview_Click(); });
    button("undo", [this] { m_undo->DoUndo(); });
    button("redo", [this] { m_undo->DoRedo(); });
    button("verify", [this] { m_validation->mnuToolVerify_Click(); });
    for (const char *key : {"new", "open"})
        m_toolbar->button(QString::fromLatin1(key))->setEnabled(true);
    for (const char *key : {"save", "print", "preview", "cut", "copy", "paste", "delete", "find", "verify", "undo", "redo"})
        m_toolbar->button(QString::fromLatin1(key))->setEnabled(false);

    m_menu->updateOnOpen(QStringLiteral("mnuFile"), [this] { updateFileMenu(); });
    m_menu->updateOnOpen(QStringLiteral("mnuEdit"), [this] { updateEditMenu(); });
    m_menu->updateOnOpen(QStringLiteral("mnuTool"), [this] { updateToolMenu(); });
    m_ie->setPageActions({menuItem(QStringLiteral("mnuToolPreview")), menuItem(QStringLiteral("mnuToolPreviewSel")),
                          menuItem(QStringLiteral("mnuToolSelXSL")), menuItem(QStringLiteral("mnuFilePrint"))},
                         [this] { updateToolMenu(); });
}

void frmMain::updateEditMenu()
{
    m_menu->item(QStringLiteral("mnuEditUndo"))->setEnabled(m_undo->CanUndo());
    m_menu->item(QStringLiteral("mnuEditRedo"))->setEnabled(m_undo->CanRedo());
    m_menu->item(QStringLiteral("mnuEditUndoAll"))->setEnabled(m_undo->canUndoAll());
}

void frmMain::updateFileMenu()
{
    const bool hasDocument = m_lifecycle->canSave();
    for (const char *name : {"mnuFileSave", "mnuFileSaveAs", "mnuFileClose", "mnuFilePrint", "mnuFilePrintTree"})
        m_menu->item(QString::fromLatin1(name))->setEnabled(hasDocument);
    m_menu->item(QStringLiteral("mnuFileReload"))->setEnabled(m_lifecycle->canReload());
}

void frmMain::updateToolMenu()
{
    const bool hasDocument = m_DOM != nullptr;
    for (const char *name : {"mnuToolSelXSL", "mnuToolPreview"})
        m_menu->enable(QString::fromLatin1(name), hasDocument);
    for (const char *name : {"mnuToolVerify", "mnuToolVerifyNew", "mnuToolSend"})
        m_menu->enable(QString::fromLatin1(name), m_validation->canValidate());
    m_menu->enable(QStringLiteral("mnuToolRemoveText"), m_tools->canClearValues());
    m_menu->enable(QStringLiteral("mnuToolPreviewSel"), m_selection->selectedItem().isValid());
    m_menu->enable(QStringLiteral("mnuToolOpenEditor"), m_tools->canOpenInProgram());
}

void frmMain::applyFont()
{
    const SharedSettings &shared = sharedSettings();
    QFont font(shared.fontName, shared.fontSize);
    m_txtEdit->setFont(font);
    m_tvw->setFont(font);
    QFont pathFont = m_cboPath->font();
    pathFont.setFamily(shared.fontName);
    m_cboPath->setFont(pathFont);
}

void frmMain::mnuViewFont_Click()
{
    SharedSettings &shared = sharedSettings();
    // The dialog starts on the face the panes really show: the stored name
    // may exist only as a substitute, which no font list holds.
    const QString shown = QFontInfo(m_txtEdit->font()).family();
    QString family = shown;
    int size = shared.fontSize;
    if (!m_prompt->fontDialog(&family, &size))
        return;
    // OK without a change keeps the stored name as it was.
    if (family == shown && size == shared.fontSize)
        return;
    shared.fontName = family;
    shared.fontSize = size;
    applyFont();
}

void frmMain::createProgramsMenu()
{
    // One element per configured external program, in stored order; the
    // submenu and its separator are hidden when there is none.
    const QList<ExternalProgram> &programs = sharedSettings().programs;
    QMenu *open = m_menu->menu(QStringLiteral("mnuToolOpenEditor"));
    m_menu->item(QStringLiteral("mnuToolLine3"))->setVisible(!programs.isEmpty());
    open->menuAction()->setVisible(!programs.isEmpty());
    for (int i = 0; i < programs.size(); ++i) {
        QAction *a = open->addAction(programs[i].name);
        a->setObjectName(QStringLiteral("mnuToolOpen%1").arg(i));
        a->setData(programs[i].path);
        connect(a, &QAction::triggered, this, [this, path = programs[i].path] { m_tools->mnuToolOpen_Click(path); });
    }
}

bool frmMain::OpenFile(const QString &path)
{
    return m_lifecycle->OpenFile(path);
}

void frmMain::LoadXML(const QString &text)
{
    m_lifecycle->LoadXML(text);
}

bool frmMain::SaveFile(const QString &path)
{
    return m_lifecycle->SaveFile(path);
}

void frmMain::UpdateStatus(const QString &path)
{
    m_lifecycle->UpdateStatus(path);
}

void frmMain::ClearStatus()
{
    m_lifecycle->ClearStatus();
}

void frmMain::DocumentModified()
{
    m_lifecycle->DocumentModified();
}

bool frmMain::DeleteNode(const QModelIndex &treeNode)
{
    return m_structure->editor().DeleteNode(treeNode);
}

void frmMain::CopyNode(const QModelIndex &treeNode)
{
    m_clipboardSearch->clipboard().CopyNode(treeNode);
}

QModelIndex frmMain::PasteNode(const QModelIndex &treeNode)
{
    return m_clipboardSearch->clipboard().PasteNode(treeNode);
}

void frmMain::closeWithoutAsking()
{
    m_closeWithoutAsking = true;
    // A question of this window may be open, its routine waiting for the
    // answer: answer it with its cautious choice, and close only once that
    // routine has returned, or the window would go away beneath it.
    QWidget *modal = QApplication::activeModalWidget();
    auto *dialog = qobject_cast<QDialog *>(modal);
    QWidget *owner = dialog ? dialog->parentWidget() : nullptr;
    while (owner && owner != this)
        owner = owner->parentWidget();
    if (owner)
        dialog->reject(); // a message box without Cancel ignores close()
    if (modal || QThread::currentThread()->loopLevel() > m_baseLoopLevel) {
        QTimer::singleShot(20, this, &frmMain::closeWithoutAsking);
        return;
    }
    close();
}

void frmMain::closeEvent(QCloseEvent *event)
{
    if (m_unloaded) {
        event->accept();
        return;
    }
    if (!m_closeWithoutAsking && !m_lifecycle->QuerySave()) {
        event->ignore();
        return;
    }
    m_unloaded = true;
    // Unload: settings are kept, the working folder goes, the coordinator
    // forgets the window.
    SaveSettings(*this);
    m_temp.reset();
    // Closed on purpose: the changes were saved or not wanted. Unless nobody
    // asked the user (an automation client closed it): then what they typed
    // is offered again at the next start.
    if (m_closeWithoutAsking && isVisible() && m_recovery)
        m_recovery->keep();
    delete m_recovery;
    m_recovery = nullptr;
    m_coordinator->unregisterWindow(m_registeredHandle);
    event->accept();
    emit Unload();
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
    if (QAction *a = m_toolbar->button(key))
        a->setEnabled(enabled);
}

bool frmMain::isOptionChecked(const QString &item) const
{
    const QAction *a = m_menu->item(item);
    return a && a->isChecked();
}

void frmMain::refreshPreview()
{
    m_preview->RefreshPreview();
}

void frmMain::showPreview()
{
    if (m_DOM)
        m_preview->ShowPreview(m_DOM->documentNode());
    else
        m_preview->clear();
}

QString frmMain::clipboardText() const
{
    return QApplication::clipboard()->text();
}

void frmMain::setDom(std::unique_ptr<XmlDocument> document)
{
    // The old document lives until its observers have let go of it.
    const std::unique_ptr<XmlDocument> old = std::exchange(m_DOM, std::move(document));
    m_model->setDocument(m_DOM.get());
    m_model->setShowText(isOptionChecked(QStringLiteral("mnuViewText")));
    // A history belongs to one document object.
    m_undo->documentChanged();
    if (m_recovery)
        m_recovery->setDocument(m_DOM.get());
    if (m_assist) {
        m_assist->setDocument(m_DOM.get());
        m_assist->refresh(m_validation->verifyPath());
    }
}

void frmMain::setCaption(const QString &caption)
{
    // Qt reads "[*]" as the place of a modified mark and drops it; a file
    // may be named so. Doubled, it shows as itself.
    setWindowTitle(QString(caption).replace(QLatin1String("[*]"), QLatin1String("[*][*]")));
}

void frmMain::addRecentFile(const QString &path)
{
    ::addRecentFile(path);
}

QRect frmMain::windowRectTwips() const
{
    const QRect g = geometryBeforeTiling(this).value_or(geometry());
    return QRect(Twips::fromPixelsX(g.x(), this), Twips::fromPixelsY(g.y(), this), Twips::fromPixelsX(g.width(), this),
                 Twips::fromPixelsY(g.height(), this));
}

void frmMain::setWindowRectTwips(const QRect &rect, bool positionStored)
{
    QSize size(Twips::toPixelsX(rect.width(), this), Twips::toPixelsY(rect.height(), this));
    QPoint position(Twips::toPixelsX(rect.x(), this), Twips::toPixelsY(rect.y(), this));
    // A size stored on a larger screen, or grown by a scale factor, would
    // put the window's edges and buttons out of reach: it opens inside the
    // screen's free area, frame included.
    const QScreen *target = positionStored ? QGuiApplication::screenAt(position) : nullptr;
    if (!target)
        target = screen();
    if (target) {
        const QRect room = target->availableGeometry();
        const QMargins frame = isVisible() && frameGeometry() != geometry()
            ? QMargins(geometry().left() - frameGeometry().left(), geometry().top() - frameGeometry().top(),
                       frameGeometry().right() - geometry().right(), frameGeometry().bottom() - geometry().bottom())
            : QMargins(0, style()->pixelMetric(QStyle::PM_TitleBarHeight), 0, 0);
        const QRect inner = room.marginsRemoved(frame);
        size = size.boundedTo(inner.size()).expandedTo(minimumSize());
        if (positionStored) {
            position.setX(std::clamp(position.x(), inner.left(), std::max(inner.left(), inner.right() + 1 - size.width())));
            position.setY(std::clamp(position.y(), inner.top(), std::max(inner.top(), inner.bottom() + 1 - size.height())));
        }
    }
    if (positionStored)
        setGeometry(QRect(position, size));
    else
        resize(size);
}

// A stored position that falls between two pixels is kept as stored while
// the bar stands where it put it, so it does not creep from run to run.
int frmMain::hspPosition() const
{
    const int pixels = m_hspPosition->firstPane();
    return pixels == Twips::toPixelsX(m_hspTwips, this) ? m_hspTwips : Twips::fromPixelsX(pixels, this);
}

void frmMain::setHspPosition(int twips)
{
    m_hspTwips = twips;
    m_hspPosition->setFirstPane(Twips::toPixelsX(twips, this));
}

int frmMain::vspPosition() const
{
    const int pixels = m_vspPosition->firstPane();
    return pixels == Twips::toPixelsY(m_vspTwips, this) ? m_vspTwips : Twips::fromPixelsY(pixels, this);
}

void frmMain::setVspPosition(int twips)
{
    m_vspTwips = twips;
    m_vspPosition->setFirstPane(Twips::toPixelsY(twips, this));
}

bool frmMain::isNormalState() const
{
    return !(windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen));
}

QString frmMain::tempFolder() const
{
    return m_temp ? m_temp->path() : QString();
}

void frmMain::resetUndo()
{
    m_undo->ResetUndo();
}

void frmMain::recordUndo()
{
    m_undo->record();
}

void frmMain::documentStateChanged()
{
    if (m_undo)
        m_undo->documentStateChanged();
    if (m_recovery)
        m_recovery->stateChanged();
    if (m_assist)
        m_assist->refresh(m_validation->verifyPath());
}
