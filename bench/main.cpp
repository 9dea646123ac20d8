// Compares opening a large document in the editor with parsing it with bare
// libxml2. Each measurement runs in a child process of its own (this program
// started again with --measure), so one measurement's memory never shows up
// in another's figures.

#include "document/DocumentTreeModel.h"
#include "document/Prompt.h"
#include "document/Recovery.h"
#include "document/Selection.h"
#include "base/StringTable.h"
#include "document/ValuePane.h"
#include "editing/NodeFinder.h"
#include "editing/TreeNavigator.h"
#include "schema/XmlValidation.h"
#include "shell/ClipboardSearchCommands.h"
#include "shell/Fonts.h"
#include "shell/frmMain.h"
#include "shell/HugePages.h"
#include "shell/StructureCommands.h"
#include "tools/PreviewController.h"
#include "tools/PreviewPane.h"
#include "tools/SchemaAssist.h"
#include "tools/TransformJob.h"
#include "tools/ValidationCommands.h"
#include "undo/UndoController.h"
#include "xml/XmlDocument.h"

#include <QAction>
#include <QComboBox>
#include <QCompleter>
#include <QAbstractItemView>
#include <QLineEdit>
#include <QApplication>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QFont>
#include <QKeyEvent>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include "document/NodeTreeView.h"
#include <QTimer>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "BenchDocument.h"
#include "FileMeasures.h"
#include "WindowMeasures.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

// --- Measurement in a child process --------------------------------------

// A process and all its descendants, the process first.
std::vector<pid_t> processTree(pid_t root)
{
    std::multimap<pid_t, pid_t> children;
    for (const QString &entry : QDir(QStringLiteral("/proc")).entryList(QDir::Dirs)) {
        bool isPid = false;
        const pid_t pid = entry.toInt(&isPid);
        QFile stat(QStringLiteral("/proc/%1/stat").arg(entry));
        if (!isPid || !stat.open(QIODevice::ReadOnly))
            continue;
        // pid (name) state ppid ...: the name may hold blanks and parentheses.
        const QByteArray line = stat.readAll();
        const QList<QByteArray> fields = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (fields.size() > 1)
            children.emplace(pid_t(fields[1].toInt()), pid);
    }
    std::vector<pid_t> tree{root};
    for (size_t i = 0; i < tree.size(); ++i)
        for (auto [it, end] = children.equal_range(tree[i]); it != end; ++it)
            tree.push_back(it->second);
    return tree;
}

