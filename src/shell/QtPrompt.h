#pragma once

#include "document/Prompt.h"

class QWidget;

// The prompt seam shown with Qt dialogs, captioned with the application
// title, over the window that asks.
class QtPrompt : public Prompt
{
public:
    explicit QtPrompt(QWidget *parent) : m_parent(parent) {}

    Answer message(const QString &text, Icon icon, Buttons buttons) override;

private:
    QWidget *m_parent;
};
