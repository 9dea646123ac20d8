#pragma once

#include "schema/FaultScan.h"
#include "schema/SchemaGuide.h"
#include "xml/XmlDocumentObserver.h"

#include <QList>
#include <QObject>
#include <QTimer>

#include <memory>

class DocumentHost;
class QAction;
class QLabel;
class XmlDocument;

// Editing guided by the document's schema: which schema is in use (the
// validation file chosen for the window, else the document's own DTD, the RELAX NG grammar or
// the XSD it names), the names and values it offers, and the check run in
// the background half a second after each change, whose faults are marked
// in the tree and counted in a field of the status bar of its own. Without a schema it does
// nothing at all.
class SchemaAssist : public QObject, private XmlDocumentObserver
{
    Q_OBJECT
public:
    // `live` is the View menu's checkable item that turns the check on (its
    // state as the window's settings give it);
    // `count` the status bar's field that shows how many faults there are.
    SchemaAssist(DocumentHost &host, QAction *live, QLabel *count, QObject *parent = nullptr);
    ~SchemaAssist() override;

    // The window's document changed object (null: none).
    void setDocument(XmlDocument *document);
    // Look again for the schema in use: the document was opened or saved
    // elsewhere, or another validation file was chosen (`chosenPath`).
    void refresh(const QString &chosenPath);

    // Null while no usable schema is in use.
    const SchemaGuide *guide() const { return m_guide.get(); }

    // For the label editor, the add-attribute command and the value pane.
    QStringList namesFor(const XmlNode &node) const;
    QString attributeProposal(const XmlNode &element) const;
    QStringList valuesFor(const XmlNode &node) const;
    // For a name offered for `node` whose prefix nothing declares there:
    // the prefix and namespace to declare on the element first.
    std::pair<QString, QString> declarationFor(const XmlNode &node, const QString &name) const;

    // F8 and Shift+F8: select the next (previous) faulty node after the
    // selected one, in document order, coming round at the end.
    void selectFault(bool forward);

    // How many faults the last check found.
    int faultCount() const { return m_count; }

    // Above this size (100 MB) a whole check takes seconds (about 30 ms a
    // MB of file on an idle machine): the check then waits for a pause in
    // typing about as long as it takes, so that it runs less often, and the
    // status bar says so. Tests lower it.
    static qint64 &largeDocumentBytes();
    // The pause in typing a check waits for.
    int pauseMs() const;

signals:
    // A check finished and its marks are shown.
    void checked();

private:
    void changed();
    void changedWhole();
    void forget();
    void startCheck();
    void showFaults(int count, const QList<XmlNode> &nodes, const QHash<XmlNode, QString> &marks);
    // Shows a whole check's faults, in document order.
    void showChecked(int count, const QList<FaultScan::Fault> &faults);
    // After values changed only: the changed elements' subtrees checked on
    // this thread, the rest of the last whole check's faults kept. False
    // when the whole document needs checking.
    bool checkChangedSubtrees();
    void setLive(bool on);

    void nodeInserted(const XmlNode &, const XmlNode &, const XmlNode &) override { changedWhole(); }
    void nodeRemoved(const XmlNode &, const XmlNode &node, const XmlNode &) override;
    void nodeRenamed(const XmlNode &, const QString &) override { changedWhole(); }
    void textChanged(const XmlNode &node, const QString &) override;
    void documentReplaced() override;

    DocumentHost &m_host;
    QAction *m_live;
    QLabel *m_countLabel;
    XmlDocument *m_document = nullptr;
    QString m_chosenPath;
    QString m_documentPath;
    SchemaSource m_source;
    std::unique_ptr<SchemaGuide> m_guide;
    FaultScan *m_scan;
    QTimer m_delay;
    QList<XmlNode> m_faultOrder; // in document order
    int m_count = 0;
    // The faults shown, all of them, in document order; valid for the
    // document as it is but for the values changed in `m_touched` since.
    QList<FaultScan::Fault> m_faults;
    QList<XmlNode> m_touched;
    bool m_wholeNeeded = true;
};
