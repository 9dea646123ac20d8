#pragma once

#include "document/Prompt.h"

#include <QString>

class QWidget;

// The prompt seam shown with Qt dialogs, captioned with the application
// title, over the window that asks.
class QtPrompt : public Prompt
{
public:
    explicit QtPrompt(QWidget *parent) : m_parent(parent) {}

    Answer message(const QString &text, Icon icon, Buttons buttons, bool defaultNo) override;
    bool openFileDialog(const QString &title, const QString &filter, QString *path, bool *readOnly) override;
    bool saveFileDialog(const QString &filter, const QString &initialPath, QString *path) override;
    bool fontDialog(QString *family, int *pointSize) override;
    bool printDialog(QPrinter *printer) override;
    bool inputBox(const QString &label, QString *text) override;
    void showText(const QString &title, const QString &text) override;
    std::unique_ptr<Progress> progress(const QString &text, int maximum) override; // QtProgress.cpp

    // "desc|pattern|desc|pattern" to Qt's "desc (pattern);;desc (pattern)".
    static QString toQtFilter(const QString &filter);

private:
    QWidget *m_parent;
    QString m_lastPath; // the dialogs start where the last one ended
};
