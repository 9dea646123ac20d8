#include "TestWindow.h"
#include "document/DocumentLifecycle.h"
#include "document/DocumentTreeModel.h"
#include "document/StringTable.h"
#include "document/XmlDocument.h"
#include "shell/frmMain.h"

#include <QAction>
#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

// A window's document from New to Close, with scripted answers to every
// question the window asks.
class TestLifecycle : public QObject
{
    Q_OBJECT

    struct Window : TestWindow
    {
        Window() { window.ClearStatus(); } // a new window starts empty
        DocumentLifecycle &life() { return window.lifecycle(); }
        WindowFlags &flags() { return window.flags(); }
        QString caption() { return window.windowTitle(); }
        bool open(const QString &path, bool readOnly = false)
        {
            prompt->fileAnswers.enqueue({path, readOnly});
            life().mnuFileOpen_Click();
            return window.dom() != nullptr;
        }
        void edit()
        {
            XmlDocument *d = window.dom();
            d->setAttribute(d->documentElement(), QStringLiteral("edited"), QStringLiteral("1"));
            window.DocumentModified();
        }
    };

    QTemporaryDir m_dir;

    QString write(const QString &name, const QByteArray &bytes)
    {
        const QString path = m_dir.filePath(name);
        QFile f(path);
        f.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
        if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate))
            qFatal("cannot write %s", qPrintable(path));
        f.write(bytes);
        return path;
    }
    static QByteArray read(const QString &path)
    {
        QFile f(path);
        return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
    }