// What a process and all its descendants hold, in kB: the sum of their
// proportional set sizes. A page shared by several processes counts once in
// all (each gets its share), so the web engine's processes, which share its
// large library and their zygote's pages, are not counted several times
// over as summed resident sizes would. A process whose figure cannot be read
// (it is not dumpable) counts with its resident size.
long processTreeKb(pid_t root)
{
    auto fieldKb = [](pid_t pid, const char *file, const QByteArray &field) {
        QFile in(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
        if (!in.open(QIODevice::ReadOnly))
            return -1L;
        for (const QByteArray &line : in.readAll().split('\n'))
            if (line.startsWith(field + ':'))
                return line.mid(field.size() + 1).trimmed().split(' ').value(0).toLong();
        return -1L;
    };
    long total = 0;
    for (const pid_t pid : processTree(root)) {
        const long pss = fieldKb(pid, "smaps_rollup", "Pss");
        total += std::max(0L, pss >= 0 ? pss : fieldKb(pid, "status", "VmRSS"));
        // Where the memory is, process by process, beside the figures.
        QFile cmdline(QStringLiteral("/proc/%1/cmdline").arg(pid));
        cmdline.open(QIODevice::ReadOnly);
        const QList<QByteArray> args = cmdline.readAll().split('\0');
        QByteArray type;
        for (const QByteArray &arg : args)
            type = arg.startsWith("--type=") ? arg : type;
        std::fprintf(stderr, "pss_mb %s%s %.0f\n", QFileInfo(QString::fromLocal8Bit(args.value(0))).fileName().toLocal8Bit().constData(),
                     type.isEmpty() ? "" : (" " + type).constData(), double(pss) / 1024);
    }
    return total;
}

// The processor time a process and its descendants have used, in ms: the
// living ones' own, and the root's ended children it has waited for.
double processTreeCpuMs(pid_t root)
{
    const double tick = 1000.0 / double(::sysconf(_SC_CLK_TCK));
    double total = 0;
    for (const pid_t pid : processTree(root)) {
        QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
        if (!stat.open(QIODevice::ReadOnly))
            continue;
        const QByteArray line = stat.readAll();
        // After the name: state is field 3, utime 14, stime 15, cutime 16, cstime 17.
        const QList<QByteArray> f = line.mid(line.lastIndexOf(')') + 2).split(' ');
        if (f.size() > 14)
            total += (f[11].toDouble() + f[12].toDouble() + (pid == root ? f[13].toDouble() + f[14].toDouble() : 0)) * tick;
    }
    return total;
}

// The pages of their own that this process's forked children (those with
// its name: the web engine's have their own) hold, in kB.
long forkedChildrenPrivateKb(pid_t root)
{
    auto read = [](pid_t pid, const char *file) {
        QFile in(QStringLiteral("/proc/%1/%2").arg(pid).arg(QLatin1String(file)));
        return in.open(QIODevice::ReadOnly) ? in.readAll() : QByteArray();
    };
    const QByteArray name = read(root, "comm");
    long total = 0;
    for (const pid_t pid : processTree(root)) {
        if (pid == root || read(pid, "comm") != name)
            continue;
        for (const QByteArray &line : read(pid, "smaps_rollup").split('\n'))
            if (line.startsWith("Private_Clean:") || line.startsWith("Private_Dirty:"))
                total += line.mid(14).trimmed().split(' ').value(0).toLong();
    }
    return total;
}

// The nodes a reader of the file sees: elements, attributes, comments,
// processing instructions and text that is not just indentation.
long countNodes(xmlNodePtr node)
{
    long count = 0;
    for (; node; node = node->next) {
        if (node->type == XML_ELEMENT_NODE) {
            for (xmlAttrPtr a = node->properties; a; a = a->next)
                ++count;
            count += 1 + countNodes(node->children);
        } else if (node->type == XML_TEXT_NODE) {
            count += xmlIsBlankNode(node) ? 0 : 1;
        } else if (node->type != XML_DTD_NODE) {
            ++count;
        }
    }
    return count;
}

int measureLibxml(const char *path)
{
    xmlInitParser();
    const long base = startLoad();
    const auto start = Clock::now();
    xmlDocPtr doc = xmlReadFile(path, nullptr, 0);
    if (!doc)
        return 1;
    report(start, base, countNodes(doc->children));
    xmlFreeDoc(doc);
    return 0;
}

// From nothing to the window showing the tree with its first level: the
// window is made, shown and painted, the file opened and the tree painted.
// Memory counts from the shown empty window on, as that is not the load's.
// Then, with the preview's page shown, what the editor's whole process tree
// holds: the window, the document and the web engine's processes.
int measureEditor(int argc, char **argv, const QString &path)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    installFontSubstitutions();
    QApplication::setFont(QFont(QStringLiteral("MS UI Gothic"), 10));
    const auto start = Clock::now();
    frmMain window;
    window.show();
    QCoreApplication::processEvents();
    const long base = startLoad();
    if (!window.OpenFile(path))
        return 1;
    window.UpdateStatus(path); // as opening from the menu does: caption and preview
    QCoreApplication::processEvents();
    window.tvw()->grab();
    report(start, base);
    PreviewPane *pane = window.ie();
    if (!runEventsUntil([&] { return pane->isLoaded() && pane->url().toLocalFile() == window.preview().previewFile(); }, 60000))
        return 1;
    std::printf("total_memory_kb %ld\n", processTreeKb(::getpid()));
    return 0;
}

