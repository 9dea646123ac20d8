#include "ScriptedPrompt.h"
#include "shell/CommandLine.h"
#include "shell/InstanceLife.h"
#include "shell/Window.h"
#include "shell/Twips.h"
#include "shell/basGlobal.h"
#include "shell/frmMain.h"
#include "shell/frmSplash.h"

#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

namespace {

bool writeFile(const QString &path, const QByteArray &bytes)
{
    QFile f(path);
    return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}

QByteArray readFile(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

// Start-up by a user, and the Window object as the entry routine uses it
// (tst_automation drives it through the bus).
class TestStartup : public QObject
{
    Q_OBJECT

private slots:
    void initTestCase();
    void commandLine_data();
    void commandLine();
    void splashForm();
    void standAloneStart_data();
    void standAloneStart();
    void failedOpenKeepsTheDocumentsName();
    void saveNeedsAFileAndAWritableDocument();
    void closingAndEnding_data();
    void closingAndEnding();

private:
    // A new Window whose messages go to `*prompt`.
    static std::unique_ptr<Window> makeWindow(ScriptedPrompt **prompt);
    QString path(const char *name) const { return m_dir.filePath(QString::fromLatin1(name)); }

    QTemporaryDir m_dir;
};

void TestStartup::initTestCase()
{
    QVERIFY(m_dir.isValid());
    QVERIFY(QDir(m_dir.path()).mkpath(QStringLiteral("run")));
    QFile::setPermissions(m_dir.filePath(QStringLiteral("run")), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", m_dir.filePath(QStringLiteral("run")).toLocal8Bit());
    qputenv("XDG_CONFIG_HOME", m_dir.filePath(QStringLiteral("config")).toLocal8Bit());
    for (const char *name : {"my doc.xml", "a.xml", "b.xml"})
        QVERIFY(writeFile(path(name), "<?xml version=\"1.0\"?>\n<root><a>first</a></root>\n"));
    QVERIFY(writeFile(path("bad.xml"), "<root><a></root>"));
}

void TestStartup::commandLine_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<bool>("automation");
    QTest::addColumn<QString>("path");

    // The shell has split a quoted name at its blank but kept the quotes.
    QTest::newRow("quoted path with blanks") << QStringList{"\"/tmp/my", "file.xml\""} << false << "/tmp/my file.xml";
    QTest::newRow("unquoted path with blanks") << QStringList{"/tmp/my", "file.xml"} << false << "/tmp/my file.xml";
    QTest::newRow("two names stay one path") << QStringList{"a.xml", "b.xml"} << false << "a.xml b.xml";
    QTest::newRow("lone quote") << QStringList{"\""} << false << "";
    QTest::newRow("empty") << QStringList{} << false << "";
    QTest::newRow("quote not first") << QStringList{"a.xml\""} << false << "a.xml\"";
    QTest::newRow("automation") << QStringList{"--automation"} << true << "";
    QTest::newRow("automation switch left out of the path")
        << QStringList{"/tmp/a", "--automation", "b.xml"} << true << "/tmp/a b.xml";
}

void TestStartup::commandLine()
{
    QFETCH(QStringList, arguments);
    QFETCH(bool, automation);
    QFETCH(QString, path);
    const CommandLine::StartRequest request = CommandLine::parse(arguments);
    QCOMPARE(request.automation, automation);
    QCOMPARE(CommandLine::filePath(request.commandLine), path);
}

void TestStartup::splashForm()
{
    frmSplash splash;
    auto *title = splash.findChild<QLabel *>(QStringLiteral("Label1"));
    auto *version = splash.findChild<QLabel *>(QStringLiteral("lblVersion"));
    auto *wait = splash.findChild<QLabel *>(QStringLiteral("Label3"));
    QVERIFY(title && version && wait);
    QCOMPARE(title->text(), QStringLiteral("Ostrel XML Editor"));
    QCOMPARE(title->font().family(), QStringLiteral("Lucida Console"));
    QCOMPARE(version->text(), QStringLiteral("Version 1.1.10"));
    QCOMPARE(wait->text(), QStringLiteral("起動中です。しばらくお待ちください…。"));
    QCOMPARE(wait->font().family(), QStringLiteral("MS UI Gothic"));
    QCOMPARE(splash.size(), QSize(Twips::toPixelsX(4260, &splash), Twips::toPixelsY(1845, &splash)));
    // Decimal, without leading zeros.
    QCOMPARE(frmSplash::versionText(QStringLiteral("01.02.003")), QStringLiteral("Version 1.2.3"));

    splash.show();
    QVERIFY(QTest::qWaitForWindowExposed(&splash));
    QTest::mouseDClick(wait, Qt::LeftButton);
    QVERIFY(!splash.isVisible());
}

void TestStartup::standAloneStart_data()
{
    QTest::addColumn<QString>("commandLine"); // %1: the test folder
    QTest::addColumn<QString>("caption");
    QTest::addColumn<bool>("hasFile");
    QTest::addColumn<int>("messages");

    QTest::newRow("quoted path with blanks") << "\"%1/my doc.xml\"" << "my doc.xml - Ostrel XML Editor" << true << 0;
    QTest::newRow("two names") << "%1/a.xml %1/b.xml" << "Ostrel XML Editor" << false << 0;
    QTest::newRow("no such file") << "%1/missing.xml" << "Ostrel XML Editor" << false << 0;
    // The message is shown, and the caption tells which file it was about.
    QTest::newRow("file that does not parse") << "%1/bad.xml" << "bad.xml - Ostrel XML Editor" << false << 1;
}

void TestStartup::standAloneStart()
{
    QFETCH(QString, commandLine);
    QFETCH(QString, caption);
    QFETCH(bool, hasFile);
    QFETCH(int, messages);

    InstanceLife life;
    auto prompt = std::make_unique<ScriptedPrompt>();
    ScriptedPrompt *shown = prompt.get();
    QPointer<frmMain> window = basGlobal::startStandAlone(commandLine.arg(m_dir.path()), life, std::move(prompt));
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QCOMPARE(window->windowTitle(), caption);
    QCOMPARE(window->flags().m_HasFile, hasFile);
    QCOMPARE(shown->shown.size(), messages);
    for (QWidget *w : QApplication::topLevelWidgets())
        QVERIFY2(!qobject_cast<frmSplash *>(w) || !w->isVisible(), "the splash form is gone");
    // The window alone keeps the process; closing it lets the process end.
    QCOMPARE(life.count(), 1);
    QSignalSpy ended(&life, &InstanceLife::lastReleased);
    window->closeWithoutAsking();
    QCOMPARE(ended.size(), 1);
    QTRY_VERIFY(window.isNull());
}

std::unique_ptr<Window> TestStartup::makeWindow(ScriptedPrompt **prompt)
{
    auto scripted = std::make_unique<ScriptedPrompt>();
    *prompt = scripted.get();
    return std::make_unique<Window>(std::move(scripted));
}

void TestStartup::failedOpenKeepsTheDocumentsName()
{
    // An empty window shows which file failed to open (standAloneStart);
    // a window holding a document keeps its name, so a later Save cannot
    // write that document over the file that failed to open.
    ScriptedPrompt *prompt = nullptr;
    auto window = makeWindow(&prompt);
    QVERIFY(window->OpenFile(path("a.xml")).ok());
    const Window::Result failed = window->OpenFile(path("bad.xml"));
    QCOMPARE(failed.code, Window::Result::OpenFailed);
    QVERIFY2(failed.detail.contains(QStringLiteral("XMLをパースできません。")), qPrintable(failed.detail));
    QCOMPARE(window->form()->windowTitle(), QStringLiteral("a.xml - Ostrel XML Editor"));
    QCOMPARE(window->OpenFile(path("missing.xml")).code, Window::Result::OpenFailed);
    QCOMPARE(window->fileName(), path("a.xml"));
    QVERIFY(window->Save().ok());
    QCOMPARE(readFile(path("bad.xml")), QByteArray("<root><a></root>"));
}

void TestStartup::saveNeedsAFileAndAWritableDocument()
{
    ScriptedPrompt *prompt = nullptr;
    auto window = makeWindow(&prompt);
    window->form()->LoadXML(QStringLiteral("<new/>"));
    QCOMPARE(window->Save().code, Window::Result::NoFile);

    // The window's own Save would ask for a new name; a client gets told.
    QVERIFY(writeFile(path("locked.xml"), "<locked/>"));
    QFile::setPermissions(path("locked.xml"), QFile::ReadOwner | QFile::ReadGroup | QFile::ReadOther);
    QVERIFY(window->OpenFile(path("locked.xml")).ok());
    QVERIFY(!window->ReadOnly());
    QCOMPARE(window->Save().code, Window::Result::ReadOnly);
    QCOMPARE(readFile(path("locked.xml")), QByteArray("<locked/>"));
    QVERIFY(prompt->shown.isEmpty());
}

void TestStartup::closingAndEnding_data()
{
    QTest::addColumn<bool>("closeFirst");
    // A shown window staying open when its object ends: standAloneStart.
    QTest::newRow("CloseWindow, shown") << true;
    QTest::newRow("object ends, hidden window is closed") << false;
}

void TestStartup::closingAndEnding()
{
    QFETCH(bool, closeFirst);
    ScriptedPrompt *prompt = nullptr;
    auto window = makeWindow(&prompt);
    QPointer<frmMain> form = window->form();
    const qint64 handle = window->hWnd();
    QVERIFY(window->OpenFile(path("a.xml")).ok());
    form->DocumentModified();
    QVERIFY(window->setVisible(closeFirst).ok());
    QSignalSpy closed(window.get(), &Window::OnClose);

    if (closeFirst) {
        QVERIFY(window->CloseWindow().ok());
        QVERIFY(!window->form());
        QCOMPARE(window->hWnd(), handle);
        // The object outlives its window until it is released.
        QCOMPARE(closed.size(), 0);
    }
    window->end();
    window->end();
    QCOMPARE(closed.size(), 1);
    QVERIFY(!window->form());
    // A modified document is not asked about.
    QVERIFY(prompt->shown.isEmpty());
    QTRY_VERIFY(form.isNull());
    window.reset();
    QCOMPARE(closed.size(), 1);
}

QTEST_MAIN(TestStartup)
#include "tst_startup.moc"
