#pragma once

#include "ScriptedPrompt.h"
#include "document/DocumentTreeModel.h"
#include "document/XmlDocument.h"
#include "shell/frmMain.h"

#include <QAbstractItemModelTester>
#include <QAction>

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
    // The item reached from the document's item through `rows`.
    QModelIndex item(std::initializer_list<int> rows)
    {
        QModelIndex i = model().documentIndex();
        for (int r : rows)
            i = model().index(r, 0, i);
        return i;
    }
    // One change as an edit makes it: an attribute of the root, then the
    // window told.
    void change(const QString &value, const QString &name = QStringLiteral("n"))
    {
        doc().setAttribute(doc().documentElement(), name, value);
        window.DocumentModified();
    }
    bool enabled(const char *button) { return window.button(QString::fromLatin1(button))->isEnabled(); }
};
