#pragma once

#include "document/DocumentHost.h"
#include "document/Prompt.h"
#include "shell/WindowGeometry.h"

#include <QHash>
#include <QMainWindow>

#include <memory>

class ClipboardSearchCommands;
class CoordinatorClient;
class DocumentLifecycle;
class DocumentTreeModel;
class HelpCommands;
class MainMenu;
class PreviewController;
class PreviewPane;
class QAction;
class QComboBox;
class QLabel;
class QSplitter;
class NodeTreeView;
class QWidget;
class RecentFilesMenu;
class RecoveryWriter;
class SchemaAssist;
class Selection;
class SplitPosition;
class StructureCommands;
class TempFolder;
class ToolCommands;
class TreeBuilder;
class UndoController;
class WindowToolbar;
class ValidationCommands;
class ValuePaneEditor;
class ValuePane;
class XmlDocument;

// One editor window: one document, its tree, value pane, path bar, menus,
// toolbar and status bar. It owns the widgets and the per-window state and
// wires the routines of each area to them.
class frmMain : public QMainWindow, public DocumentHost, public WindowGeometry
{
    Q_OBJECT
public:
    // `prompt` null: the window asks through Qt dialogs.
    explicit frmMain(std::unique_ptr<Prompt> prompt = nullptr, QWidget *parent = nullptr);
    ~frmMain() override;

    // Public window operations.
    bool OpenFile(const QString &path);
    void LoadXML(const QString &text);
    bool SaveFile(const QString &path);
    void UpdateStatus(const QString &path);
    void ClearStatus();
    void DocumentModified();
    bool DeleteNode(const QModelIndex &treeNode);
    void CopyNode(const QModelIndex &treeNode);
    // The new item, or invalid when nothing new has an item.
    QModelIndex PasteNode(const QModelIndex &treeNode);

    // Close without asking about unsaved changes (automation clients).
    void closeWithoutAsking();
    // The platform's handle of the window, in decimal where sent.
    quint64 windowHandle() const;

    XmlDocument &document() { return *m_DOM; }
    DocumentLifecycle &lifecycle() { return *m_lifecycle; }
    UndoController &undo() { return *m_undo; }
    // Null once the window has closed.
    RecoveryWriter *recovery() const { return m_recovery; }
    StructureCommands &structure() { return *m_structure; }
    ClipboardSearchCommands &clipboardSearch() { return *m_clipboardSearch; }
    ValuePane *txtEdit() const override { return m_txtEdit; }
    NodeTreeView *tvw() const override { return m_tvw; }
    PreviewController &preview() { return *m_preview; }
    SchemaAssist &schemaAssist() { return *m_assist; }
    ValidationCommands &validation() { return *m_validation; }
    PreviewPane *ie() const { return m_ie; }
    QComboBox *cboPath() const { return m_cboPath; }
    QAction *button(const QString &key) const;
    QAction *menuItem(const QString &name) const;
    QString statusText() const;

    // WindowContext
    Prompt &prompt() override { return *m_prompt; }
    WindowFlags &flags() override { return m_flags; }
    void setStatusText(const QString &text) override;
    void setButtonEnabled(const QString &key, bool enabled) override;
    bool isOptionChecked(const QString &item) const override;
    void refreshPreview() override;
    QString clipboardText() const override;

    // DocumentHost
    XmlDocument *dom() const override { return m_DOM.get(); }
    void setDom(std::unique_ptr<XmlDocument> document) override;
    TreeBuilder &treeBuilder() override { return *m_treeBuilder; }
    Selection &selection() override { return *m_selection; }
    DocumentTreeModel &model() override { return *m_model; }
    void setCaption(const QString &caption) override;
    void showPreview() override;
    void addRecentFile(const QString &path) override;
    QString tempFolder() const override;
    void resetUndo() override;
    void recordUndo() override;
    void documentStateChanged() override;

    // WindowGeometry (twips)
    QRect windowRectTwips() const override;
    void setWindowRectTwips(const QRect &rect, bool positionStored) override;
    int hspPosition() const override;
    void setHspPosition(int twips) override;
    int vspPosition() const override;
    void setVspPosition(int twips) override;
    bool isNormalState() const override;

    // Apply the program's font to this window's panes.
    void applyFont();

signals:
    // The last step of closing: the window is going away.
    void Unload();

protected:
    bool event(QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;

private:
    void createPanes();
    void connectCommands();
    void updateFileMenu();
    void updateEditMenu();
    void updateToolMenu();
    void createProgramsMenu();
    void mnuViewFont_Click();

    std::unique_ptr<Prompt> m_prompt;
    std::unique_ptr<XmlDocument> m_DOM;
    WindowFlags m_flags;
    std::unique_ptr<TempFolder> m_temp;
    std::unique_ptr<DocumentLifecycle> m_lifecycle;
    MainMenu *m_menu = nullptr;
    RecentFilesMenu *m_recent = nullptr;
    CoordinatorClient *m_coordinator = nullptr; // shared by the process's windows
    bool m_closeWithoutAsking = false;
    int m_baseLoopLevel = 1; // the event loop the window lives in
    bool m_unloaded = false;
    quint64 m_registeredHandle = 0; // as the coordinator knows the window

    std::unique_ptr<WindowToolbar> m_toolbar;
    QComboBox *m_cboPath = nullptr; // the toolbar's path box
    QSplitter *m_vsp = nullptr;
    QSplitter *m_hsp = nullptr;
    SplitPosition *m_hspPosition = nullptr;
    SplitPosition *m_vspPosition = nullptr;
    int m_hspTwips = 3600; // as last set, see hspPosition()
    int m_vspTwips = 3600;
    NodeTreeView *m_tvw = nullptr;
    ValuePane *m_txtEdit = nullptr;
    QLabel *m_sbrText = nullptr;

    DocumentTreeModel *m_model = nullptr;
    std::unique_ptr<TreeBuilder> m_treeBuilder;
    Selection *m_selection = nullptr;
    UndoController *m_undo = nullptr;
    RecoveryWriter *m_recovery = nullptr;
    ValuePaneEditor *m_paneEditor = nullptr;
    PreviewPane *m_ie = nullptr;
    PreviewController *m_preview = nullptr;
    ValidationCommands *m_validation = nullptr;
    SchemaAssist *m_assist = nullptr;
    ToolCommands *m_tools = nullptr;
    HelpCommands *m_help = nullptr;
    StructureCommands *m_structure = nullptr;
    ClipboardSearchCommands *m_clipboardSearch = nullptr;
};
