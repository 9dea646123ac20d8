#include "DocumentLifecycle.h"

#include "base/StringTable.h"
#include "DocumentHost.h"
#include "DocumentTreeModel.h"
#include "Prompt.h"
#include "RecoveryJournal.h"
#include "Selection.h"
#include "TempFolder.h"
#include "TreeBuilder.h"
#include "ValuePane.h"
#include "xml/SaveTarget.h"
#include "xml/XmlDocument.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include "NodeTreeView.h"

namespace {

const QString kTitle = QStringLiteral("Ostrel XML Editor");
const QString kOpenFilter = QStringLiteral("XMLファイル(*.xml)|*.xml|XSLファイル(*.xsl)|*.xsl|すべてのファイル(*.*)|*.*");
const QString kSaveFilter = QStringLiteral("XML File(*.xml)|*.xml|XSL File(*.xsl)|*.xsl|すべてのファイル (*)|*");

QString namePart(const QString &path)
{
    const int slash = int(path.lastIndexOf(QLatin1Char('/')));
    return slash < 0 ? path : path.mid(slash + 1);
}

bool isReadOnlyFile(const QString &path)
{
    // A file without any write permission bit counts as read-only, even for
    // root (the "user" bits say what this process may do, not the file's flag).
    const QFileDevice::Permissions p = QFile::permissions(path);
    return !(p & (QFileDevice::WriteOwner | QFileDevice::WriteGroup | QFileDevice::WriteOther));
}

void makeWritable(const QString &path)
{
    QFile::setPermissions(path, QFile::permissions(path) | QFileDevice::WriteOwner | QFileDevice::WriteUser);
}

// A style-sheet reference that may be copied: a plain relative name inside
// the document's folder, never a URL, an absolute path or a way out.
bool isSafeRelativeName(const QString &name)
{
    if (name.isEmpty() || name.startsWith(QLatin1Char('/')) || name.contains(QLatin1Char('\\'))
        || name.contains(QLatin1Char(':')))
        return false;
    const QStringList parts = name.split(QLatin1Char('/'));
    return !parts.contains(QStringLiteral("..")) && !parts.contains(QString());
}

// libxml2's tree takes about this many times the file's size.
constexpr qint64 kLoadMemoryFactor = 15;

qint64 readNumber(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    bool ok = false;
    const qint64 n = file.readAll().trimmed().toLongLong(&ok);
    return ok ? n : -1;
}

// The memory a load may take: what the system has available, or less when
// the process's control group is limited. 0 when unknown.
qint64 availableMemory()
{
    qint64 available = 0;
    QFile meminfo(QStringLiteral("/proc/meminfo"));
    if (meminfo.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : meminfo.readAll().split('\n'))
            if (line.startsWith("MemAvailable:"))
                available = line.mid(13).trimmed().split(' ').value(0).toLongLong() * 1024;
    }
    QFile cgroup(QStringLiteral("/proc/self/cgroup"));
    if (cgroup.open(QIODevice::ReadOnly)) {
        const QByteArray line = cgroup.readAll().trimmed();
        if (line.startsWith("0::")) {
            const QString dir = QStringLiteral("/sys/fs/cgroup") + QString::fromUtf8(line.mid(3));
            const qint64 limit = readNumber(dir + QStringLiteral("/memory.max"));
            const qint64 used = readNumber(dir + QStringLiteral("/memory.current"));
            if (limit > 0 && used >= 0 && (available <= 0 || limit - used < available))
                available = std::max<qint64>(limit - used, 1);
        }
    }
    return available;
}

} // namespace

QString DocumentLifecycle::caption(const QString &fileName, bool dirty, bool readOnly, bool hasDocument)
{
    if (!hasDocument && fileName.isEmpty())
        return kTitle;
    QString result = namePart(fileName);
    if (dirty)
        result += QStringLiteral(" *");
    if (readOnly)
        result += QStringLiteral(" (読み取り専用)");
    return result + QStringLiteral(" - ") + kTitle;
}

