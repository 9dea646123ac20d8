#pragma once

#include <QObject>
#include <QString>

class DocumentHost;
class DocumentLifecycle;
class QNetworkAccessManager;
class XmlDocument;
class XmlNode;

// The document commands of the Tools menu beyond preview and validation:
// clearing every text and attribute value, sending the document to a URL,
// and opening the document's file in an external program.
class ToolCommands : public QObject
{
    Q_OBJECT
public:
    ToolCommands(DocumentHost &host, DocumentLifecycle &lifecycle, QObject *parent = nullptr);

    // Asks first; removes every text and comment node and empties every
    // attribute value, keeping elements, CDATA sections, processing
    // instructions and namespace declarations. One step of the history.
    void mnuToolRemoveText_Click();
    // Asks for a URL and POSTs the document there, as Save would write it.
    // Returns at once; a failure is reported when the answer comes.
    void mnuToolSend_Click();
    // Starts `program` with the document's file as its one argument.
    void mnuToolOpen_Click(const QString &program);
    // Asks for a printer and prints the tree's outline, every node as the
    // tree labels it.
    void mnuFilePrintTree_Click();

    // The removal behind Clear values, for `node` and its subtree. Returns
    // how many nodes it changed.
    static int ClearTextValues(XmlDocument &document, const XmlNode &node);

    bool canClearValues() const;
    bool canOpenInProgram() const;

    // How long a send may go without any transfer before it is given up.
    static constexpr int kSendTimeoutMs = 30000;
    int sendTimeoutMs = kSendTimeoutMs;

signals:
    // A send ended; `error` is empty when the server accepted it.
    void sendFinished(const QString &error);

private:
    void warn(const QString &text);

    DocumentHost &m_host;
    DocumentLifecycle &m_lifecycle;
    QNetworkAccessManager *m_network = nullptr;
};