// From asking for the preview (F5) to the pane showing that document. The
// style sheet's worker has the memory limit the editor gives it: where the
// document's transform needs more, that figure is left out, with the
// reason on standard error.
int measurePreview(int argc, char **argv, const QString &path)
{
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(argc, argv);
    frmMain window(std::make_unique<UnattendedPrompt>());
    window.show();
    if (!window.OpenFile(path))
        return 1;
    window.UpdateStatus(path);
    PreviewPane *pane = window.ie();
    if (!previewSettled(window))
        return 1;
    const auto start = Clock::now();
    window.menuItem(QStringLiteral("mnuToolPreview"))->trigger();
    if (!previewSettled(window))
        return 1;
    pane->grab();
    std::printf("preview_ms %.0f\n", std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    std::fflush(stdout);

    // The same through a user's identity-like style sheet, run in the worker
    // process: from choosing it to the pane showing its output.
    QTemporaryDir folder;
    const QString styleSheet = folder.filePath(QStringLiteral("identity.xsl"));
    QFile xsl(styleSheet);
    if (!xsl.open(QIODevice::WriteOnly)
        || xsl.write("<xsl:stylesheet version='1.0' xmlns:xsl='http://www.w3.org/1999/XSL/Transform'>"
                     "<xsl:output method='html'/>"
                     "<xsl:template match='/'><html><body><xsl:apply-templates/></body></html></xsl:template>"
                     "<xsl:template match='@*|node()'><xsl:copy><xsl:apply-templates select='@*|node()'/></xsl:copy></xsl:template>"
                     "</xsl:stylesheet>")
            < 0)
        return 1;
    xsl.close();
    TransformJob::limits().timeMs = 600000;
    bool shown = false, failed = false;
    QObject::connect(&window.preview(), &PreviewController::previewShown, [&shown] { shown = true; });
    QObject::connect(&window.preview(), &PreviewController::previewFailed, [&failed] { failed = true; });
    const auto xslStart = Clock::now();
    window.preview().useStyleSheet(styleSheet);
    runEventsUntil([&] { return (shown && pane->isLoaded()) || failed; }, 600000);
    if (failed)
        return 0;
    if (!shown || !pane->isLoaded())
        return 1;
    pane->grab();
    std::printf("preview_xsl_ms %.0f\n", std::chrono::duration<double, std::milli>(Clock::now() - xslStart).count());
    return 0;
}

// Editing the opened document: one keystroke in the value pane of a text
// node (applied, with its history step), one undo and one redo, and the
// memory ten single-character steps hold. The keys come as typed, a quarter
// of a second apart with the event loop running between them. Then the
// time from a last change to the recovery copy holding it; the longest pass
// of the event loop over both shows what writing the copy stops the window.
int measureEditing(int argc, char **argv, const QString &path)
{
    QApplication app(argc, argv);
    frmMain window;
    if (!openShown(window, path))
        return 1;
    window.UpdateStatus(path);
    // The first text node, well inside the document.
    XmlNode text = window.dom()->documentElement();
    while (text && text.kind() != NodeKind::Text)
        text = text.firstChild() ? text.firstChild() : text.nextSibling();
    if (!text)
        return 1;
    window.selection().ShowNode(window.model().indexForNode(text), true);
    window.txtEdit()->moveCursor(QTextCursor::End);
    auto keystroke = [&window] {
        QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
        QCoreApplication::sendEvent(window.txtEdit(), &press);
    };
    double stallMs = 0;
    auto runEventLoop = [&stallMs](int ms) {
        QElapsedTimer waited;
        waited.start();
        while (waited.elapsed() < ms) {
            const auto start = Clock::now();
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
            stallMs = std::max(stallMs, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    };
    constexpr int kKeys = 10;
    runEventLoop(2000); // the preview and the first paints settle
    stallMs = 0;

    std::vector<double> keys;
    const long before = statusKb("VmRSS");
    for (int i = 0; i < kKeys; ++i) {
        runEventLoop(250);
        const auto start = Clock::now();
        keystroke();
        keys.push_back(std::chrono::duration<double, std::milli>(Clock::now() - start).count());
    }
    const long held = statusKb("VmRSS") - before;
    runEventLoop(250);

    // The recovery update for the last key alone: the keys before it are
    // written first. A whole copy must hold the key's run of x's (a copy
    // begun before it would not); a journal is appended with what was typed
    // when it is written.
    double writtenMs = -1; // the last copy completed, read outside the event loop
    auto changed = Clock::now();
    QObject::connect(window.recovery(), &RecoveryWriter::written, [&] {
        writtenMs = std::chrono::duration<double, std::milli>(Clock::now() - changed).count();
    });
    QElapsedTimer waited;
    waited.start();
    while (writtenMs < 0 && waited.elapsed() < 60000)
        runEventLoop(50);
    auto copySize = [&window] { return QFileInfo(window.recovery()->copyPath()).size(); };
    const qint64 sizeBefore = copySize();
    const QByteArray typed = QByteArray(kKeys + 1, 'x') + '<';
    // Waited for in an event loop that sleeps between events: the loop
    // above never sleeps, and would count its own processor time.
    auto sleepUntil = [](int ms, const std::function<bool()> &done) {
        QEventLoop loop;
        QTimer poll;
        QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
            if (done())
                loop.quit();
        });
        poll.start(10);
        QTimer::singleShot(ms, &loop, &QEventLoop::quit);
        loop.exec();
    };
    const double cpuBefore = processTreeCpuMs(::getpid());
    changed = Clock::now();
    writtenMs = -1;
    keystroke();
    double lagMs = -1;
    sleepUntil(60000, [&] {
        QFile copy(window.recovery()->copyPath());
        const bool journal = copy.fileName().endsWith(QLatin1String(".journal"));
        if (writtenMs >= 0 && (journal || (copy.open(QIODevice::ReadOnly) && copy.readAll().contains(typed))))
            lagMs = writtenMs;
        writtenMs = -1;
        return lagMs >= 0;
    });
    const bool journal = window.recovery()->copyPath().endsWith(QLatin1String(".journal"));
    const qint64 writtenBytes = journal ? copySize() - sizeBefore : copySize();
    // Quiet: whatever the key set off (copies, checks) has ended by now.
    sleepUntil(3000, [] { return false; });
    const double backgroundMs = processTreeCpuMs(::getpid()) - cpuBefore;
    // The same time with nothing typed: what the window and its web engine
    // use anyway.
    const double idleBefore = processTreeCpuMs(::getpid());
    sleepUntil(int(lagMs) + 3000, [] { return false; });
    const double idleMs = processTreeCpuMs(::getpid()) - idleBefore;
    std::printf("recovery_write_kb %.1f\nbackground_cpu_ms %.0f\nidle_cpu_ms %.0f\n", writtenBytes / 1024.0,
                backgroundMs, idleMs);

    const auto start = Clock::now();
    window.undo().DoUndo();
    window.undo().DoRedo();
    const double undoMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count() / 2;
    std::sort(keys.begin(), keys.end());
    std::printf("keystroke_ms %.2f\nundo_ms %.2f\nundo_memory_kb %ld\nui_stall_ms %.1f\nrecovery_lag_ms %.0f\n",
                keys[keys.size() / 2], undoMs, held, stallMs, lagMs);
    std::fflush(stdout);
    // Closed as the user would, with the changes not wanted: no copy is left.
    window.closeWithoutAsking();
    return text.text().endsWith(QString(kKeys + 1, QLatin1Char('x'))) && lagMs >= 0 ? 0 : 1;
}

// Editing guided by the generator's XML Schema, chosen as the window's
// validation file: the label editor's list of names opened on an item deep
// in the middle of the document; keystrokes into an attribute's value with
// the check behind typing on, far enough apart that each one lands while a
// check runs; and from the last of them (a value the schema refuses) to
// the fault marked in the tree, against xmllint validating the same file
// with the same schema.
int measureGuided(int argc, char **argv, const QString &path)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString xsd = dir.filePath(QStringLiteral("bench.xsd"));
    QFile schema(xsd);
    if (!schema.open(QIODevice::WriteOnly) || schema.write(kBenchXsd) < 0)
        return 1;
    schema.close();
    frmMain window;
    bool checked = false;
    if (!openWatchingChecks(window, path, checked))
        return 1;
    const auto wholeStart = Clock::now();
    window.validation().useFile(xsd);
    double stallMs = 0;
    auto runEventLoop = [&stallMs](const std::function<bool()> &until, int ms) {
        QElapsedTimer waited;
        waited.start();
        while (!until() && waited.elapsed() < ms) {
            const auto start = Clock::now();
            QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents, 10);
            stallMs = std::max(stallMs, std::chrono::duration<double, std::milli>(Clock::now() - start).count());
        }
    };
    // A check's child: what it holds of its own (pages it shares with the
    // window are the window's), at its largest, looked at every 100 ms.
    QElapsedTimer sampled;
    const auto watchChild = [&sampled, &checked](long *peakKb) {
        sampled.start();
        *peakKb = 0;
        return [&sampled, &checked, peakKb] {
            if (sampled.elapsed() >= 100) {
                sampled.restart();
                *peakKb = std::max(*peakKb, forkedChildrenPrivateKb(::getpid()));
            }
            return checked;
        };
    };
    // The first check, of the whole document.
    long wholePeakKb = 0;
    runEventLoop(watchChild(&wholePeakKb), 120000);
    if (!checked || window.schemaAssist().faultCount() != 0)
        return 1;
    std::printf("whole_check_ms %.0f\nwhole_check_peak_mb %.0f\n",
                std::chrono::duration<double, std::milli>(Clock::now() - wholeStart).count(), wholePeakKb / 1024.0);

    // The middle record's last item.
    XmlNode record = window.dom()->documentElement();
    record = record.child(record.childCount() / 2);
    record = record.child(record.childCount() / 2);
    XmlNode item = record.lastChild().previousSibling().lastChild();
    if (item.nodeName() != QLatin1String("item"))
        return 1;
    const QModelIndex itemIndex = window.model().indexForNode(item);
    window.selection().ShowNode(itemIndex, true);
    QCoreApplication::processEvents();
    const auto opening = Clock::now();
    window.tvw()->edit(itemIndex);
    auto *editor = window.tvw()->findChild<QLineEdit *>(QStringLiteral("tvwLabelEdit"));
    QCompleter *names = editor ? editor->findChild<QCompleter *>() : nullptr;
    runEventLoop([&] { return names && names->popup()->isVisible(); }, 10000);
    const double completionMs = std::chrono::duration<double, std::milli>(Clock::now() - opening).count();
    if (!names || !names->popup()->isVisible())
        return 1;
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(names->popup(), &escape);
    QCoreApplication::sendEvent(editor, &escape);
    runEventLoop([] { return false; }, 500);

    const XmlNode qty = item.attributeNode(QStringLiteral("qty"));
    window.selection().ShowNode(window.model().indexForNode(qty), true);
    window.txtEdit()->moveCursor(QTextCursor::End);
    QKeyEvent press(QEvent::KeyPress, Qt::Key_X, Qt::NoModifier, QStringLiteral("x"));
    runEventLoop([] { return false; }, 1000);
    stallMs = 0;
    std::vector<double> keys;
    Clock::time_point last;
    checked = false;
    double cpuBefore = 0;
    for (int i = 0; i < 8; ++i) {
        runEventLoop([] { return false; }, 700);
        cpuBefore = processTreeCpuMs(::getpid());
        last = Clock::now();
        QCoreApplication::sendEvent(window.txtEdit(), &press);
        keys.push_back(std::chrono::duration<double, std::milli>(Clock::now() - last).count());
    }
    checked = false;
    // Waited for without spinning, as the processor time of the whole tree
    // is counted meanwhile.
    long childPeakKb = 0;
    runEventsUntil(watchChild(&childPeakKb), 120000);
    window.tvw()->viewport()->repaint();
    const double liveMs = std::chrono::duration<double, std::milli>(Clock::now() - last).count();
    // From the last key to a second after its check: what the key cost the
    // editor and its children, the check included.
    runEventsUntil([] { return false; }, 1000);
    const double backgroundMs = processTreeCpuMs(::getpid()) - cpuBefore;
    // The engine names the element of a wrong attribute value.
    if (!checked || !window.model().faults().contains(item))
        return 1;

    QProcess xmllint;
    const auto start = Clock::now();
    xmllint.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), QStringLiteral("--nonet"), QStringLiteral("--schema"), xsd, path});
    if (!xmllint.waitForFinished(-1) || xmllint.exitCode() != 0)
        return 1;
    const double xmllintMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    std::sort(keys.begin(), keys.end());
    std::printf("completion_ms %.1f\nkeystroke_live_ms %.2f\nui_stall_live_ms %.1f\nlive_validation_ms %.0f\nxmllint_schema_ms %.0f\n",
                completionMs, keys[keys.size() / 2], stallMs, liveMs, xmllintMs);
    std::printf("live_check_peak_mb %.0f\nbackground_cpu_live_ms %.0f\n", childPeakKb / 1024.0, backgroundMs);
    std::fflush(stdout);
    window.closeWithoutAsking();
    return 0;
}