QString DocumentLifecycle::backupPath(const QString &folder, const QString &source)
{
    const QString stamp = QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMddHHmmss"));
    const QString sourcePath = QFileInfo(source).absoluteFilePath();
    for (int n = 1;; ++n) {
        const QString candidate = folder + QLatin1Char('/') + stamp
            + (n == 1 ? QString() : QLatin1Char('-') + QString::number(n)) + QStringLiteral(".bak");
        if (!QFileInfo::exists(candidate) && QFileInfo(candidate).absoluteFilePath() != sourcePath)
            return candidate;
    }
}

bool DocumentLifecycle::QuerySave()
{
    if (!m_host.flags().m_Dirty)
        return true;
    switch (m_host.prompt().message(GetResString(12), Prompt::Icon::Question, Prompt::Buttons::YesNoCancel)) {
    case Prompt::Answer::Cancel:
        return false;
    case Prompt::Answer::Yes:
        mnuFileSave_Click();
        // A save that failed or whose file choice was cancelled keeps the
        // changes, and the window with them.
        return !m_host.flags().m_Dirty;
    default:
        return true;
    }
}

void DocumentLifecycle::ClearStatus()
{
    WindowFlags &f = m_host.flags();
    m_host.setDom(nullptr);
    f.m_FileName.clear();
    // Undo All returns to the document as opened; with none there is nothing.
    f.m_BackupPath.clear();
    f.m_Dirty = f.m_HasFile = f.m_ReadOnly = false;
    f.m_PaneUpdating = true;
    m_host.txtEdit()->setText(QString());
    f.m_PaneUpdating = false;
    m_host.txtEdit()->setLocked(true);
    m_host.model().clear();
    m_host.setCaption(kTitle);
    m_host.showPreview();
    for (const char *key : {"save", "print", "preview", "cut", "copy", "paste", "delete", "find", "verify", "undo", "redo"})
        m_host.setButtonEnabled(QString::fromLatin1(key), false);
    m_host.documentStateChanged();
    // With the document gone, so is its history (setDom above).
}

bool DocumentLifecycle::OpenFile(const QString &path, const std::function<void()> &beforeReplacing, bool remember)
{
    m_cancelled = false;
    if (path.isEmpty())
        return false;
    const QFileInfo info(path);
    if (!info.isFile() || !info.isReadable()) {
        if (beforeReplacing)
            beforeReplacing();
        m_host.prompt().message(QStringLiteral("ファイルを開けません。\n%1").arg(path), Prompt::Icon::Exclamation);
        return false;
    }
    if (!enoughMemoryFor(info.size())) {
        m_cancelled = true;
        return false;
    }
    WindowFlags &f = m_host.flags();
    auto document = std::make_unique<XmlDocument>();
    const bool loaded = document->load(path, progressFor(17, path));
    if (m_cancelled)
        return false;
    if (beforeReplacing)
        beforeReplacing();
    if (!loaded) {
        // The window keeps the document it had, with its flags and backup,
        // so what it shows is what it holds and Undo All still returns to it.
        const XmlParseError &e = document->parseError();
        QString text = GetResString(8) + QLatin1Char('\n') + e.reason;
        if (e.line > 0)
            text += QStringLiteral("\n(%1行目)").arg(e.line);
        m_host.prompt().message(text, Prompt::Icon::Exclamation);
        return false;
    }

    if (!f.m_ReadOnly)
        f.m_ReadOnly = isReadOnlyFile(path);
    const QString folder = m_host.tempFolder();
    if (!folder.isEmpty()) {
        const QString backup = backupPath(folder, path);
        f.m_BackupPath = QFile::copy(path, backup) ? backup : QString();
        if (!f.m_BackupPath.isEmpty())
            makeWritable(backup);
    }

    showDocument(std::move(document));
    copyStyleSheets(path);

    f.m_Dirty = false;
    f.m_HasFile = true;
    enableDocumentButtons();
    ResetUndo();
    if (remember)
        m_host.addRecentFile(info.absoluteFilePath());
    return true;
}

