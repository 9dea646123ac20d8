#include "RowChanges.h"

#include <QAbstractItemModel>
#include <QMetaMethod>

// The model's persistent indexes are only reachable through Qt's private
// header; the build pins the Qt version it was written against.
#include <QtCore/private/qabstractitemmodel_p.h>

static_assert(QT_VERSION >= QT_VERSION_CHECK(6, 4, 0) && QT_VERSION < QT_VERSION_CHECK(6, 5, 0),
              "RowChanges mirrors QAbstractItemModel::beginInsertRows/beginRemoveRows; check them against this Qt version");

namespace {

QAbstractItemModelPrivate *privateOf(QAbstractItemModel &model)
{
    return static_cast<QAbstractItemModelPrivate *>(QObjectPrivate::get(&model));
}

// What Qt's begin functions do before their walk: the change recorded for
// the matching end function, and the signal sent (it is private to the
// class, so through its meta-method).
void announce(QAbstractItemModel &model, const QMetaMethod &signal, const QModelIndex &parent, int first, int last)
{
    privateOf(model)->changes.push(QAbstractItemModelPrivate::Change(parent, first, last));
    signal.invoke(&model, Qt::DirectConnection, Q_ARG(QModelIndex, parent), Q_ARG(int, first), Q_ARG(int, last));
}

// The persistent indexes kept for `indexes`, looked up after the signal:
// views may have made some while answering it.
QList<QPersistentModelIndexData *> persistentFor(QAbstractItemModel &model, const RowChanges::Indexes &indexes)
{
    QList<QPersistentModelIndexData *> found;
    const auto &kept = privateOf(model)->persistent.indexes;
    if (kept.isEmpty())
        return found;
    indexes([&](const QModelIndex &index) {
        for (auto [it, end] = kept.equal_range(index); it != end; ++it)
            found.append(*it);
    });
    return found;
}

} // namespace

void RowChanges::beginInsert(QAbstractItemModel &model, const QModelIndex &parent, int first, int last,
                             const Indexes &later)
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&QAbstractItemModel::rowsAboutToBeInserted);
    announce(model, signal, parent, first, last);
    privateOf(model)->persistent.moved.push(persistentFor(model, later));
}

void RowChanges::beginRemove(QAbstractItemModel &model, const QModelIndex &parent, int first, int last,
                             const Indexes &later, const Indexes &removed)
{
    static const QMetaMethod signal = QMetaMethod::fromSignal(&QAbstractItemModel::rowsAboutToBeRemoved);
    announce(model, signal, parent, first, last);
    QAbstractItemModelPrivate *d = privateOf(model);
    d->persistent.moved.push(persistentFor(model, later));
    d->persistent.invalidated.push(persistentFor(model, removed));
}
