#pragma once

#include "document/Prompt.h"

#include <QObject>
#include <QPointer>
#include <QString>

#include <memory>
#include <optional>

class frmMain;
class WindowPrompt;

// The automation class: one object wraps one editor window. Creating it
// makes a new, empty, hidden editor window. The object and the window end
// independently: the window may be closed while the object lives (then the
// object holds no window and the operations that need one fail), and the
// object may end while the window stays open.
class Window : public QObject
{
    Q_OBJECT
public:
    // The outcome of an operation. `detail` holds the messages the window
    // reported during it, one per line.
    struct Result
    {
        enum Code { Ok, WindowClosed, NoDocument, NoFile, ReadOnly, OpenFailed, SaveFailed };
        Code code = Ok;
        QString detail;
        bool ok() const { return code == Ok; }
    };

    // `prompt` null: the window asks through Qt dialogs.
    explicit Window(std::unique_ptr<Prompt> prompt = nullptr, QObject *parent = nullptr);
    // Ends the object if it has not ended yet.
    ~Window() override;

    // The window's handle, read when the window was made; kept after it closed.
    qint64 hWnd() const { return m_hWnd; }
    // Always false, whatever the document's state.
    bool ReadOnly() const { return false; }
    // None when the window has closed.
    std::optional<bool> Visible() const;
    Result setVisible(bool visible);

    // Opens the file in the window and shows its name in the caption. The
    // caption changes also when the file does not parse but the window holds
    // no document (it then shows which file failed); a window holding a
    // document keeps its caption and file name, so a later Save cannot
    // write that document over the file that failed to open.
    Result OpenFile(const QString &path);
    // Saves to the window's own file: fails when there is none or the
    // document is open read-only (the window's Save command would ask).
    Result Save();
    Result SaveAs(const QString &path);
    // Both close the window without asking about unsaved changes. Closing
    // a window that has already closed does nothing.
    Result Quit();
    Result CloseWindow();

    // Ends the object: lets go of the window and raises OnClose. A window
    // still hidden is closed first, since nobody can see or reach it any more.
    void end();
    bool hasEnded() const { return m_ended; }

    // Interactive (the default): the window's messages appear as dialogs.
    // Otherwise no dialog appears; messages go into each Result's detail and
    // questions take their cautious answer. Automation calls run this way:
    // their window may be hidden, and the client waits for the reply.
    void setInteractive(bool interactive);

    // The window's file name; empty once it has closed.
    QString fileName() const;

    // The wrapped window; null once it has closed or this object has ended.
    frmMain *form() const;

signals:
    // The object has ended.
    void OnClose();

private:
    void m_frmMain_Unload();
    Result begin();
    Result failed(Result::Code code) const;

    QPointer<frmMain> m_frmMain;
    WindowPrompt *m_prompt = nullptr; // owned by the window
    qint64 m_hWnd = 0;
    bool m_ended = false;
};