void DocumentLifecycle::showDocument(std::unique_ptr<XmlDocument> document)
{
    m_host.setDom(std::move(document));
    m_host.treeBuilder().Rebuild(m_host.dom(), true);
    DocumentTreeModel &model = m_host.model();
    const QModelIndex top = model.documentIndex();
    m_host.tvw()->expand(top);
    for (int row = 0; row < model.rowCount(top); ++row)
        m_host.tvw()->expand(model.index(row, 0, top));
    // Shown before the tree takes the focus, or the focus would pick a
    // current item and fill the panes a second time.
    m_host.selection().ShowNode(top, true);
    m_host.tvw()->setFocus();
}

bool DocumentLifecycle::Recover(const QString &copyPath, const QString &sourcePath, QString *error)
{
    auto document = std::make_unique<XmlDocument>();
    if (copyPath.endsWith(QLatin1String(".journal"))) {
        if (!RecoveryJournal::restore(*document, copyPath, error))
            return false;
    } else if (!document->load(copyPath) || !document->documentElement()) {
        const XmlParseError &e = document->parseError();
        *error = e.line > 0 ? QStringLiteral("%1 (%2行目)").arg(e.reason).arg(e.line) : e.reason;
        return false;
    }
    showDocument(std::move(document));
    WindowFlags &f = m_host.flags();
    f.m_BackupPath.clear();
    f.m_ReadOnly = false;
    f.m_HasFile = !sourcePath.isEmpty();
    f.m_Dirty = true;
    enableDocumentButtons();
    ResetUndo();
    UpdateStatus(sourcePath.isEmpty() ? newFileName() : sourcePath);
    return true;
}

bool DocumentLifecycle::enoughMemoryFor(qint64 size)
{
    const qint64 needed = size * kLoadMemoryFactor;
    const qint64 available = availableMemory();
    if (available <= 0 || needed <= available)
        return true;
    constexpr qint64 mb = 1024 * 1024;
    return m_host.prompt().message(resourceString(1019).arg((needed + mb - 1) / mb).arg(available / mb),
                                   Prompt::Icon::Exclamation, Prompt::Buttons::YesNo, true)
        == Prompt::Answer::Yes;
}

std::function<bool(qint64, qint64)> DocumentLifecycle::progressFor(int text, const QString &path)
{
    m_cancelled = false;
    constexpr int kSteps = 1000;
    // The dialog is made at the first report: work too short to report
    // any has none.
    std::shared_ptr<Prompt::Progress> progress;
    return [this, progress, text = GetResString(text).arg(namePart(path)), shown = -1](qint64 done,
                                                                                        qint64 total) mutable {
        if (!progress)
            progress = m_host.prompt().progress(text, kSteps);
        // Past an estimated total (a save of a grown document) the bar waits at its end.
        const int step = total > 0 ? int(std::min<qint64>(kSteps - 1, done * kSteps / total)) : 0;
        if (!progress || step == shown)
            return true;
        shown = step;
        if (!progress->advance(step))
            m_cancelled = true;
        return !m_cancelled;
    };
}

void DocumentLifecycle::copyStyleSheets(const QString &documentPath)
{
    const QString folder = m_host.tempFolder();
    if (folder.isEmpty())
        return;
    const QString sourceDir = QFileInfo(documentPath).absolutePath();
    // A backup opened again (Undo All) already stands beside its copies.
    if (QFileInfo(sourceDir).canonicalFilePath() == QFileInfo(folder).canonicalFilePath())
        return;
    for (XmlNode child = m_host.dom()->documentNode().firstChild(); child; child = child.nextSibling()) {
        if (child.kind() != NodeKind::ProcessingInstruction || child.nodeName() != QLatin1String("xml-stylesheet"))
            continue;
        const QString s = child.text();
        const int p = int(s.indexOf(QLatin1String("href=")));
        if (p < 0 || p + 5 >= s.size())
            continue;
        const QChar q = s.at(p + 5);
        const int end = int(s.indexOf(q, p + 6));
        if (end < 0)
            continue;
        const QString name = s.mid(p + 6, end - p - 6);
        if (!isSafeRelativeName(name))
            continue;
        const QString target = folder + QLatin1Char('/') + name;
        const QString source = sourceDir + QLatin1Char('/') + name;
        QFile::remove(target);
        // A FIFO or device would block the copy for good: skipped as a missing file is.
        if (QFileInfo(source).isFile() && QFile::copy(source, target))
            makeWritable(target);
    }
}

