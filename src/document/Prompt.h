#pragma once

#include <QString>

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
    virtual Answer message(const QString &text, Icon icon = Icon::None, Buttons buttons = Buttons::Ok) = 0;
};
