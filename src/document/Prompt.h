#pragma once

#include <QString>

#include <memory>

class QPrinter;

// Every question the editor asks the user goes through this seam. The
// application's implementation shows Qt dialogs captioned with the
// application title; tests script the answers and record each message.
class Prompt
{
public:
    enum class Icon { None, Critical, Question, Exclamation, Information };
    enum class Buttons { Ok, OkCancel, YesNoCancel, YesNo };
    enum class Answer { Ok, Cancel, Yes, No };

    virtual ~Prompt() = default;

    // Shows a message box and returns the button chosen. Closing the box
    // counts as Cancel (No when there is no Cancel button, Ok for Ok only).
    // `defaultNo`: No is the default button.
    virtual Answer message(const QString &text, Icon icon = Icon::None, Buttons buttons = Buttons::Ok,
                           bool defaultNo = false) = 0;

    // File dialogs. Filters are given as "description|pattern|..." pairs,
    // e.g. "XMLファイル(*.xml)|*.xml|すべてのファイル(*.*)|*.*". Each returns
    // false when the user cancels.
    // Open: the chosen file must exist; `readOnly`, when not null, offers
    // the choice to open it read-only and receives it.
    virtual bool openFileDialog(const QString &title, const QString &filter, QString *path, bool *readOnly) = 0;
    // Save: asks itself before an existing file is overwritten; starts with
    // `initialPath`.
    virtual bool saveFileDialog(const QString &filter, const QString &initialPath, QString *path) = 0;
    // Font: preset with the current face and size (points).
    virtual bool fontDialog(QString *family, int *pointSize) = 0;
    // Print: the user chooses the printer (or a PDF file) and its settings
    // for `printer`. False when cancelled.
    virtual bool printDialog(QPrinter *printer) = 0;

    // An input box with `label` and an empty line; false when cancelled.
    // Prompts that cannot ask answer as a cancel.
    virtual bool inputBox(const QString &label, QString *text)
    {
        Q_UNUSED(label);
        Q_UNUSED(text);
        return false;
    }
    // A read-only text in a window of its own, captioned `title`; returns
    // when the user closes it. Prompts that cannot show one show nothing.
    virtual void showText(const QString &title, const QString &text)
    {
        Q_UNUSED(title);
        Q_UNUSED(text);
    }

    // The progress of a long task, with a Cancel button; shown only once
    // the task has lasted a moment. advance() reports how much of
    // `maximum` is done and returns false once the user has cancelled.
    // Null (as here): nothing is shown and the task runs to its end.
    class Progress
    {
    public:
        virtual ~Progress() = default;
        virtual bool advance(int done) = 0;
    };
    virtual std::unique_ptr<Progress> progress(const QString &text, int maximum)
    {
        Q_UNUSED(text);
        Q_UNUSED(maximum);
        return nullptr;
    }
};