private slots:
    void captions_data()
    {
        QTest::addColumn<QString>("file");
        QTest::addColumn<bool>("dirty");
        QTest::addColumn<bool>("readOnly");
        QTest::addColumn<bool>("hasDocument");
        QTest::addColumn<QString>("caption");
        QTest::newRow("clean") << "/d/a.xml" << false << false << true << "a.xml - Ostrel XML Editor";
        QTest::newRow("modified") << "/d/a.xml" << true << false << true << "a.xml * - Ostrel XML Editor";
        QTest::newRow("read-only") << "/d/a.xml" << false << true << true << "a.xml (読み取り専用) - Ostrel XML Editor";
        QTest::newRow("both") << "/d/a.xml" << true << true << true << "a.xml * (読み取り専用) - Ostrel XML Editor";
        QTest::newRow("bare name") << "#document" << false << false << true << "#document - Ostrel XML Editor";
        QTest::newRow("empty window") << "" << false << false << false << "Ostrel XML Editor";
    }
    void captions()
    {
        QFETCH(QString, file);
        QFETCH(bool, dirty);
        QFETCH(bool, readOnly);
        QFETCH(bool, hasDocument);
        QFETCH(QString, caption);
        QCOMPARE(DocumentLifecycle::caption(file, dirty, readOnly, hasDocument), caption);
    }

    void openShowsTheDocumentAndKeepsDistinctBackups()
    {
        const QString path = write(QStringLiteral("a.xml"), "<r><c/></r>");
        Window w;
        QVERIFY(!w.open(QString())); // dialog cancelled: nothing happens
        QVERIFY(w.prompt->shown.isEmpty());
        QVERIFY(w.open(path));
        QCOMPARE(w.prompt->asked.last().title, QStringLiteral("開く"));
        QCOMPARE(w.caption(), QStringLiteral("a.xml - Ostrel XML Editor"));
        QVERIFY(w.flags().m_HasFile && !w.flags().m_Dirty && !w.flags().m_ReadOnly);
        QVERIFY(w.window.button(QStringLiteral("save"))->isEnabled());
        const QModelIndex top = w.window.model().documentIndex();
        QCOMPARE(w.window.tvw()->currentIndex(), top);
        QVERIFY(w.window.tvw()->isExpanded(top));

        // Backups are copies in the window's own folder, never overwritten
        // by a second open within the same second.
        const QString first = w.flags().m_BackupPath;
        QVERIFY(w.open(path));
        const QString second = w.flags().m_BackupPath;
        QVERIFY(first != second);
        QVERIFY(first.startsWith(w.window.tempFolder()));
        QCOMPARE(read(first), QByteArray("<r><c/></r>"));
        QCOMPARE(read(second), QByteArray("<r><c/></r>"));
        QVERIFY(QFileInfo(first).fileName().contains(QRegularExpression(QStringLiteral("^\\d{14}(-\\d+)?\\.bak$"))));
    }

    void openFailuresLeaveTheWindowAsItWas()
    {
        const QString good = write(QStringLiteral("good.xml"), "<r/>");
        const QString bad = write(QStringLiteral("bad.xml"), "<r><unclosed></r>");
        Window w;
        QVERIFY(w.open(good));
        const QString before = w.markup();

        // A reload that fails keeps the document the window shows.
        write(QStringLiteral("good.xml"), "<r><broken></r>");
        w.life().mnuFileReload_Click();
        QCOMPARE(w.prompt->shown.size(), 1);
        QVERIFY(w.prompt->shown[0].text.startsWith(GetResString(8)));
        QCOMPARE(w.prompt->shown[0].icon, Prompt::Icon::Exclamation);
        QCOMPARE(w.markup(), before);
        QCOMPARE(w.window.model().nodeAt(w.window.model().documentIndex()), w.window.dom()->documentNode());

        // Open empties the window first; a file that does not parse leaves it empty.
        QVERIFY(!w.open(bad));
        QCOMPARE(w.caption(), QStringLiteral("Ostrel XML Editor"));
        QCOMPARE(w.window.model().rowCount(), 0);

        // A path that names no file is reported, not parsed.
        QVERIFY(!w.window.OpenFile(m_dir.filePath(QStringLiteral("missing.xml"))));
        QVERIFY(w.prompt->shown.last().text.contains(QStringLiteral("missing.xml")));
    }

    void readOnlyFilesAreSavedUnderANewName()
    {
        const QString path = write(QStringLiteral("ro.xml"), "<r/>");
        QFile::setPermissions(path, QFile::ReadOwner | QFile::ReadUser);
        Window w;
        QVERIFY(w.open(path));
        QVERIFY(w.flags().m_ReadOnly);
        QCOMPARE(w.caption(), QStringLiteral("ro.xml (読み取り専用) - Ostrel XML Editor"));
        const QString copy = m_dir.filePath(QStringLiteral("copy.xml"));
        w.prompt->fileAnswers.enqueue({copy, false});
        w.life().mnuFileSave_Click();
        QCOMPARE(w.prompt->asked.last().kind, QStringLiteral("save"));
        QVERIFY(!w.flags().m_ReadOnly);
        QCOMPARE(w.caption(), QStringLiteral("copy.xml - Ostrel XML Editor"));
        QCOMPARE(read(copy), QByteArray("<r/>\n"));

        // Saving over a read-only file writes it anew without the flag.
        w.prompt->fileAnswers.enqueue({path, false});
        w.life().mnuFileSaveAs_Click();
        QVERIFY(QFile::permissions(path) & QFile::WriteOwner);
        QCOMPARE(read(path), QByteArray("<r/>\n"));

        // The dialog's read-only choice makes a writable file read-only here.
        QVERIFY(w.open(copy, true));
        QVERIFY(w.flags().m_ReadOnly);
    }

    void aFailedSaveChangesNothing()
    {
        const QString path = write(QStringLiteral("enc.xml"), "<?xml version=\"1.0\"?><r/>");
        Window w;
        QVERIFY(w.open(path));
        w.edit();
        // An encoding nothing can write: the save fails before the file is touched.
        XmlDocument *d = w.window.dom();
        QVERIFY(d->setText(d->documentNode().firstChild(), QStringLiteral("version=\"1.0\" encoding=\"x-none\"")));
        QVERIFY(!w.window.SaveFile(path));
        QCOMPARE(w.prompt->shown.last().icon, Prompt::Icon::Exclamation);
        QVERIFY(w.prompt->shown.last().text.contains(QStringLiteral("x-none")));
        QVERIFY(w.flags().m_Dirty);
        QCOMPARE(w.caption(), QStringLiteral("enc.xml * - Ostrel XML Editor"));
        QCOMPARE(read(path), QByteArray("<?xml version=\"1.0\"?><r/>"));
        // A folder is no file to write to.
        QVERIFY(!w.window.SaveFile(m_dir.path()));
        QVERIFY(w.flags().m_Dirty);
    }

    void questionsBeforeLosingChanges()
    {
        const QString path = write(QStringLiteral("q.xml"), "<r/>");
        Window w;
        QVERIFY(w.open(path));
        w.edit();
        QCOMPARE(w.caption(), QStringLiteral("q.xml * - Ostrel XML Editor"));
        w.edit(); // later edits leave the caption
        QCOMPARE(w.caption(), QStringLiteral("q.xml * - Ostrel XML Editor"));

        // Reload answered No (the default): nothing changes.
        w.prompt->answers.enqueue(Prompt::Answer::No);
        w.life().mnuFileReload_Click();
        QCOMPARE(w.prompt->shown.last().text, GetResString(7));
        QVERIFY(w.prompt->shown.last().defaultNo);
        QVERIFY(w.flags().m_Dirty);

        // Close: Cancel keeps everything; No empties the window.
        w.prompt->answers.enqueue(Prompt::Answer::Cancel);
        w.life().mnuFileClose_Click();
        QCOMPARE(w.prompt->shown.last().text, GetResString(12));
        QCOMPARE(w.prompt->shown.last().buttons, Prompt::Buttons::YesNoCancel);
        QVERIFY(w.window.dom() && w.flags().m_Dirty);
        w.prompt->answers.enqueue(Prompt::Answer::No);
        w.life().mnuFileClose_Click();
        QVERIFY(!w.window.dom());
        QCOMPARE(read(path), QByteArray("<r/>"));

        // Yes on a document without a file asks for a name; cancelling that
        // still lets the close go on.
        w.life().mnuFileNew_Click();
        w.edit();
        w.prompt->answers.enqueue(Prompt::Answer::Yes);
        w.life().mnuFileClose_Click();
        QCOMPARE(w.prompt->asked.last().kind, QStringLiteral("save"));
        QVERIFY(!w.window.dom());
    }

    void closingTheWindowAsksAndCleansUp()
    {
        const QString path = write(QStringLiteral("c.xml"), "<r/>");
        Window w;
        QVERIFY(w.open(path));
        w.edit();
        const QString folder = w.window.tempFolder();
        QVERIFY(QDir(folder).exists());
        w.prompt->answers.enqueue(Prompt::Answer::Cancel);
        QVERIFY(!w.window.close());
        QVERIFY(QDir(folder).exists());
        QSignalSpy unload(&w.window, &frmMain::Unload);
        w.prompt->answers.enqueue(Prompt::Answer::No);
        QVERIFY(w.window.close());
        QCOMPARE(unload.count(), 1);
        QVERIFY(!QDir(folder).exists());
    }

    void newDocument()
    {
        Window w;
        w.life().mnuFileNew_Click();
        QCOMPARE(w.caption(), QStringLiteral("New XML File - Ostrel XML Editor"));
        QCOMPARE(w.window.model().rowCount(w.window.model().documentIndex()), 0);
        QVERIFY(!w.life().canReload());
        QVERIFY(w.life().canSave());
        w.life().mnuFileSave_Click();
        QCOMPARE(w.prompt->asked.last().kind, QStringLiteral("save"));
    }

    void newDocumentFromTheTemplate()
    {
        const QString templatePath = QCoreApplication::applicationDirPath() + QStringLiteral("/default.xml");
        QFile t(templatePath);
        QVERIFY(t.open(QIODevice::WriteOnly));
        t.write("<template/>");
        t.close();
        Window w;
        w.life().mnuFileNew_Click();
        QFile::remove(templatePath);
        QCOMPARE(w.markup(), QStringLiteral("<template/>"));
        QCOMPARE(w.caption(), QStringLiteral("New XML File - Ostrel XML Editor"));
        QVERIFY(!w.flags().m_HasFile);
        QVERIFY(!w.life().canReload());
    }

    void styleSheetsAreCopiedNextToTheDocument()
    {
        QDir(m_dir.path()).mkpath(QStringLiteral("sub"));
        write(QStringLiteral("a.xsl"), "<a/>");
        write(QStringLiteral("b.xsl"), "<b/>");
        write(QStringLiteral("sub/c.xsl"), "<c/>");
        const QString path = write(QStringLiteral("styled.xml"),
                                   "<?xml-stylesheet type=\"text/xsl\" href=\"a.xsl\"?>"
                                   "<?xml-stylesheet href='b.xsl'?><?xml-stylesheet type=\"text/css\"?>"
                                   "<?xml-stylesheet href=\"../styled.xml\"?><?xml-stylesheet href=\"sub/c.xsl\"?><r/>");
        Window w;
        QVERIFY(w.open(path));
        const QDir temp(w.window.tempFolder());
        QCOMPARE(read(temp.filePath(QStringLiteral("a.xsl"))), QByteArray("<a/>"));
        QCOMPARE(read(temp.filePath(QStringLiteral("b.xsl"))), QByteArray("<b/>"));
        // References that leave the folder are not followed; a sub-folder
        // that the working folder lacks is skipped.
        QVERIFY(!QFile::exists(temp.filePath(QStringLiteral("../styled.xml"))));
        QVERIFY(!QFile::exists(temp.filePath(QStringLiteral("sub/c.xsl"))));
        // Opening the backup again (as Undo All does) keeps the copies.
        QVERIFY(w.window.OpenFile(w.flags().m_BackupPath));
        QCOMPARE(read(temp.filePath(QStringLiteral("a.xsl"))), QByteArray("<a/>"));
    }

    void windowsHaveTheirOwnWorkingFolders()
    {
        Window a;
        Window b;
        QVERIFY(!a.window.tempFolder().isEmpty());
        QVERIFY(a.window.tempFolder() != b.window.tempFolder());
        QCOMPARE(QFile::permissions(QFileInfo(a.window.tempFolder()).absolutePath())
                     & (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
                 QFile::Permissions());
    }
};

QTEST_MAIN(TestLifecycle)
#include "tst_lifecycle.moc"
