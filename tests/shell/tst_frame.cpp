#include "TestFiles.h"
#include "TestWindow.h"
#include "document/DocumentLifecycle.h"
#include "document/ValuePane.h"
#include "shell/Settings.h"
#include "shell/SettingsStore.h"

#include <QMenu>
#include <QPointer>
#include <QTimer>
#include <QTest>
#include <QTreeView>

// The window as a frame: menus that follow the document, the font command,
// external programs, recent files and the geometry kept between runs.
class TestFrame : public QObject
{
    Q_OBJECT

    TestFiles m_files;

    static void openMenu(TestWindow &w, const char *name)
    {
        emit w.window.findChild<QMenu *>(QString::fromLatin1(name))->aboutToShow();
    }
    static bool enabled(TestWindow &w, const char *name)
    {
        return w.window.menuItem(QString::fromLatin1(name))->isEnabled();
    }

private slots:
    void fileMenuFollowsTheDocument()
    {
        TestWindow w;
        w.window.ClearStatus();
        openMenu(w, "mnuFile");
        QVERIFY(!enabled(w, "mnuFileSave") && !enabled(w, "mnuFileSaveAs") && !enabled(w, "mnuFileClose") && !enabled(w, "mnuFileReload"));
        w.window.lifecycle().mnuFileNew_Click();
        openMenu(w, "mnuFile");
        QVERIFY(enabled(w, "mnuFileSave") && enabled(w, "mnuFileClose"));
        QVERIFY(!enabled(w, "mnuFileReload")); // "New XML File" is no file
        const QString path = m_files.write(QStringLiteral("a.xml"), "<r/>");
        QVERIFY(w.window.OpenFile(path));
        w.window.UpdateStatus(path);
        openMenu(w, "mnuFile");
        QVERIFY(enabled(w, "mnuFileReload"));

        // The opened file heads the recent-file submenu.
        QMenu *recent = w.window.findChild<QMenu *>(QStringLiteral("mnuFileMRU"));
        emit recent->aboutToShow();
        const QAction *first = recent->findChild<QAction *>(QStringLiteral("mnuFileMRUFiles1"));
        QVERIFY(first && first->isVisible());
        QCOMPARE(first->text(), QStringLiteral("&1 ") + QFileInfo(path).absoluteFilePath());
    }

    void editMenuFollowsTheHistory()
    {
        TestWindow w;
        QVERIFY(w.window.OpenFile(m_files.write(QStringLiteral("e.xml"), "<r/>")));
        QVERIFY(!enabled(w, "mnuEditUndo") && !enabled(w, "mnuEditRedo") && !enabled(w, "mnuEditUndoAll"));
        w.change("1");
        QVERIFY(enabled(w, "mnuEditUndo") && enabled(w, "mnuEditUndoAll"));
        w.window.menuItem(QStringLiteral("mnuEditUndo"))->trigger();
        QVERIFY(!enabled(w, "mnuEditUndo") && enabled(w, "mnuEditRedo"));
        QCOMPARE(w.markup(), QStringLiteral("<r/>"));
    }

    void fontCommand()
    {
        TestWindow w;
        w.prompt->fontAnswer = {QStringLiteral("Noto Sans CJK JP"), 14};
        w.window.menuItem(QStringLiteral("mnuViewFont"))->trigger();
        QCOMPARE(w.prompt->asked.last(), "font " + SharedSettings::defaultFontName());
        QCOMPARE(w.window.txtEdit()->font().pointSize(), 14);
        QCOMPARE(w.window.tvw()->font().family(), QStringLiteral("Noto Sans CJK JP"));
        QCOMPARE(sharedSettings().fontSize, 14);
        // Cancelling changes nothing.
        w.prompt->fontAnswer = {};
        w.window.menuItem(QStringLiteral("mnuViewFont"))->trigger();
        QCOMPARE(w.window.txtEdit()->font().pointSize(), 14);
        sharedSettings() = SharedSettings();
    }

    void externalProgramsSubmenu()
    {
        {
            TestWindow w;
            QVERIFY(!w.window.menuItem(QStringLiteral("mnuToolOpenEditor"))->isVisible());
            QVERIFY(!w.window.menuItem(QStringLiteral("mnuToolLine3"))->isVisible());
        }
        SettingsStore store;
        const QStringList names{QStringLiteral("&Vim"), QStringLiteral("エディタ")};
        for (int i = 0; i < names.size(); ++i) {
            store.write(QStringLiteral("Programs"), QStringLiteral("Name%1").arg(i), names[i]);
            store.write(QStringLiteral("Programs"), QStringLiteral("Path%1").arg(i), QStringLiteral("/usr/bin/x"));
        }
        TestWindow w;
        QStringList captions;
        for (QAction *a : w.window.findChild<QMenu *>(QStringLiteral("mnuToolOpenEditor"))->actions())
            captions << a->text();
        QCOMPARE(captions, names);
        QVERIFY(w.window.menuItem(QStringLiteral("mnuToolLine3"))->isVisible());
        QFile::remove(store.fileName());
        sharedSettings() = SharedSettings();
    }

    void closingFromOutsideWaitsForAnOpenQuestion()
    {
        // A window with real dialogs, closed by an automation client while
        // one of its questions is open.
        auto *window = new frmMain;
        window->setAttribute(Qt::WA_DeleteOnClose);
        window->show();
        QPointer<frmMain> alive(window);
        QTimer::singleShot(50, window, [window] { window->closeWithoutAsking(); });
        const Prompt::Answer answer = window->prompt().message(QStringLiteral("?"), Prompt::Icon::Question,
                                                               Prompt::Buttons::YesNo);
        QCOMPARE(answer, Prompt::Answer::No);
        QVERIFY(alive); // the routine that asked returns into a living window
        QTRY_VERIFY(!alive);
    }

    void geometryIsKeptBetweenWindows()
    {
        {
            TestWindow w;
            w.window.setWindowRectTwips(QRect(1440, 720, 9000, 6000), true);
            w.window.setHspPosition(2000);
            w.window.closeWithoutAsking();
        }
        TestWindow w;
        const QRect r = w.window.windowRectTwips();
        QVERIFY(qAbs(r.x() - 1440) <= 15 && qAbs(r.width() - 9000) <= 15);
        QVERIFY(qAbs(w.window.hspPosition() - 2000) <= 15);
    }
};

QTEST_MAIN(TestFrame)
#include "tst_frame.moc"
