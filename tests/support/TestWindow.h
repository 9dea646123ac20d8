#pragma once

#include "ScriptedPrompt.h"
#include "document/DocumentTreeModel.h"
#include "document/XmlDocument.h"
#include "shell/frmMain.h"

#include <QAbstractItemModelTester>

// An editor window for tests: scripted prompts, and the model checked by
// QAbstractItemModelTester through every change.
struct TestWindow
{
    ScriptedPrompt *prompt = new ScriptedPrompt;
    frmMain window{std::unique_ptr<Prompt>(prompt)};
    QAbstractItemModelTester tester{&window.model(), QAbstractItemModelTester::FailureReportingMode::QtTest};

    XmlDocument &doc() { return *window.dom(); }
    DocumentTreeModel &model() { return window.model(); }
    // The whole document's markup; empty without a document.
    QString markup() { return window.dom() ? doc().xml(doc().documentNode()) : QString(); }
};
