#pragma once

class QAccessibleInterface;
class QObject;
class QString;

// Assistive tools see the document tree as a tree: each shown row is an
// item named by its label, under the row of its parent, with its open or
// closed state. Installed once for every NodeTreeView.
QAccessibleInterface *treeAccessibleFactory(const QString &className, QObject *object);
