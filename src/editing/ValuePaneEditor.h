#pragma once

#include <QObject>

class DocumentHost;
class DocumentLifecycle;

// Applies every change of the value pane to the document at once: typed
// markup replaces the selected element or the whole document when it
// parses ("構文エラー" in the status bar while it does not); typed text
// becomes the value of an attribute, a text node, a comment or a CDATA
// section (a comment or CDATA section the document cannot hold yet waits in
// the pane, the reason in the status bar). Each applied change is one step
// of the history.
class ValuePaneEditor : public QObject
{
    Q_OBJECT
public:
    ValuePaneEditor(DocumentHost &host, DocumentLifecycle &lifecycle, QObject *parent = nullptr);

    void txtEdit_Change();

private:
    void applyText(const QString &text);
    void applyContent(const QString &text);
    void applyAttribute(const QString &text);
    void applyDocument(const QString &text, bool wasExpanded);
    void applyElement(const QString &text, bool wasExpanded);
    void resetPaneToNode();

    DocumentHost &m_host;
    DocumentLifecycle &m_lifecycle;
};
