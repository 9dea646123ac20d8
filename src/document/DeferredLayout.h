#pragma once

#include <QTreeView>

// While a layout of the view's rows is pending, opening or closing an item
// only records it; otherwise each one looks its row up among all the rows
// shown, and opening many items would cost the square of their number.
inline void layOutOnceAfter(QTreeView *tvw)
{
    struct Access : QTreeView
    {
        static void schedule(QTreeView *view) { (view->*&Access::scheduleDelayedItemsLayout)(); }
    };
    Access::schedule(tvw);
}
