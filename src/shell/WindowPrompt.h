#pragma once

#include "document/Prompt.h"

#include <QStringList>

#include <memory>

// The prompt a Window gives its editor window. Interactive, it asks through
// the prompt it wraps. Silent, no dialog appears: file and font dialogs
// count as cancelled, message boxes take their cautious answer (Ok alone,
// else Cancel, else No). Either way each message's text is kept until
// clearMessages, for the caller to report.
class WindowPrompt : public Prompt
{
public:
    explicit WindowPrompt(std::unique_ptr<Prompt> inner = nullptr) : m_inner(std::move(inner)) {}

    void setInner(std::unique_ptr<Prompt> inner) { m_inner = std::move(inner); }
    void setSilent(bool silent) { m_silent = silent; }
    QStringList messages() const { return m_messages; }
    void clearMessages() { m_messages.clear(); }

    Answer message(const QString &text, Icon icon, Buttons buttons, bool defaultNo) override;
    bool openFileDialog(const QString &title, const QString &filter, QString *path, bool *readOnly) override;
    bool saveFileDialog(const QString &filter, const QString &initialPath, QString *path) override;
    bool fontDialog(QString *family, int *pointSize) override;
    bool printDialog(QPrinter *printer) override;
    bool inputBox(const QString &label, QString *text) override;
    void showText(const QString &title, const QString &text) override;
    // Silent: no dialog, and the task runs to its end.
    std::unique_ptr<Progress> progress(const QString &text, int maximum) override;

private:
    bool asks() const { return !m_silent && m_inner; }

    std::unique_ptr<Prompt> m_inner;
    bool m_silent = false;
    QStringList m_messages;
};
