#pragma once

#include <QString>

class Prompt;

// The per-window state the document routines read and write.
struct WindowFlags
{
    bool m_Dirty = false;
    bool m_HasFile = false;
    bool m_ReadOnly = false;
    // The program itself is writing the value pane: pane changes are not
    // applied to the document.
    bool m_PaneUpdating = false;
    // The value pane is replacing an element: the preview refresh waits.
    bool m_ApplyingText = false;
    // A save is writing the document (its progress lets events through):
    // the tree is in the serialiser's hands and no recovery copy is made.
    bool m_Saving = false;
    QString m_FileName;
    QString m_BackupPath;
};

// What the document routines need of their window, and nothing more.
class WindowContext
{
public:
    virtual ~WindowContext() = default;

    virtual Prompt &prompt() = 0;
    virtual WindowFlags &flags() = 0;
    virtual void setStatusText(const QString &text) = 0;
    // Toolbar buttons by key ("copy", "paste", ...).
    virtual void setButtonEnabled(const QString &key, bool enabled) = 0;
    // The checked state of an option's menu item ("mnuViewText", "mnuViewLock").
    virtual bool isOptionChecked(const QString &item) const = 0;
    virtual void refreshPreview() = 0;
    virtual QString clipboardText() const = 0;
};
