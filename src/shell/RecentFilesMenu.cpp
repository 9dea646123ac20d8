#include "RecentFilesMenu.h"

#include "Settings.h"

#include <QAction>
#include <QMenu>

namespace {

QString elementName(int i)
{
    return QStringLiteral("mnuFileMRUFiles") + QString::number(i);
}

} // namespace

RecentFilesMenu::RecentFilesMenu(QMenu *mnuFileMRU, QMenu *mnuFile)
    : QObject(mnuFileMRU)
    , m_menu(mnuFileMRU)
{
    QAction *none = m_menu->findChild<QAction *>(elementName(0), Qt::FindDirectChildrenOnly);
    if (!none) {
        none = m_menu->addAction(QStringLiteral("(なし)"));
        none->setObjectName(elementName(0));
    }
    m_elements.append(none);
    if (mnuFile)
        connect(mnuFile, &QMenu::aboutToShow, this, &RecentFilesMenu::refresh);
}

QAction *RecentFilesMenu::element(int i)
{
    while (m_elements.size() <= i) {
        QAction *action = m_menu->addAction(QString());
        action->setObjectName(elementName(int(m_elements.size())));
        connect(action, &QAction::triggered, this, [this, action] { emit fileChosen(action->data().toString()); });
        m_elements.append(action);
    }
    return m_elements.at(i);
}

void RecentFilesMenu::refresh()
{
    const QStringList list = LoadMRU();
    for (int i = 1; i <= list.size(); ++i) {
        QAction *action = element(i);
        const QString &path = list.at(i - 1);
        // "&&": an ampersand in the path is shown, not taken as an access key.
        action->setText(QLatin1Char('&') + QString::number(i) + QLatin1Char(' ')
                        + QString(path).replace(QLatin1Char('&'), QLatin1String("&&")));
        action->setData(path);
        action->setVisible(true);
    }
    for (qsizetype i = list.size() + 1; i < m_elements.size(); ++i)
        m_elements.at(i)->setVisible(false);
    m_elements.at(0)->setVisible(list.isEmpty());
    m_menu->menuAction()->setEnabled(!list.isEmpty());
}
