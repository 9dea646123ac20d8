#include "WindowMeasures.h"

#include "document/DocumentTreeModel.h"
#include "document/NodeTreeView.h"
#include "document/Selection.h"
#include "editing/NodeFinder.h"
#include "editing/TreeNavigator.h"
#include "shell/ClipboardSearchCommands.h"
#include "shell/ReplaceDialog.h"
#include "shell/StructureCommands.h"
#include "tools/PreviewPane.h"
#include "tools/SchemaAssist.h"
#include "shell/frmMain.h"
#include "undo/UndoController.h"
#include "xml/XmlDocument.h"

#include <QApplication>
#include <QAction>
#include <QComboBox>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QTimer>
#include <QLineEdit>
#include <QPushButton>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

// A field of /proc/self/status, in kB.
long statusKb(const char *field)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const size_t length = std::strlen(field);
    while (std::getline(status, line))
        if (line.compare(0, length, field) == 0 && line.size() > length && line[length] == ':')
            return std::atol(line.c_str() + length + 1);
    return -1;
}

// Starts a measured load: the resident size now, with the peak reset to it,
// so the peak read afterwards belongs to the load alone.
long startLoad()
{
    std::ofstream("/proc/self/clear_refs") << "5";
    return statusKb("VmRSS");
}

void report(Clock::time_point start, long baseKb, long nodes)
{
    const auto ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::printf("time_ms %.1f\nmemory_kb %ld\n", ms, statusKb("VmHWM") - baseKb);
    if (nodes >= 0)
        std::printf("nodes %ld\n", nodes);
    std::fflush(stdout);
}

// Shows the window with the file open in it, painted.
bool openShown(frmMain &window, const QString &path)
{
    window.show();
    if (!window.OpenFile(path))
        return false;
    QCoreApplication::processEvents();
    return true;
}

bool openWatchingChecks(frmMain &window, const QString &path, bool &checked)
{
    if (!openShown(window, path))
        return false;
    window.UpdateStatus(path);
    QObject::connect(&window.schemaAssist(), &SchemaAssist::checked, [&checked] { checked = true; });
    return true;
}