// F7 as the user presses it with the generator's DTD, then its XML Schema,
// as the window's validation file: from the command to the verdict in the
// status bar, the copy of the document, its validation and the marks
// included. The check behind typing that choosing the file starts has
// ended first.
int measureF7(int argc, char **argv, const QString &path)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    frmMain window(std::make_unique<UnattendedPrompt>());
    bool checked = false;
    if (!openWatchingChecks(window, path, checked))
        return 1;
    for (const auto &[name, text] : {std::pair{"dtd", kBenchDtd}, std::pair{"xsd", kBenchXsd}}) {
        const QString schema = dir.filePath(QStringLiteral("bench.") + QLatin1String(name));
        QFile file(schema);
        if (!file.open(QIODevice::WriteOnly) || file.write(text) < 0)
            return 1;
        file.close();
        checked = false;
        window.validation().useFile(schema);
        runEventsUntil([&checked] { return checked; }, 120000);
        window.setStatusText(QString());
        const auto start = Clock::now();
        window.menuItem(QStringLiteral("mnuToolVerify"))->trigger();
        QCoreApplication::processEvents();
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (window.statusText() != GetResString(14))
            return 1;
        std::printf("f7_%s_ms %.0f\n", name, ms);
        std::fflush(stdout);
    }
    window.closeWithoutAsking();
    return 0;
}

