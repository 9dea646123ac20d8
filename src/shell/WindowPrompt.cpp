#include "WindowPrompt.h"

Prompt::Answer WindowPrompt::message(const QString &text, Icon icon, Buttons buttons, bool defaultNo)
{
    m_messages.append(text);
    if (asks())
        return m_inner->message(text, icon, buttons, defaultNo);
    switch (buttons) {
    case Buttons::Ok:
        return Answer::Ok;
    case Buttons::OkCancel:
    case Buttons::YesNoCancel:
        return Answer::Cancel;
    case Buttons::YesNo:
        break;
    }
    return Answer::No;
}

bool WindowPrompt::openFileDialog(const QString &title, const QString &filter, QString *path, bool *readOnly)
{
    return asks() && m_inner->openFileDialog(title, filter, path, readOnly);
}

bool WindowPrompt::saveFileDialog(const QString &filter, const QString &initialPath, QString *path)
{
    return asks() && m_inner->saveFileDialog(filter, initialPath, path);
}

bool WindowPrompt::fontDialog(QString *family, int *pointSize)
{
    return asks() && m_inner->fontDialog(family, pointSize);
}

bool WindowPrompt::printDialog(QPrinter *printer)
{
    return asks() && m_inner->printDialog(printer);
}

bool WindowPrompt::inputBox(const QString &label, QString *text)
{
    return asks() && m_inner->inputBox(label, text);
}

void WindowPrompt::showText(const QString &title, const QString &text)
{
    if (asks())
        m_inner->showText(title, text);
}

std::unique_ptr<Prompt::Progress> WindowPrompt::progress(const QString &text, int maximum)
{
    return asks() ? m_inner->progress(text, maximum) : nullptr;
}