void DocumentLifecycle::enableDocumentButtons()
{
    for (const char *key : {"save", "print", "preview", "find", "verify"})
        m_host.setButtonEnabled(QString::fromLatin1(key), true);
}

void DocumentLifecycle::LoadXML(const QString &text)
{
    auto document = std::make_unique<XmlDocument>();
    if (!document->loadXML(text) || !document->documentElement()) {
        m_host.prompt().message(GetResString(8) + QLatin1Char('\n') + document->parseError().reason,
                                Prompt::Icon::Exclamation);
        return;
    }
    m_host.setDom(std::move(document));
    m_host.treeBuilder().Rebuild(m_host.dom(), true);
    // A document loaded from text has the same commands as one opened.
    enableDocumentButtons();
    UpdateStatus(m_host.dom()->documentNode().nodeName());
}

bool DocumentLifecycle::SaveFile(const QString &path)
{
    XmlDocument *dom = m_host.dom();
    if (!dom)
        return false;
    // A folder, device, FIFO or socket is left alone, mode included.
    const QString refused = savetarget::refusal(path);
    if (!refused.isEmpty()) {
        m_host.prompt().message(QStringLiteral("保存できませんでした。\n%1").arg(refused), Prompt::Icon::Exclamation);
        return false;
    }
    const QString backup = savetarget::writesInPlace(path) ? backupBeforeInPlaceWrite(path) : QString();
    // A read-only target is written anew without the flag; it is kept
    // intact, flag included, when the write fails.
    const bool wasReadOnly = QFileInfo::exists(path) && isReadOnlyFile(path);
    const QFileDevice::Permissions oldPermissions = QFile::permissions(path);
    if (wasReadOnly)
        makeWritable(path);
    QString error;
    m_host.flags().m_Saving = true;
    const bool saved = dom->save(path, &error, progressFor(18, path));
    m_host.flags().m_Saving = false;
    if (!saved) {
        if (wasReadOnly)
            QFile::setPermissions(path, oldPermissions);
        if (m_cancelled)
            return false;
        // A write in place may have left the file part written.
        if (!backup.isEmpty())
            error += QStringLiteral("\n元の内容のバックアップ: %1").arg(backup);
        m_host.prompt().message(QStringLiteral("保存できませんでした。\n%1").arg(error), Prompt::Icon::Exclamation);
        return false;
    }
    WindowFlags &f = m_host.flags();
    f.m_Dirty = false;
    f.m_HasFile = true;
    f.m_ReadOnly = false;
    UpdateStatus(path);
    return true;
}

QString DocumentLifecycle::backupBeforeInPlaceWrite(const QString &path)
{
    const WindowFlags &f = m_host.flags();
    const QFileInfo target(path);
    if (f.m_HasFile && !f.m_BackupPath.isEmpty() && QFileInfo::exists(f.m_BackupPath)
        && target.canonicalFilePath() == QFileInfo(f.m_FileName).canonicalFilePath())
        return f.m_BackupPath;
    // Another file saved over (Save As) has no backup yet.
    const QString folder = m_host.tempFolder();
    if (folder.isEmpty())
        return QString();
    const QString copy = backupPath(folder, path);
    if (!QFile::copy(path, copy))
        return QString();
    makeWritable(copy);
    return copy;
}

