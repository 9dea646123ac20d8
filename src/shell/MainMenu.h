#pragma once

#include <QHash>
#include <QString>

#include <functional>

class QAction;
class QMainWindow;
class QMenu;

// The window's menu bar: every menu and item with its object name,
// caption, access key, shortcut and the key texts shown for keys the tree
// handles itself. Items are enabled while their menu is closed; each menu
// shows its items' states when it opens (updateOnOpen).
class MainMenu
{
public:
    explicit MainMenu(QMainWindow *window);

    QAction *item(const QString &name) const { return m_items.value(name); }
    QMenu *menu(const QString &name) const { return m_menus.value(name); }
    QList<QAction *> items() const { return m_items.values(); }

    void enable(const QString &name, bool on);
    // `update` sets the states of the menu's items each time it opens. While
    // the menu is closed its items stay enabled, so that their keys and
    // toolbar buttons reach the commands, which check for themselves.
    void updateOnOpen(const QString &menuName, const std::function<void()> &update);

private:
    QMenu *addMenu(QMenu *parent, const QString &name, const QString &caption);
    QAction *add(QMenu *menu, const QString &name, const QString &caption, const QString &shortcut = QString());
    QAction *addSeparator(QMenu *menu, const QString &name = QString());

    QMainWindow *m_window;
    QHash<QString, QAction *> m_items;
    QHash<QString, QMenu *> m_menus;
};
