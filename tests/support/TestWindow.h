#pragma once

#include "document/DocumentTreeModel.h"
#include "document/Selection.h"
#include "ScriptedPrompt.h"
#include "shell/frmMain.h"
#include "undo/UndoController.h"
#include "xml/XmlDocument.h"

#include <QAbstractItemModelTester>
#include <QAction>
#include <QMenu>
#include <QRegularExpression>
#include <QTest>

// An editor window for tests: scripted prompts, and the model checked by
// QAbstractItemModelTester through every change.
struct TestWindow
{
    ScriptedPrompt *prompt = new ScriptedPrompt;
    frmMain window{std::unique_ptr<Prompt>(prompt)};
    QAbstractItemModelTester tester{&window.model(), QAbstractItemModelTester::FailureReportingMode::QtTest};

    TestWindow() = default;
    // Showing `xml`, loaded as a client's LoadXML does.
    explicit TestWindow(const QString &xml)
    {
        window.LoadXML(xml);
        if (!window.dom())
            qFatal("fixture does not parse");
    }

    XmlDocument &doc() { return *window.dom(); }
    DocumentTreeModel &model() { return window.model(); }
    // The whole document's markup; empty without a document.
    QString markup() { return window.dom() ? doc().xml(doc().documentNode()) : QString(); }
    // The markup without the line breaks and indentation of the output.
    QString flat() { return markup().remove(QRegularExpression(QStringLiteral("\\n *"))); }
    // The item reached from the document's item through `rows`; a -1 row
    // gives no item.
    QModelIndex item(const QList<int> &rows)
    {
        QModelIndex i = model().documentIndex();
        for (int r : rows)
            i = r < 0 ? QModelIndex() : model().index(r, 0, i);
        return i;
    }
    void select(const QModelIndex &i) { window.selection().ShowNode(i, true); }
    QModelIndex selected() { return window.selection().selectedItem(); }
    int steps() { return window.undo().history() ? window.undo().history()->undoCount() : 0; }
    // A 1 or 0 for each item, as `menu` leaves them when it opens.
    QString states(const char *menu, std::initializer_list<const char *> items)
    {
        emit window.menuItem(QString::fromLatin1(menu))->menu()->aboutToShow();
        QString out;
        for (const char *name : items)
            out += window.menuItem(QString::fromLatin1(name))->isEnabled() ? u'1' : u'0';
        return out;
    }
    // One change as an edit makes it: an attribute of the root, then the
    // window told.
    void change(const QString &value, const QString &name = QStringLiteral("n"))
    {
        doc().setAttribute(doc().documentElement(), name, value);
        window.DocumentModified();
    }
    // Shown on the screen (and active, for keys that go to the focus widget).
    bool showWindow(bool active = false)
    {
        window.show();
        if (!active)
            return QTest::qWaitForWindowExposed(&window);
        window.activateWindow();
        return QTest::qWaitForWindowActive(&window);
    }
    bool enabled(const char *button) { return window.button(QString::fromLatin1(button))->isEnabled(); }
};
