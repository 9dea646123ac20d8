#pragma once

#include <QByteArray>
#include <QString>

// The outcome of running a user's style sheet.
struct TransformResult
{
    bool ok = false;
    QByteArray output; // UTF-8, declaring UTF-8 where it declares anything
    QString error;     // the engine's reason, with the style sheet's line
};

// Runs the XSLT 1.0 style sheet at `styleSheetPath` (EXSLT available) over
// the document given as markup. Safe on any thread; nothing is shared with
// the window's document. The style sheet may read files only in its own
// folder (for include, import and document()); writing files, creating
// folders and every network access are refused.
TransformResult transformWithStyleSheet(const QByteArray &documentMarkup, const QString &styleSheetPath);
