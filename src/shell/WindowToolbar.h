#pragma once

#include <QHash>
#include <QString>

class QAction;
class QComboBox;
class QMainWindow;
class QToolBar;

// The window's toolbar: the command buttons (found by key: "new", "open",
// "save", ...) and the path bar, which fills the rest of the bar with its
// label, the expression box and the Go button. Widgets belong to the window.
class WindowToolbar
{
public:
    explicit WindowToolbar(QMainWindow *window);

    QAction *button(const QString &key) const { return m_buttons.value(key); }
    const QHash<QString, QAction *> &buttons() const { return m_buttons; }
    QComboBox *pathBox() const { return m_cboPath; }
    QAction *go() const { return m_go; }

private:
    void addButton(const QString &key, const QString &tooltip);
    void addPathBar();

    QToolBar *m_tbr;
    QHash<QString, QAction *> m_buttons;
    QComboBox *m_cboPath = nullptr;
    QAction *m_go = nullptr;
};
