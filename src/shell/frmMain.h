#pragma once

#include "document/Prompt.h"
#include "document/WindowContext.h"

#include <QHash>
#include <QMainWindow>

#include <memory>

class DocumentTreeModel;
class Prompt;
class QAction;
class QComboBox;
class QLabel;
class QSplitter;
class QToolBar;
class QTreeView;
class QWidget;
class Selection;
class TreeBuilder;
class ValuePane;
class XmlDocument;

// One editor window: one document, its tree, value pane, path bar, toolbar
// and status bar. It owns the widgets and the per-window state and wires
// the routines of each area to them.
class frmMain : public QMainWindow, public WindowContext
{
    Q_OBJECT
public:
    // `prompt` null: the window asks through Qt dialogs.
    explicit frmMain(std::unique_ptr<Prompt> prompt = nullptr, QWidget *parent = nullptr);
    ~frmMain() override;

    // Load a file and show it, the document item expanded and selected.
    bool OpenFile(const QString &path);

    XmlDocument &document() { return *m_DOM; }
    DocumentTreeModel &model() { return *m_model; }
    TreeBuilder &treeBuilder() { return *m_treeBuilder; }
    Selection &selection() { return *m_selection; }
    QTreeView *tvw() const { return m_tvw; }
    ValuePane *txtEdit() const { return m_txtEdit; }
    QComboBox *cboPath() const { return m_cboPath; }
    QAction *button(const QString &key) const { return m_buttons.value(key); }
    QString statusText() const;

    // WindowContext
    Prompt &prompt() override { return *m_prompt; }
    WindowFlags &flags() override { return m_flags; }
    void setStatusText(const QString &text) override;
    void setButtonEnabled(const QString &key, bool enabled) override;
    bool isOptionChecked(const QString &item) const override;
    void refreshPreview() override;
    QString clipboardText() const override;

private:
    void createToolbar();
    void createPanes();
    QAction *addButton(const QString &key, const QString &tooltip);

    std::unique_ptr<Prompt> m_prompt;
    std::unique_ptr<XmlDocument> m_DOM;
    WindowFlags m_flags;

    QToolBar *m_tbr = nullptr;
    QHash<QString, QAction *> m_buttons;
    QWidget *m_picPath = nullptr;
    QLabel *m_lblPath = nullptr;
    QComboBox *m_cboPath = nullptr;
    QToolBar *m_tbrMove = nullptr;
    QSplitter *m_vsp = nullptr;
    QSplitter *m_hsp = nullptr;
    QTreeView *m_tvw = nullptr;
    ValuePane *m_txtEdit = nullptr;
    QLabel *m_sbrText = nullptr;
    QAction *m_mnuViewText = nullptr;
    QAction *m_mnuViewLock = nullptr;

    DocumentTreeModel *m_model = nullptr;
    std::unique_ptr<TreeBuilder> m_treeBuilder;
    Selection *m_selection = nullptr;
};
