#include "ValidationCommands.h"

#include "base/StringTable.h"
#include "document/DocumentHost.h"
#include "document/DocumentTreeModel.h"
#include "document/Prompt.h"
#include "document/Selection.h"
#include "document/TreeBuilder.h"
#include "schema/XmlValidation.h"
#include "xml/XmlDocument.h"
#include "schema/ValidationProcess.h"

#include "xml/XmlDocumentObserver.h"

#include <QFileInfo>
#include <QScopeGuard>

namespace {

// Whether the document changed while it was validated: the faults found
// then name nodes of a document that is no more.
class ChangeWatch : public XmlDocumentObserver
{
public:
    ChangeWatch(DocumentHost &host, XmlDocument *document) : m_host(host), m_document(document)
    {
        document->addObserver(this);
    }
    ~ChangeWatch() override
    {
        if (m_host.dom() == m_document) // a replaced document took its observers along
            m_document->removeObserver(this);
    }
    void nodeInserted(const XmlNode &, const XmlNode &, const XmlNode &) override { changed = true; }
    void nodeRemoved(const XmlNode &, const XmlNode &, const XmlNode &) override { changed = true; }
    void nodeRenamed(const XmlNode &, const QString &) override { changed = true; }
    void textChanged(const XmlNode &, const QString &) override { changed = true; }
    void documentReplaced() override { changed = true; }
    bool changed = false;

private:
    DocumentHost &m_host;
    XmlDocument *m_document;
};

// How many faults the message box lists; the count says how many there are.
constexpr int kListed = 10;

// A fault with the line of its node in the window's document, where the
// node came from a file (nodes made in the editor have none).
QString describe(const ValidationError &error)
{
    const XmlNode at = error.node.isAttribute() ? error.node.ownerElement() : error.node;
    const int line = at.lineNumber();
    return line > 0 ? QStringLiteral("%1 行目: %2").arg(line).arg(error.reason) : error.reason;
}

} // namespace

ValidationCommands::ValidationCommands(DocumentHost &host, QObject *parent) : QObject(parent), m_host(host) {}

bool ValidationCommands::canValidate() const
{
    return m_host.dom() != nullptr;
}

void ValidationCommands::mnuToolVerifyNew_Click()
{
    if (!canValidate())
        return;
    QString path;
    if (!m_host.prompt().openFileDialog(dialogTitle(), dialogFilter(), &path, nullptr))
        return;
    // The compact syntax is another language; the earlier choice stays.
    if (isCompactRelaxNg(path)) {
        m_host.prompt().message(GetResString(2901).arg(QFileInfo(path).fileName()), Prompt::Icon::Exclamation);
        return;
    }
    useFile(path);
    Validate();
}

void ValidationCommands::useFile(const QString &path)
{
    // The file is read where it is at every validation, so the files it
    // includes or imports resolve beside it, and edits to it count.
    m_verifyPath = QFileInfo(path).absoluteFilePath();
    m_VerifyFile = QFileInfo(path).fileName();
    emit fileChosen();
}

void ValidationCommands::mnuToolVerify_Click()
{
    if (!canValidate())
        return;
    if (m_VerifyFile.isEmpty())
        mnuToolVerifyNew_Click();
    else
        Validate();
}

void ValidationCommands::Validate()
{
    XmlDocument *document = m_host.dom();
    const SchemaKind kind = schemaKindOf(m_VerifyFile);
    if (!document || kind == SchemaKind::None) {
        // An earlier result says nothing about the file chosen now.
        m_host.setStatusText(QString());
        return;
    }
    // The progress dialog lets events through: F7 again meanwhile waits
    // for this one to end rather than starting a second.
    if (m_running)
        return;
    m_running = true;
    const auto done = qScopeGuard([this] { m_running = false; });
    // The engine runs in a child process, on the document as it is now;
    // what takes longer than a moment shows progress, and Cancel ends the
    // child, its work and its memory at once.
    ValidationProcess run(*document, m_verifyPath, kind);
    ChangeWatch watch(m_host, document);
    // The dialog itself appears only once the work has lasted a moment.
    // A DTD validation tells how far it is; the others show a busy bar.
    std::unique_ptr<Prompt::Progress> progress =
        m_host.prompt().progress(GetResString(20).arg(m_VerifyFile), kind == SchemaKind::Dtd ? 1000 : 0);
    do {
        if (m_host.dom() != document || (progress && !progress->advance(std::max(0, run.progress()))))
            return; // the child ends with `run`
    } while (!run.wait(50));
    // The result's box must not open under a progress dialog still shown.
    progress.reset();
    if (m_host.dom() == document)
        report(run.result(!watch.changed));
}

void ValidationCommands::report(const ValidationResult &result)
{
    Prompt &prompt = m_host.prompt();
    if (!result.schemaError.isEmpty()) {
        m_host.setStatusText(QString());
        prompt.message(result.schemaError, Prompt::Icon::Exclamation);
        return;
    }
    if (result.isValid()) {
        m_host.setStatusText(GetResString(14));
        return;
    }

    // Where the first fault is, as far as it names a node of the tree.
    for (const ValidationError &e : result.errors) {
        if (e.node.isNull() || !m_host.dom()->owns(e.node) || !e.node.isAttached())
            continue;
        const QModelIndex item = m_host.model().indexForNode(e.node);
        if (item.isValid()) {
            m_host.treeBuilder().EnsureVisible(item);
            m_host.selection().ShowNode(item, true);
        }
        break;
    }

    const QString first = describe(result.errors.value(0));
    QString text = first;
    if (result.errorCount > 1) {
        QStringList lines;
        for (int i = 0; i < result.errors.size() && i < kListed; ++i)
            lines << describe(result.errors[i]);
        if (result.errorCount > lines.size())
            lines << QStringLiteral("…");
        text = QStringLiteral("%1 件のエラーがあります。\n\n").arg(result.errorCount) + lines.join(QLatin1Char('\n'));
    }
    m_host.setStatusText(QString(first).replace(QLatin1Char('\n'), QLatin1Char(' ')));
    prompt.message(text, Prompt::Icon::Exclamation);
}