void DocumentLifecycle::UpdateStatus(const QString &path)
{
    m_host.flags().m_FileName = path;
    UpdateCaption();
    m_host.showPreview();
}

void DocumentLifecycle::UpdateCaption()
{
    const WindowFlags &f = m_host.flags();
    m_host.setCaption(caption(f.m_FileName, f.m_Dirty, f.m_ReadOnly, m_host.dom() != nullptr));
    m_host.documentStateChanged();
}

void DocumentLifecycle::DocumentModified()
{
    WindowFlags &f = m_host.flags();
    if (!f.m_Dirty) {
        f.m_Dirty = true;
        const QString name = namePart(f.m_FileName);
        m_host.setCaption((name.isEmpty() ? newFileName() : name) + QStringLiteral(" * - ") + kTitle);
    }
    m_host.recordUndo();
}

void DocumentLifecycle::ResetUndo()
{
    m_host.resetUndo();
    m_host.setButtonEnabled(QStringLiteral("undo"), false);
    m_host.setButtonEnabled(QStringLiteral("redo"), false);
}

void DocumentLifecycle::mnuFileNew_Click()
{
    if (!QuerySave())
        return;
    ClearStatus();
    const QString templatePath = programFile(QStringLiteral("default.xml"));
    if (!templatePath.isEmpty())
        OpenFile(templatePath, {}, false);
    if (!m_host.dom()) {
        // No template, or one that does not parse: an empty document.
        m_host.setDom(std::make_unique<XmlDocument>());
        m_host.treeBuilder().Rebuild(m_host.dom(), true);
        enableDocumentButtons();
        ResetUndo();
    }
    WindowFlags &f = m_host.flags();
    f.m_FileName.clear();
    f.m_ReadOnly = f.m_HasFile = f.m_Dirty = false;
    UpdateStatus(newFileName());
}

void DocumentLifecycle::mnuFileOpen_Click()
{
    if (!QuerySave())
        return;
    QString path;
    bool readOnly = false;
    if (!m_host.prompt().openFileDialog(QStringLiteral("開く"), kOpenFilter, &path, &readOnly))
        return;
    if (OpenFile(path, [&] {
            ClearStatus();
            m_host.flags().m_ReadOnly = readOnly;
        }))
        UpdateStatus(path);
}

void DocumentLifecycle::mnuFileReload_Click()
{
    WindowFlags &f = m_host.flags();
    if (f.m_Dirty
        && m_host.prompt().message(GetResString(7), Prompt::Icon::Question, Prompt::Buttons::YesNo, true)
            != Prompt::Answer::Yes)
        return;
    const QString path = f.m_FileName;
    if (OpenFile(path) || !m_cancelled)
        UpdateStatus(path);
}

void DocumentLifecycle::mnuFileSave_Click()
{
    if (!m_host.dom())
        return;
    const WindowFlags &f = m_host.flags();
    if (f.m_ReadOnly || !f.m_HasFile)
        mnuFileSaveAs_Click();
    else
        SaveFile(f.m_FileName);
}

void DocumentLifecycle::mnuFileSaveAs_Click()
{
    if (!m_host.dom())
        return;
    const QString current = m_host.flags().m_FileName;
    const QString initial = current.contains(QLatin1Char('/')) ? current : QString();
    QString path;
    if (!m_host.prompt().saveFileDialog(kSaveFilter, initial, &path))
        return;
    SaveFile(path);
}

void DocumentLifecycle::mnuFileClose_Click()
{
    if (QuerySave())
        ClearStatus();
}

void DocumentLifecycle::openRecentFile(const QString &path)
{
    if (!QuerySave())
        return;
    if (OpenFile(path, [this] { ClearStatus(); }))
        UpdateStatus(path);
}

bool DocumentLifecycle::canSave() const
{
    return m_host.dom() != nullptr;
}

bool DocumentLifecycle::canReload() const
{
    const QString &name = m_host.flags().m_FileName;
    return !name.isEmpty() && name != newFileName();
}
