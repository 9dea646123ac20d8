#pragma once

#include <QModelIndexList>

class QAbstractItemModel;

// In place of QAbstractItemModel::beginInsertRows / beginRemoveRows for a
// model that knows which of its indexes a change touches. Qt finds the
// persistent indexes to move or end by walking every one of them, up to the
// top for a removal: with a view that keeps one per open item, a whole
// large document opened costs a million walks per row. Here the model names
// the indexes instead: `later` are the rows after the change under
// `parent`, `removed` (removals only) the removed rows and every index made
// below them. The signals the views see, and endInsertRows/endRemoveRows,
// are Qt's own.
namespace RowChanges {
void beginInsert(QAbstractItemModel &model, const QModelIndex &parent, int first, int last,
                 const QModelIndexList &later);
void beginRemove(QAbstractItemModel &model, const QModelIndex &parent, int first, int last,
                 const QModelIndexList &later, const QModelIndexList &removed);
}