// --- The run ------------------------------------------------------------

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

// Runs one measurement `runs` times; the medians of each figure it printed.
std::map<std::string, double> measure(const char *kind, const QString &path, int runs)
{
    std::map<std::string, std::vector<double>> samples;
    for (int i = 0; i < runs; ++i) {
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--measure"), QString::fromLatin1(kind), path});
        if (!child.waitForFinished(-1) || child.exitStatus() != QProcess::NormalExit || child.exitCode() != 0) {
            std::fprintf(stderr, "ostrel-bench: the %s measurement failed\n", kind);
            std::exit(1);
        }
        for (const QByteArray &line : child.readAllStandardOutput().split('\n')) {
            const QList<QByteArray> parts = line.split(' ');
            if (parts.size() == 2)
                samples[parts[0].toStdString()].push_back(parts[1].toDouble());
        }
    }
    std::map<std::string, double> result;
    for (const auto &[name, values] : samples)
        result[name] = median(values);
    return result;
}

int usage()
{
    std::fprintf(stderr, "usage: ostrel-bench [--size-mb N] [--file PATH] [--runs N]\n"
                         "  --file PATH  use PATH when it exists, else generate it there and keep it\n");
    return 2;
}

} // namespace

int main(int argc, char **argv)
{
    // Every measurement, bare libxml2's included, with the heap the editor has.
    HugePages::useForHeap(argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // As the editor does for root: the web engine cannot sandbox itself then.
    if (::geteuid() == 0 && !qEnvironmentVariableIsSet("QTWEBENGINE_DISABLE_SANDBOX"))
        qputenv("QTWEBENGINE_DISABLE_SANDBOX", "1");
    // The measured windows keep their recovery copies, and read settings, of
    // their own, also when one measurement is run alone: a user's choice
    // (the check behind typing turned off) would change what is measured,
    // and a measurement's copy is no work of the user's to offer back.
    QTemporaryDir state, settings;
    if (!qEnvironmentVariableIsSet("OSTREL_BENCH_STATE")) {
        qputenv("OSTREL_BENCH_STATE", "1");
        qputenv("XDG_STATE_HOME", QFile::encodeName(state.path()));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(settings.path()));
    }
    if (argc == 4 && std::strcmp(argv[1], "--measure") == 0) {
        if (std::strcmp(argv[2], "save") == 0)
            return measureSave(QString::fromLocal8Bit(argv[3]));
        if (std::strcmp(argv[2], "validate") == 0)
            return measureValidate(QString::fromLocal8Bit(argv[3]));
        if (std::strcmp(argv[2], "roundtrip") == 0)
            return measureRoundTrip();
        if (std::strcmp(argv[2], "libxml") == 0)
            return measureLibxml(argv[3]);
        if (std::strcmp(argv[2], "expand") == 0)
            return measureExpandAll(argc, argv, QString::fromLocal8Bit(argv[3]));
        if (std::strcmp(argv[2], "expanded-edit") == 0)
            return measureEditAfterExpand(argc, argv, QString::fromLocal8Bit(argv[3]));
        if (std::strcmp(argv[2], "edit") == 0)
            return measureEditing(argc, argv, QString::fromLocal8Bit(argv[3]));
        if (std::strcmp(argv[2], "f7") == 0)
            return measureF7(argc, argv, QString::fromLocal8Bit(argv[3]));
        if (std::strcmp(argv[2], "guided") == 0)
            return measureGuided(argc, argv, QString::fromLocal8Bit(argv[3]));
        if (std::strcmp(argv[2], "rng") == 0)
            return measureRelaxNg(argc, argv);
        if (std::strcmp(argv[2], "replace") == 0)
            return measureReplace(argc, argv, QString::fromLocal8Bit(argv[3]));
        if (std::strcmp(argv[2], "search") == 0)
            return measureSearch(argc, argv, QString::fromLocal8Bit(argv[3]));
        if (std::strcmp(argv[2], "preview") == 0)
            return measurePreview(argc, argv, QString::fromLocal8Bit(argv[3]));
        return measureEditor(argc, argv, QString::fromLocal8Bit(argv[3]));
    }

    double sizeMb = 50;
    int runs = 3;
    QString path;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc)
            return usage();
        if (arg == "--size-mb")
            sizeMb = std::atof(argv[++i]);
        else if (arg == "--runs")
            runs = std::max(1, std::atoi(argv[++i]));
        else if (arg == "--file")
            path = QString::fromLocal8Bit(argv[++i]);
        else
            return usage();
    }
    if (sizeMb <= 0)
        return usage();

    QCoreApplication app(argc, argv);
    QTemporaryFile temporary(QDir::tempPath() + QStringLiteral("/ostrel-bench-XXXXXX.xml"));
    if (path.isEmpty()) {
        if (!temporary.open())
            return 1;
        path = temporary.fileName();
    }
    if (path == temporary.fileName() || !QFile::exists(path)) {
        std::ofstream out(QFile::encodeName(path).constData(), std::ios::binary | std::ios::trunc);
        writeBenchDocument(out, (long long)(sizeMb * 1024 * 1024));
        if (!out)
            return 1;
    }

    const auto bare = measure("libxml", path, runs);
    const auto ours = measure("editor", path, runs);
    const auto editing = measure("edit", path, runs);
    const auto preview = measure("preview", path, runs);
    const auto expand = measure("expand", path, runs);
    const auto expandedEdit = measure("expanded-edit", path, runs);
    const auto search = measure("search", path, runs);
    const auto replace = measure("replace", path, runs);
    const auto save = measure("save", path, runs);
    const auto validation = measure("validate", path, runs);
    const auto f7 = measure("f7", path, runs);
    const auto guided = measure("guided", path, runs);
    const auto relaxNg = measure("rng", path, runs);
    const auto roundTrip = measure("roundtrip", path, 1);
    const double libxmlMs = bare.at("time_ms"), libxmlMb = bare.at("memory_kb") / 1024;
    const double openMs = ours.at("time_ms"), openMb = ours.at("memory_kb") / 1024;
    std::printf("file_mb %.1f\n", double(QFile(path).size()) / (1024 * 1024));
    std::printf("nodes %.0f\n", bare.at("nodes"));
    std::printf("runs %d\n", runs);
    std::printf("libxml_parse_ms %.0f\nlibxml_memory_mb %.0f\n", libxmlMs, libxmlMb);
    std::printf("open_time_ms %.0f\nopen_memory_mb %.0f\nopen_total_memory_mb %.0f\n", openMs, openMb,
                ours.at("total_memory_kb") / 1024);
    std::printf("keystroke_ms %.2f\nundo_ms %.2f\nundo_memory_mb %.2f\n", editing.at("keystroke_ms"),
                editing.at("undo_ms"), editing.at("undo_memory_kb") / 1024);
    std::printf("ui_stall_ms %.1f\nrecovery_lag_ms %.0f\n", editing.at("ui_stall_ms"), editing.at("recovery_lag_ms"));
    std::printf("recovery_write_kb %.1f\nbackground_cpu_ms %.0f\nidle_cpu_ms %.0f\n", editing.at("recovery_write_kb"),
                editing.at("background_cpu_ms"), editing.at("idle_cpu_ms"));
    std::printf("preview_ms %.0f\n", preview.at("preview_ms"));
    // Not a number where the transform did not fit in the worker's memory.
    const double xslMs = preview.count("preview_xsl_ms") ? preview.at("preview_xsl_ms") : std::nan("");
    std::printf("preview_xsl_ms %.0f\npreview_xsl_ratio %.2f\n", xslMs, xslMs / libxmlMs);
    std::printf("expand_all_ms %.0f\nexpand_all_memory_mb %.0f\n", expand.at("time_ms"), expand.at("memory_kb") / 1024);
    std::printf("collapse_all_ms %.0f\n", expand.at("collapse_ms"));
    std::printf("expand_all_time_ratio %.2f\nexpand_all_memory_ratio %.2f\n", expand.at("time_ms") / libxmlMs,
                expand.at("memory_kb") / 1024 / libxmlMb);
    std::printf("edit_after_expand_ms %.0f\nundo_after_expand_ms %.0f\n", expandedEdit.at("edit_after_expand_ms"),
                expandedEdit.at("undo_after_expand_ms"));
    std::printf("find_ms %.0f\nfind_time_ratio %.2f\n", search.at("find_ms"), search.at("find_ms") / libxmlMs);
    std::printf("xpath_ms %.0f\nxpath_results %.0f\nxpath_requery_ms %.0f\n", search.at("xpath_ms"),
                search.at("xpath_results"), search.at("xpath_requery_ms"));
    std::printf("replace_all_ms %.0f\nreplace_all_ratio %.2f\nreplace_undo_ms %.0f\nreplace_undo_ratio %.2f\n",
                replace.at("replace_all_ms"), replace.at("replace_all_ms") / libxmlMs, replace.at("replace_undo_ms"),
                replace.at("replace_undo_ms") / libxmlMs);
    std::printf("replace_memory_mb %.1f\nreplace_memory_ratio %.3f\nreplaced %.0f\n", replace.at("replace_memory_kb") / 1024,
                replace.at("replace_memory_ratio"), replace.at("replaced"));
    std::printf("open_time_ratio %.2f\nopen_memory_ratio %.2f\n", openMs / libxmlMs, openMb / libxmlMb);
    std::printf("save_ms %.0f\nlibxml_save_ms %.0f\nsave_ratio %.2f\n", save.at("save_ms"), save.at("libxml_save_ms"),
                save.at("save_ms") / save.at("libxml_save_ms"));
    for (const char *kind : {"dtd", "xsd"}) {
        const double oursMs = validation.at(std::string("validate_") + kind + "_ms");
        const double xmllintMs = validation.at(std::string("xmllint_") + kind + "_ms");
        std::printf("validate_%s_ms %.0f\nxmllint_%s_ms %.0f\nvalidate_%s_ratio %.2f\n", kind, oursMs, kind, xmllintMs, kind,
                    oursMs / xmllintMs);
    }
    for (const char *kind : {"dtd", "xsd"}) {
        const double oursMs = f7.at(std::string("f7_") + kind + "_ms");
        std::printf("f7_%s_ms %.0f\nf7_%s_ratio %.2f\n", kind, oursMs, kind, oursMs / validation.at(std::string("xmllint_") + kind + "_ms"));
    }
    std::printf("validate_ms %.0f\nxmllint_validate_ms %.0f\n", validation.at("validate_dtd_ms") + validation.at("validate_xsd_ms"),
                validation.at("xmllint_dtd_ms") + validation.at("xmllint_xsd_ms"));
    std::printf("completion_ms %.1f\nkeystroke_live_ms %.2f\nui_stall_live_ms %.1f\n", guided.at("completion_ms"),
                guided.at("keystroke_live_ms"), guided.at("ui_stall_live_ms"));
    std::printf("live_check_peak_mb %.0f\nbackground_cpu_live_ms %.0f\n", guided.at("live_check_peak_mb"), guided.at("background_cpu_live_ms"));
    std::printf("whole_check_ms %.0f\nwhole_check_peak_mb %.0f\n", guided.at("whole_check_ms"), guided.at("whole_check_peak_mb"));
    std::printf("live_validation_ms %.0f\nxmllint_schema_ms %.0f\nlive_validation_ratio %.2f\n", guided.at("live_validation_ms"),
                guided.at("xmllint_schema_ms"), guided.at("live_validation_ms") / guided.at("xmllint_schema_ms"));
    std::printf("validate_rng_ms %.0f\nxmllint_rng_ms %.0f\nvalidate_rng_ratio %.2f\n", relaxNg.at("validate_rng_ms"),
                relaxNg.at("xmllint_rng_ms"), relaxNg.at("validate_rng_ms") / relaxNg.at("xmllint_rng_ms"));
    std::printf("completion_rng_ms %.1f\nlive_validation_rng_ms %.0f\nlive_validation_rng_ratio %.2f\n", relaxNg.at("completion_rng_ms"),
                relaxNg.at("live_validation_rng_ms"), relaxNg.at("live_validation_rng_ms") / relaxNg.at("xmllint_rng_ms"));
    std::printf("roundtrip_files %.0f\nroundtrip_identical_pct %.1f\n", roundTrip.at("roundtrip_files"),
                roundTrip.at("roundtrip_identical_pct"));
    return 0;
}
