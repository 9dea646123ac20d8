#pragma once

#include <QList>
#include <QObject>

class QAction;
class QMenu;

// Fills the recent-file submenu `mnuFileMRU` from the store each time the
// File menu opens, so every window sees the opens of all running editors.
// Its elements are the actions `mnuFileMRUFiles<i>`: element 0 reads
// "(なし)" and shows only while the list is empty; element i (1 … n) shows
// "&<i> <path>" and holds the path in QAction::data(). Elements from an
// earlier, longer list are hidden. With an empty list the submenu itself is
// disabled.
class RecentFilesMenu : public QObject
{
    Q_OBJECT
public:
    // Becomes a child of `mnuFileMRU`. When `mnuFile` is given, opening it
    // refreshes the submenu. An action named "mnuFileMRUFiles0" already in
    // the submenu is used as element 0; otherwise one is added.
    explicit RecentFilesMenu(QMenu *mnuFileMRU, QMenu *mnuFile = nullptr);

    QMenu *menu() const { return m_menu; }

public slots:
    void refresh();

signals:
    // Element i was clicked. Asking to save the current document and opening
    // the file are the window's business.
    void fileChosen(const QString &path);

private:
    QAction *element(int i);

    QMenu *m_menu;
    QList<QAction *> m_elements; // index i is element i
};