bool runEventsUntil(const std::function<bool()> &until, int ms)
{
    QElapsedTimer waited;
    waited.start();
    while (!until() && waited.elapsed() < ms) {
        QEventLoop loop;
        QTimer::singleShot(10, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return until();
}

bool previewSettled(frmMain &window)
{
    return runEventsUntil([&window] { return window.ie()->isLoaded(); }, 60000);
}

// Expanding the document item's whole subtree ("expand tree items" on the
// document) of the opened document, then painting the tree. Memory counts
// from the opened document on.
int measureExpandAll(int argc, char **argv, const QString &path)
{
    QApplication app(argc, argv);
    frmMain window;
    if (!openShown(window, path))
        return 1;
    window.selection().ShowNode(window.model().documentIndex(), true);
    QCoreApplication::processEvents();
    const long base = startLoad();
    const auto start = Clock::now();
    window.structure().navigator().mnuNodeExpand_Click();
    QCoreApplication::processEvents();
    window.tvw()->grab();
    report(start, base);
    const QModelIndex root = window.model().indexForNode(window.dom()->documentElement());
    if (!window.tvw()->isExpanded(root))
        return 1;
    // And closing it all again.
    const auto collapse = Clock::now();
    window.structure().navigator().mnuNodeCollapse_Click();
    QCoreApplication::processEvents();
    window.tvw()->grab();
    std::printf("collapse_ms %.1f\n", std::chrono::duration<double, std::milli>(Clock::now() - collapse).count());
    std::fflush(stdout);
    return window.tvw()->isExpanded(root) ? 1 : 0;
}

// With the whole document expanded, as expanding the document item leaves
// it: a rename, an insertion and a delete in a record in the middle of the
// document, each recorded as a step and then undone, each timed up to the
// tree laid out and painted again. The slowest change and the slowest undo.
int measureEditAfterExpand(int argc, char **argv, const QString &path)
{
    QApplication app(argc, argv);
    frmMain window;
    if (!openShown(window, path))
        return 1;
    NodeTreeView *tvw = window.tvw();
    window.selection().ShowNode(window.model().documentIndex(), true);
    window.structure().navigator().mnuNodeExpand_Click();
    QCoreApplication::processEvents();
    tvw->grab();
    XmlDocument &dom = *window.dom();
    QList<XmlNode> records;
    if (!dom.selectNodes(QStringLiteral("/catalog/section/record"), XmlNode(), &records) || records.isEmpty())
        return 1;
    const XmlNode record = records[records.size() / 2];
    const XmlNode title = record.firstChild();
    const XmlNode author = title.nextSibling().nextSibling();
    const XmlNode comment = dom.createComment(QStringLiteral("ostrel-bench"));
    if (title.nodeName() != QLatin1String("title") || author.nodeName() != QLatin1String("author") || !comment)
        return 1;
    // The record selected, as a user selects what they change.
    window.selection().ShowNode(window.model().indexForNode(record), true);
    QCoreApplication::processEvents();
    const auto settled = [tvw](Clock::time_point start) {
        QCoreApplication::processEvents();
        tvw->grab();
        return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    };
    const std::function<bool()> changes[] = {
        [&] { return dom.rename(title, QStringLiteral("heading")); },
        [&] { return dom.insertBefore(record, comment, title); },
        [&] { return dom.removeNode(author); },
    };
    double editMs = 0, undoMs = 0;
    for (const auto &change : changes) {
        auto start = Clock::now();
        if (!change())
            return 1;
        window.DocumentModified();
        editMs = std::max(editMs, settled(start));
        start = Clock::now();
        window.undo().DoUndo();
        undoMs = std::max(undoMs, settled(start));
    }
    std::printf("edit_after_expand_ms %.1f\nundo_after_expand_ms %.1f\n", editMs, undoMs);
    std::fflush(stdout);
    // Each undone, with the tree still expanded.
    const bool restored = title.nodeName() == QLatin1String("title") && !comment.isAttached()
                          && author.parentNode() == record && tvw->isExpanded(window.model().indexForNode(record));
    return restored ? 0 : 1;
}

// Find next from the document item whose only match is the document's last
// node, then the path query marking about 10,000 records spread through the
// document, with the first selected and the tree painted.
int measureSearch(int argc, char **argv, const QString &path)
{
    QApplication app(argc, argv);
    frmMain window;
    if (!openShown(window, path))
        return 1;
    XmlDocument &dom = *window.dom();
    // The last node in the tree's order: a comment after everything else.
    const XmlNode last = dom.createComment(QStringLiteral("ostrel-bench-end"));
    if (!last || !dom.appendChild(dom.documentElement(), last))
        return 1;
    NodeFinder &finder = window.clipboardSearch().finder();
    const QModelIndex top = window.model().documentIndex();
    const QString pattern = nodeLabel(last, window.model().showText());
    auto start = Clock::now();
    if (!finder.FindForward(top, pattern))
        return 1;
    QCoreApplication::processEvents();
    window.tvw()->grab();
    std::printf("find_ms %.1f\n", std::chrono::duration<double, std::milli>(Clock::now() - start).count());

    QList<XmlNode> records;
    if (!dom.selectNodes(QStringLiteral("/catalog/section/record"), XmlNode(), &records))
        return 1;
    const qsizetype every = std::max<qsizetype>(1, records.size() / 10000);
    window.selection().ShowNode(top, true);
    // Every so many records of the whole document: counted within each
    // section of 100, a step above 100 would find nothing.
    const QString query = QStringLiteral("(/catalog/section/record)[position() mod %1 = 0]").arg(every);
    window.cboPath()->setEditText(query);
    start = Clock::now();
    finder.RunPathQuery();
    QCoreApplication::processEvents();
    window.tvw()->grab();
    std::printf("xpath_ms %.1f\nxpath_results %s\n",
                std::chrono::duration<double, std::milli>(Clock::now() - start).count(),
                qPrintable(window.statusText().section(QStringLiteral("件"), 0, 0)));
    // The same query again: the marks of the first are taken off as the
    // new ones are set.
    window.selection().ShowNode(top, true);
    window.cboPath()->setEditText(query);
    start = Clock::now();
    finder.RunPathQuery();
    QCoreApplication::processEvents();
    window.tvw()->grab();
    std::printf("xpath_requery_ms %.1f\n", std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    std::fflush(stdout);
    return window.model().isBold(window.selection().selectedItem()) ? 0 : 1;
}

// Replacing a value that stands in one attribute of every record (about
// 100,000 at 50 MB), from the dialog's button to the count in the status
// bar and the tree painted, then undoing it; and what the replacement adds
// to the memory against what the open document takes.
int measureReplace(int argc, char **argv, const QString &path)
{
    QApplication app(argc, argv);
    frmMain window;
    const long emptyKb = statusKb("VmRSS");
    if (!openShown(window, path))
        return 1;
    window.UpdateStatus(path);
    if (!previewSettled(window))
        return 1;
    const long documentKb = statusKb("VmRSS") - emptyKb;
    window.menuItem(QStringLiteral("mnuEditReplace"))->trigger();
    ReplaceDialog *dialog = window.clipboardSearch().replaceDialog();
    if (!dialog)
        return 1;
    dialog->findChild<QLineEdit *>(QStringLiteral("txtFind"))->setText(QStringLiteral("editor"));
    dialog->findChild<QLineEdit *>(QStringLiteral("txtReplace"))->setText(QStringLiteral("reviewer"));
    QCoreApplication::processEvents();
    const long baseKb = startLoad();
    auto start = Clock::now();
    dialog->findChild<QPushButton *>(QStringLiteral("cmdReplaceAll"))->click();
    QCoreApplication::processEvents();
    window.tvw()->grab();
    std::printf("replace_all_ms %.1f\n", std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    const long addedKb = statusKb("VmHWM") - baseKb;
    std::printf("replace_memory_kb %ld\nreplace_memory_ratio %.3f\nreplaced %s\n", addedKb, double(addedKb) / documentKb,
                qPrintable(window.statusText().section(QStringLiteral(" "), 0, 0)));
    start = Clock::now();
    window.undo().DoUndo();
    QCoreApplication::processEvents();
    window.tvw()->grab();
    std::printf("replace_undo_ms %.1f\n", std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    std::fflush(stdout);
    QList<XmlNode> left;
    return window.dom()->selectNodes(QStringLiteral("//@*[. = 'reviewer']"), XmlNode(), &left) && left.isEmpty() ? 0 : 1;
}
