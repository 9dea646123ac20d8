#pragma once

#include <QHash>
#include <QString>

class QAction;
class QMainWindow;
class QMenu;

// The window's menu bar: every menu and item with its object name,
// caption, access key, shortcut and the key texts shown for keys the tree
// handles itself. Items start enabled; the window disables what it does
// not carry out.
class MainMenu
{
public:
    explicit MainMenu(QMainWindow *window);

    QAction *item(const QString &name) const { return m_items.value(name); }
    QMenu *menu(const QString &name) const { return m_menus.value(name); }
    QList<QAction *> items() const { return m_items.values(); }

private:
    QMenu *addMenu(QMenu *parent, const QString &name, const QString &caption);
    QAction *add(QMenu *menu, const QString &name, const QString &caption, const QString &shortcut = QString());
    QAction *addSeparator(QMenu *menu, const QString &name = QString());

    QMainWindow *m_window;
    QHash<QString, QAction *> m_items;
    QHash<QString, QMenu *> m_menus;
};
