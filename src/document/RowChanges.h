#pragma once

#include <QModelIndex>

#include <functional>

class QAbstractItemModel;

// In place of QAbstractItemModel::beginInsertRows / beginRemoveRows for a
// model that knows which of its indexes a change touches. Qt finds the
// persistent indexes to move or end by walking every one of them, up to the
// top for a removal: with a view that keeps one per open item, a whole
// large document opened costs a million walks per row. Here the model names
// the indexes instead, each passed to the function it is given: `later` the
// rows after the change under `parent`, `removed` (removals only) the
// removed rows and every index made below them. The signals the views see,
// and endInsertRows/endRemoveRows, are Qt's own.
namespace RowChanges {
using Indexes = std::function<void(const std::function<void(const QModelIndex &)> &)>;
void beginInsert(QAbstractItemModel &model, const QModelIndex &parent, int first, int last, const Indexes &later);
void beginRemove(QAbstractItemModel &model, const QModelIndex &parent, int first, int last, const Indexes &later,
                 const Indexes &removed);
}
