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
    };

    Answer message(const QString &text, Icon icon, Buttons buttons) override
    {
        shown.append({text, icon, buttons});
        if (!answers.isEmpty())
            return answers.dequeue();
        return buttons == Buttons::Ok || buttons == Buttons::OkCancel ? Answer::Ok : Answer::Yes;
    }

    QList<Shown> shown;
    QQueue<Answer> answers;
};
