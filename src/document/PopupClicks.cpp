#include "PopupClicks.h"

#include <QApplication>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>
#include <QWindow>

namespace {

class ClickPasser : public QObject
{
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        auto *list = qobject_cast<QWidget *>(watched);
        if (!list || event->type() != QEvent::MouseButtonPress || !list->isVisible())
            return false;
        const auto *press = static_cast<QMouseEvent *>(event);
        const QPoint global = press->globalPosition().toPoint();
        if (list->rect().contains(list->mapFromGlobal(global)))
            return false;
        list->hide();
        // Delivered to the window under the pointer as the system's own
        // press is, so that focus and the release follow it.
        QWidget *under = QApplication::widgetAt(global);
        QPointer<QWindow> target = under ? under->window()->windowHandle() : nullptr;
        if (target) {
            QMouseEvent again(QEvent::MouseButtonPress, target->mapFromGlobal(press->globalPosition()), press->globalPosition(),
                              press->button(), press->buttons(), press->modifiers());
            QCoreApplication::sendEvent(target, &again);
        }
        return true;
    }
};

} // namespace

void passOnClicksOutside(QWidget *list)
{
    // Qt's own replay of the press, where a platform does it, would be a second one.
    list->setAttribute(Qt::WA_NoMouseReplay);
    const QString name = QStringLiteral("clickPasser");
    QObject *passer = list->findChild<QObject *>(name, Qt::FindDirectChildrenOnly);
    if (!passer) {
        passer = new ClickPasser(list);
        passer->setObjectName(name);
    }
    // Installed again, it comes first again.
    list->installEventFilter(passer);
}
