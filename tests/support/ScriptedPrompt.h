#pragma once

#include "document/Prompt.h"

#include <QList>
#include <QPrinter>
#include <QQueue>
#include <QStringList>

// A prompt for tests: records every message with its icon and buttons and
// answers from a script (Ok/Cancel-less defaults when the script is empty).
// Dialogs are recorded in `asked` as "open <title>", "save", "font <family>",
// "print", "input <label>" or "text <title>".
class ScriptedPrompt : public Prompt
{
public:
    struct Shown
    {
        QString text;
        Icon icon;
        Buttons buttons;
        bool defaultNo;
        bool overProgress; // a progress dialog was still open
    };
    // A scripted file-dialog answer: the path chosen, or cancel when empty.
    struct FileAnswer
    {
        QString path;
        bool readOnly = false;
    };

    Answer message(const QString &text, Icon icon, Buttons buttons, bool defaultNo = false) override
    {
        shown.append({text, icon, buttons, defaultNo, openProgress > 0});
        if (!answers.isEmpty())
            return answers.dequeue();
        return buttons == Buttons::Ok || buttons == Buttons::OkCancel ? Answer::Ok : Answer::Yes;
    }
    bool openFileDialog(const QString &title, const QString &filter, QString *path, bool *readOnly) override
    {
        asked.append(QStringLiteral("open ") + title);
        lastFilter = filter;
        const FileAnswer a = fileAnswers.isEmpty() ? FileAnswer() : fileAnswers.dequeue();
        if (readOnly)
            *readOnly = a.readOnly;
        *path = a.path;
        return !a.path.isEmpty();
    }
    bool saveFileDialog(const QString &, const QString &, QString *path) override
    {
        asked.append(QStringLiteral("save"));
        *path = fileAnswers.isEmpty() ? QString() : fileAnswers.dequeue().path;
        return !path->isEmpty();
    }
    bool fontDialog(QString *family, int *pointSize) override
    {
        asked.append(QStringLiteral("font ") + *family);
        if (fontAnswer.first.isEmpty())
            return false;
        *family = fontAnswer.first;
        *pointSize = fontAnswer.second;
        return true;
    }

    bool printDialog(QPrinter *printer) override
    {
        asked.append(QStringLiteral("print"));
        if (printAnswer.isEmpty())
            return false;
        printer->setOutputFormat(QPrinter::PdfFormat);
        printer->setOutputFileName(printAnswer);
        return true;
    }
    bool inputBox(const QString &label, QString *text) override
    {
        asked.append(QStringLiteral("input ") + label);
        if (inputAnswers.isEmpty())
            return false;
        *text = inputAnswers.dequeue();
        return true;
    }
    void showText(const QString &title, const QString &text) override
    {
        asked.append(QStringLiteral("text ") + title);
        shownTexts.append(text);
    }
    // Recorded as "progress <text>"; cancelled once `cancelProgressAt` (when
    // not negative) is reached.
    std::unique_ptr<Progress> progress(const QString &text, int) override
    {
        asked.append(QStringLiteral("progress ") + text);
        struct Scripted : Progress
        {
            int cancelAt;
            int &open;
            Scripted(int at, int &counter) : cancelAt(at), open(++counter) {}
            ~Scripted() override { --open; }
            bool advance(int done) override { return cancelAt < 0 || done < cancelAt; }
        };
        return std::make_unique<Scripted>(cancelProgressAt, openProgress);
    }

    // The last dialog asked for; empty when none was (a failed check rather
    // than a crash when a key never reached its command).
    QString lastAsked() const { return asked.isEmpty() ? QString() : asked.last(); }

    QList<Shown> shown;
    int cancelProgressAt = -1;
    int openProgress = 0; // progress dialogs not yet closed
    QQueue<Answer> answers;
    QStringList asked;
    QQueue<FileAnswer> fileAnswers;
    QPair<QString, int> fontAnswer;
    QString printAnswer; // the PDF file printed to; cancel when empty
    QQueue<QString> inputAnswers; // input box answers; cancelled when empty
    QStringList shownTexts;
    QString lastFilter; // of the last open dialog
};
