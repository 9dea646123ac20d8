#include "TestFiles.h"
#include "TestWindow.h"
#include "XvfbScreen.h"
#include "shell/Settings.h"
#include "shell/SettingsStore.h"
#include "shell/Window.h"
#include "shell/frmMain.h"
#include "tools/PreviewController.h"

#include <QApplication>
#include <QComboBox>
#include <QDialog>
#include <QFileDialog>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QScopeGuard>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTimer>
#include "document/NodeTreeView.h"
#include <QWindow>

#include <string>
#include <vector>

// The editor on a desktop as users have it: a 1280×800 screen at twice the
// scale, keys through the X server, and programs started from the editor.
class TestDesktop : public QObject
{
    Q_OBJECT

    TestFiles m_files;

    // Keys as a keyboard gives them, to the window that has the focus.
    static bool keys(const QWidget &window, const QStringList &names)
    {
        QProcess run;
        run.start(QStandardPaths::findExecutable(QStringLiteral("xdotool")),
                  QStringList{"windowfocus", "--sync", QString::number(window.winId()), "sleep", "0.3", "key"} + names);
        return QTest::qWaitFor([&] { return run.state() == QProcess::NotRunning; }, 30000) && run.exitCode() == 0;
    }
    static bool shown(QWidget &window)
    {
        window.show();
        return QTest::qWaitForWindowExposed(&window);
    }
    // The preview's engine started, by a style sheet's page: it sets its
    // own environment, which programs started later must not get.
    bool engineStarted(frmMain &window)
    {
        window.preview().useStyleSheet(m_files.write(QStringLiteral("page.xsl"),
            "<x:stylesheet version='1.0' xmlns:x='http://www.w3.org/1999/XSL/Transform'><x:output method='html'/>"
            "<x:template match='/'><html><body>page</body></html></x:template></x:stylesheet>"));
        return QTest::qWaitFor([] { return qEnvironmentVariableIsSet("QTWEBENGINE_CHROMIUM_FLAGS"); }, 30000);
    }
    // Runs `act` on the next modal dialog once it is shown.
    static void whenModal(const std::function<void(QDialog *)> &act)
    {
        QTimer::singleShot(50, [act] {
            if (auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget()); dialog && dialog->isVisible())
                act(dialog);
            else
                whenModal(act);
        });
    }
    // A program that writes its arguments and environment into `out`, and
    // fails, as an opener that finds no viewer does.
    QString recorder(const QString &name, const QString &out)
    {
        const QString path = m_files.write(name, ("#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + out + "'\nenv >> '" + out + "'\nexit 1\n").toUtf8());
        QFile::setPermissions(path, QFile::permissions(path) | QFile::ExeOwner);
        return path;
    }

private slots:
    // An opener that finds no viewer, so the help key shows the readme in
    // the editor's own window.
    void initTestCase()
    {
        const QString opener = recorder(QStringLiteral("xdg-open"), m_files.path(QStringLiteral("opener.txt")));
        qputenv("PATH", QFileInfo(opener).absolutePath().toLocal8Bit() + ':' + qgetenv("PATH"));
    }
    void init()
    {
        if (QGuiApplication::platformName() != QLatin1String("xcb") || QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
            QSKIP("needs Xvfb and xdotool");
        QFile::remove(SettingsStore().fileName());
        sharedSettings() = SharedSettings();
    }

    // The design size is larger than this screen's free area; so is a size
    // stored on a larger screen.
    void windowOpensInsideTheScreen()
    {
        for (const bool stored : {false, true}) {
            if (stored)
                for (const auto &[key, value] : {std::pair("Left", "-3000"), {"Top", "90000"}, {"Width", "40000"}, {"Height", "30000"}})
                    SettingsStore().write(QStringLiteral("Application"), QLatin1String(key), QLatin1String(value));
            frmMain window(std::make_unique<ScriptedPrompt>());
            QVERIFY(shown(window));
            QVERIFY2(window.screen()->availableGeometry().contains(window.frameGeometry()),
                     qPrintable(QStringLiteral("%1x%2").arg(window.frameGeometry().width()).arg(window.frameGeometry().height())));
            window.closeWithoutAsking();
        }
    }

    void conventionalKeysReachTheirCommands_data()
    {
        QTest::addColumn<QString>("key");
        QTest::addColumn<QString>("command");
        QTest::newRow("quit") << "ctrl+q" << "mnuFileQuit";
        QTest::newRow("close") << "ctrl+w" << "mnuFileClose";
        QTest::newRow("save as") << "ctrl+shift+s" << "mnuFileSaveAs";
        QTest::newRow("redo") << "ctrl+shift+z" << "mnuEditRedo";
        QTest::newRow("redo as before") << "ctrl+y" << "mnuEditRedo";
        QTest::newRow("help") << "F1" << "mnuHelpReadme";
    }
    void conventionalKeysReachTheirCommands()
    {
        QFETCH(QString, key);
        QFETCH(QString, command);
        TestWindow w(QStringLiteral("<r/>"));
        QVERIFY(shown(w.window));
        w.window.tvw()->setFocus();
        QSignalSpy triggered(w.window.menuItem(command), &QAction::triggered);
        QVERIFY(keys(w.window, {key}));
        QTRY_COMPARE(triggered.count(), 1);
        w.window.closeWithoutAsking();
    }

    // The help key shows the readme in a window of its own when no viewer
    // takes it: lines wrap inside a window that fits the screen, and the
    // opener tried first got the environment the editor started with.
    void readmeWindowFitsAndWraps()
    {
        // The readme is looked for beside the program first.
        const QString readme = QCoreApplication::applicationDirPath() + QStringLiteral("/readme.txt");
        QFile::remove(readme);
        QVERIFY(QFile::copy(QStringLiteral(OSTREL_TEST_DATA "/../../resources/readme.txt"), readme));
        const auto removeReadme = qScopeGuard([&] { QFile::remove(readme); });
        frmMain window;
        QVERIFY(shown(window));
        QVERIFY(engineStarted(window));
        QString text;
        bool fits = false, wraps = false;
        whenModal([&](QDialog *dialog) {
            auto *view = dialog->findChild<QPlainTextEdit *>();
            text = view->toPlainText();
            fits = dialog->screen()->availableGeometry().contains(dialog->frameGeometry());
            wraps = view->horizontalScrollBar()->maximum() == 0;
            dialog->reject();
        });
        QVERIFY(keys(window, {"F1"}));
        QTRY_VERIFY_WITH_TIMEOUT(!text.isEmpty(), 20000);
        QVERIFY(fits && wraps);
        for (const char *topic : {"F8", "入力時に検証", "回復"})
            QVERIFY2(text.contains(QString::fromUtf8(topic)), topic);
        const QByteArray opener = TestFiles::read(m_files.path(QStringLiteral("opener.txt")));
        QVERIFY(opener.contains("PATH=") && !opener.contains("QTWEBENGINE_CHROMIUM_FLAGS="));
        window.closeWithoutAsking();
    }

    // A file opened by a relative name starting with a dash, and a name
    // with Qt's placeholder for a modified mark in it.
    void fileNamesReachTitleAndProgramsWhole()
    {
        const QString out = m_files.path(QStringLiteral("program.txt"));
        SettingsStore().write(QStringLiteral("Programs"), QStringLiteral("Name0"), QStringLiteral("other"));
        SettingsStore().write(QStringLiteral("Programs"), QStringLiteral("Path0"), recorder(QStringLiteral("other.sh"), out));
        const QString dash = m_files.write("-data[*].xml", "<r/>");
        const QString before = QDir::currentPath();
        QDir::setCurrent(m_files.dir.path());
        Window window(std::make_unique<ScriptedPrompt>());
        QVERIFY(window.OpenFile(QStringLiteral("-data[*].xml")).ok());
        QDir::setCurrent(before);
        QCOMPARE(window.fileName(), dash);
        QVERIFY(shown(*window.form()));
        QTRY_COMPARE(static_cast<QWidget *>(window.form())->windowHandle()->title(), QStringLiteral("-data[*].xml - Ostrel XML Editor"));
        QVERIFY(engineStarted(*window.form()));
        window.form()->findChild<QAction *>(QStringLiteral("mnuToolOpen0"))->trigger();
        QTRY_VERIFY(TestFiles::read(out).contains("PATH="));
        const QList<QByteArray> lines = TestFiles::read(out).split('\n');
        QCOMPARE(QString::fromUtf8(lines.value(0)), dash);
        QVERIFY(!TestFiles::read(out).contains("QTWEBENGINE_CHROMIUM_FLAGS="));
        window.form()->closeWithoutAsking();
    }

    // Save As by its key; a name typed without an ending gets the chosen
    // type's, or none with all files.
    void saveAsKeepsATypedName_data()
    {
        QTest::addColumn<int>("type");
        QTest::addColumn<QString>("saved");
        QTest::newRow("XML") << 0 << "typed.xml";
        QTest::newRow("all files") << 2 << "typed";
    }
    void saveAsKeepsATypedName()
    {
        QFETCH(int, type);
        QFETCH(QString, saved);
        QTemporaryDir dir;
        frmMain window;
        window.LoadXML(QStringLiteral("<r/>"));
        QVERIFY(shown(window));
        QStringList types;
        whenModal([&](QDialog *dialog) {
            auto *combo = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            for (int i = 0; i < combo->count(); ++i)
                types << combo->itemText(i);
            for (int i = 0; i < type; ++i)
                QTest::keyClick(combo, Qt::Key_Down); // as a user picks it
            auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"));
            name->setText(dir.filePath(QStringLiteral("typed")));
            QTest::keyClick(name, Qt::Key_Return);
        });
        QVERIFY(keys(window, {"ctrl+shift+s"}));
        QTRY_VERIFY(!types.isEmpty());
        QCOMPARE(types.last(), QStringLiteral("すべてのファイル (*)"));
        QTRY_COMPARE(QDir(dir.path()).entryList(QDir::Files), QStringList{saved});
        window.closeWithoutAsking();
    }
};

int main(int argc, char **argv)
{
    // The screen of a notebook at twice the scale: 640×400 for the windows.
    XvfbScreen server;
    const QString noServer = server.start("1280x800x24", argc, argv);
    std::vector<char *> args = XvfbScreen::withoutPlatform(argc, argv);
    if (noServer.isEmpty()) {
        server.useForThisProcess();
        qputenv("QT_SCALE_FACTOR", "2");
    }
    int count = int(args.size());
    QCoreApplication::setAttribute(Qt::AA_ShareOpenGLContexts);
    QApplication app(count, args.data());
    TestDesktop test;
    return QTest::qExec(&test, count, args.data());
}

#include "tst_desktop.moc"
