#pragma once

#include "document/Prompt.h"

#include <QList>
#include <QQueue>

// A prompt for tests: records every message with its icon and buttons and
// answers from a script (Ok/Cancel-less defaults when the script is empty).
class ScriptedPrompt : public Prompt
{
public:
    struct Shown
    {
        QString text;
        Icon icon;
        Buttons buttons;
        bool defaultNo;
    };

    Answer message(const QString &text, Icon icon, Buttons buttons, bool defaultNo = false) override
    {
        shown.append({text, icon, buttons, defaultNo});
        if (!answers.isEmpty())
            return answers.dequeue();
        return buttons == Buttons::Ok || buttons == Buttons::OkCancel ? Answer::Ok : Answer::Yes;
    }

    // A scripted file-dialog answer: the path chosen, or cancel when empty.
    struct FileAnswer
    {
        QString path;
        bool readOnly = false;
    };
    struct FileAsked
    {
        QString kind; // "open" or "save"
        QString title;
        QString filter;
        QString initialPath;
    };

    bool openFileDialog(const QString &title, const QString &filter, QString *path, bool *readOnly) override
    {
        asked.append({QStringLiteral("open"), title, filter, QString()});
        const FileAnswer a = fileAnswers.isEmpty() ? FileAnswer() : fileAnswers.dequeue();
        if (a.path.isEmpty())
            return false;
        *path = a.path;
        if (readOnly)
            *readOnly = a.readOnly;
        return true;
    }
    bool saveFileDialog(const QString &filter, const QString &initialPath, QString *path) override
    {
        asked.append({QStringLiteral("save"), QString(), filter, initialPath});
        const FileAnswer a = fileAnswers.isEmpty() ? FileAnswer() : fileAnswers.dequeue();
        if (a.path.isEmpty())
            return false;
        *path = a.path;
        return true;
    }
    bool fontDialog(QString *family, int *pointSize) override
    {
        asked.append({QStringLiteral("font"), *family, QString::number(*pointSize), QString()});
        if (fontAnswer.first.isEmpty())
            return false;
        *family = fontAnswer.first;
        *pointSize = fontAnswer.second;
        return true;
    }

    QList<Shown> shown;
    QQueue<Answer> answers;
    QList<FileAsked> asked;
    QQueue<FileAnswer> fileAnswers;
    QPair<QString, int> fontAnswer;
};
