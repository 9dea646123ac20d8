#include "BenchDocument.h"
#include "WindowMeasures.h"

#include "base/StringTable.h"
#include "document/DocumentTreeModel.h"
#include "document/NodeTreeView.h"
#include "document/Selection.h"
#include "shell/frmMain.h"
#include "tools/SchemaAssist.h"
#include "tools/ValidationCommands.h"
#include "xml/XmlDocument.h"

#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QCompleter>
#include <QElapsedTimer>
#include <QFile>
#include <QKeyEvent>
#include <QLineEdit>
#include <QProcess>
#include <QTemporaryDir>

#include <functional>

namespace {

const QString kDocBookRng = QStringLiteral("/usr/share/xml/docbook/schema/rng/5.0/docbook.rng");

double msSince(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int measureRelaxNg(int argc, char **argv)
{
    QApplication app(argc, argv);
    QTemporaryDir dir;
    const QString path = dir.filePath(QStringLiteral("docbook.xml"));
    {
        std::ofstream out(QFile::encodeName(path).constData(), std::ios::binary | std::ios::trunc);
        writeDocBookDocument(out, 20LL << 20);
        if (!out || !QFile::exists(kDocBookRng))
            return 1;
    }
    frmMain window(std::make_unique<UnattendedPrompt>());
    bool checked = false;
    if (!openWatchingChecks(window, path, checked))
        return 1;
    window.validation().useFile(kDocBookRng);
    if (!runEventsUntil([&] { return checked; }, 120000) || window.schemaAssist().faultCount() != 0)
        return 1;

    // F7, from the command to the verdict in the status bar.
    window.setStatusText(QString());
    auto start = Clock::now();
    window.menuItem(QStringLiteral("mnuToolVerify"))->trigger();
    QCoreApplication::processEvents();
    const double validateMs = msSince(start);
    if (window.statusText() != GetResString(14))
        return 1;

    // The names for a paragraph of the middle section's middle part.
    XmlNode section = window.dom()->documentElement();
    section = section.child(section.childCount() / 2);
    XmlNode para = section.child(section.childCount() / 2).child(2);
    if (para.nodeName() != QLatin1String("para"))
        return 1;
    const QModelIndex paraIndex = window.model().indexForNode(para);
    window.selection().ShowNode(paraIndex, true);
    QCoreApplication::processEvents();
    start = Clock::now();
    window.tvw()->edit(paraIndex);
    auto *editor = window.tvw()->findChild<QLineEdit *>(QStringLiteral("tvwLabelEdit"));
    QCompleter *names = editor ? editor->findChild<QCompleter *>() : nullptr;
    if (!runEventsUntil([&] { return names && names->popup()->isVisible(); }, 10000))
        return 1;
    const double completionMs = msSince(start);
    QKeyEvent escape(QEvent::KeyPress, Qt::Key_Escape, Qt::NoModifier);
    QCoreApplication::sendEvent(names->popup(), &escape);
    QCoreApplication::sendEvent(editor, &escape);
    runEventsUntil([] { return false; }, 500);

    // A change the grammar refuses, to the fault marked in the tree: the
    // pause in typing the check waits for included.
    checked = false;
    start = Clock::now();
    window.dom()->rename(para, QStringLiteral("bogus"));
    window.DocumentModified();
    if (!runEventsUntil([&] { return checked; }, 120000) || window.schemaAssist().faultCount() == 0)
        return 1;
    window.tvw()->viewport()->repaint();
    const double liveMs = msSince(start);

    QProcess xmllint;
    start = Clock::now();
    xmllint.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), QStringLiteral("--nonet"), QStringLiteral("--relaxng"), kDocBookRng, path});
    if (!xmllint.waitForFinished(-1) || xmllint.exitCode() != 0)
        return 1;
    const double xmllintMs = msSince(start);
    std::printf("validate_rng_ms %.0f\nxmllint_rng_ms %.0f\ncompletion_rng_ms %.1f\nlive_validation_rng_ms %.0f\n", validateMs,
                xmllintMs, completionMs, liveMs);
    std::fflush(stdout);
    window.closeWithoutAsking();
    return 0;
}
