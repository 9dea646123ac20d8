#include "TestFiles.h"
#include "TestWindow.h"
#include "document/DocumentLifecycle.h"
#include "document/ValuePane.h"
#include "shell/RecentFilesMenu.h"
#include "shell/Settings.h"
#include "shell/Fonts.h"
#include "shell/SettingsStore.h"
#include "shell/Twips.h"
#include "shell/WindowGeometry.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QSet>
#include <QSignalSpy>
#include <QPointer>
#include <QProcess>
#include <QTimer>
#include <QToolBar>
#include "document/NodeTreeView.h"

// The window as a frame: menus that follow the document, the font command,
// external programs, recent files and the geometry kept between runs.
namespace {

class FakeWindow : public WindowGeometry
{
public:
    QRect windowRectTwips() const override { return rect; }
    void setWindowRectTwips(const QRect &r, bool stored) override { rect = r, positionStored = stored; }
    int hspPosition() const override { return hsp; }
    void setHspPosition(int twips) override { hsp = twips; }
    int vspPosition() const override { return vsp; }
    void setVspPosition(int twips) override { vsp = twips; }
    bool isNormalState() const override { return normal; }

    QRect rect{0, 0, 12000, 9000};
    int hsp = 3600, vsp = 3600;
    bool normal = true, positionStored = false;
};

void put(const char *section, const QString &key, const char *value)
{
    SettingsStore().write(QLatin1String(section), key, QString::fromUtf8(value));
}

QStringList visibleElements(const QMenu &menu)
{
    QStringList names;
    for (QAction *action : menu.actions())
        if (action->isVisible())
            names.append(action->objectName());
    return names;
}

} // namespace

class TestFrame : public QObject
{
    Q_OBJECT

    TestFiles m_files;

    static void showActive(QWidget &window)
    {
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }
    // Runs `act` on the next modal dialog of type T once it is shown.
    template <typename T>
    static void whenModal(const std::function<void(T *)> &act)
    {
        QTimer::singleShot(20, [act] {
            if (auto *dialog = qobject_cast<T *>(QApplication::activeModalWidget()))
                act(dialog);
            else
                whenModal<T>(act);
        });
    }

private slots:
    // Each test starts as a first run: no stored settings.
    void init()
    {
        QFile::remove(SettingsStore().fileName());
        sharedSettings() = SharedSettings();
    }

    void menusFollowTheDocumentAndTheHistory()
    {
        TestWindow w;
        w.window.ClearStatus();
        const auto file = [&] { return w.states("mnuFile", {"mnuFileSave", "mnuFileSaveAs", "mnuFileClose", "mnuFileReload"}); };
        const auto edit = [&] { return w.states("mnuEdit", {"mnuEditUndo", "mnuEditRedo", "mnuEditUndoAll"}); };
        QCOMPARE(file(), QStringLiteral("0000"));
        w.window.lifecycle().mnuFileNew_Click();
        QCOMPARE(file(), QStringLiteral("1110")); // "New XML File" is no file
        const QString path = m_files.write(QStringLiteral("a.xml"), "<r/>");
        QVERIFY(w.window.OpenFile(path));
        w.window.UpdateStatus(path);
        QCOMPARE(file(), QStringLiteral("1111"));
        QCOMPARE(edit(), QStringLiteral("000"));
        w.change("1");
        QCOMPARE(edit(), QStringLiteral("101"));
        w.window.menuItem(QStringLiteral("mnuEditUndo"))->trigger();
        QCOMPARE(edit(), QStringLiteral("010")); // back as opened: nothing for Undo All
        QCOMPARE(w.markup(), QStringLiteral("<r/>"));

        // The opened file heads the recent-file submenu.
        QMenu *recent = w.window.findChild<QMenu *>(QStringLiteral("mnuFileMRU"));
        emit recent->aboutToShow();
        const QAction *first = recent->findChild<QAction *>(QStringLiteral("mnuFileMRUFiles1"));
        QVERIFY(first && first->isVisible());
        QCOMPARE(first->text(), QStringLiteral("&1 ") + QFileInfo(path).absoluteFilePath());
    }

    void keysAndButtonsReachTheirCommands()
    {
        // The File menu opened in an empty window leaves Save disabled; a
        // file opened through that menu must still save by key and button.
        TestWindow w;
        w.window.ClearStatus(); // as the program starts without a file
        showActive(w.window);
        const QString path = m_files.write(QStringLiteral("k.xml"), "<r/>");
        w.prompt->fileAnswers.enqueue({path});
        QMenu *file = w.window.findChild<QMenu *>(QStringLiteral("mnuFile"));
        file->popup(QPoint());
        QTest::keyClick(file, Qt::Key_O); // 開く(&O)
        QTRY_VERIFY(w.window.dom() && !file->isVisible());
        w.change("1");
        QTest::keyClick(&w.window, Qt::Key_S, Qt::ControlModifier);
        QCOMPARE(TestFiles::read(path).trimmed(), QByteArray("<r n=\"1\"/>"));
        w.change("2");
        QTest::mouseClick(w.window.findChild<QToolBar *>(QStringLiteral("tbr"))->widgetForAction(w.window.button("save")), Qt::LeftButton);
        QCOMPARE(TestFiles::read(path).trimmed(), QByteArray("<r n=\"2\"/>"));
    }

    void firstRunSizeIsTheClientAreaBelowTheMenuBar()
    {
        QFile::remove(SettingsStore().fileName());
        frmMain window(std::make_unique<ScriptedPrompt>());
        showActive(window);
        QCOMPARE(window.width(), Twips::toPixelsX(11880, &window));
        QCOMPARE(window.height() - window.menuBar()->height(), Twips::toPixelsY(8310, &window));
        window.closeWithoutAsking();
    }

    void treePaneComesBackAtItsWidth()
    {
        // Each session stores the width it showed; it must not drift.
        for (const int stored : {3600, 3600, 3600, 2000, 2000}) {
            frmMain window(std::make_unique<ScriptedPrompt>());
            if (stored == 2000 && window.hspPosition() == 3600) {
                window.resize(500, 400); // another window size, another split
                window.setHspPosition(2000);
            }
            showActive(window);
            QTest::qWait(50); // later layouts keep it
            QCOMPARE(window.hspPosition(), stored);
            QCOMPARE(window.tvw()->width(), Twips::toPixelsX(stored, &window));
            QCOMPARE(window.vspPosition(), 3600); // the preview pane's bar too
            window.closeWithoutAsking();
        }
    }

    void fontDialogStartsOnTheFontInUse()
    {
        installFontSubstitutions(); // as the program does at start
        frmMain window; // Qt's own dialogs
        const SharedSettings before = sharedSettings();
        const QFontInfo inUse(window.txtEdit()->font());
        QFont preset;
        QString writingSystem;
        whenModal<QFontDialog>([&](QFontDialog *dialog) {
            preset = dialog->currentFont();
            for (QComboBox *box : dialog->findChildren<QComboBox *>())
                if (box->findText(QFontDatabase::writingSystemName(QFontDatabase::Japanese)) >= 0)
                    writingSystem = box->currentText();
            dialog->accept();
        });
        window.menuItem(QStringLiteral("mnuViewFont"))->trigger();
        QCOMPARE(preset.family(), inUse.family());
        QCOMPARE(qRound(preset.pointSizeF()), sharedSettings().fontSize);
        QCOMPARE(writingSystem, QFontDatabase::writingSystemName(QFontDatabase::Japanese));
        // OK without a change keeps everything as it was.
        QCOMPARE(std::pair(sharedSettings().fontName, sharedSettings().fontSize), std::pair(before.fontName, before.fontSize));
        QCOMPARE(QFontInfo(window.txtEdit()->font()).family(), inUse.family());
    }

    void fileDialogFiltersAreShownOnce()
    {
        frmMain window;
        QStringList shown;
        whenModal<QFileDialog>([&](QFileDialog *dialog) {
            auto *types = dialog->findChild<QComboBox *>(QStringLiteral("fileTypeCombo"));
            for (int i = 0; types && i < types->count(); ++i)
                shown << types->itemText(i);
            dialog->reject();
        });
        window.menuItem(QStringLiteral("mnuFileOpen"))->trigger();
        QCOMPARE(shown, (QStringList{QStringLiteral("XMLファイル(*.xml)"), QStringLiteral("XSLファイル(*.xsl)"), QStringLiteral("すべてのファイル(*.*)")}));
    }

    void fontCommand()
    {
        TestWindow w;
        w.prompt->fontAnswer = {QStringLiteral("Noto Sans CJK JP"), 14};
        w.window.menuItem(QStringLiteral("mnuViewFont"))->trigger();
        QCOMPARE(w.prompt->lastAsked(), "font " + QFontInfo(QFont(SharedSettings::defaultFontName())).family());
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
            TestWindow w; // without programs, neither the submenu nor its separator
            QVERIFY(!w.window.menuItem(QStringLiteral("mnuToolOpenEditor"))->isVisible()
                    && !w.window.menuItem(QStringLiteral("mnuToolLine3"))->isVisible());
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
        const Prompt::Answer answer = window->prompt().message(QStringLiteral("?"), Prompt::Icon::Question, Prompt::Buttons::YesNo);
        QCOMPARE(answer, Prompt::Answer::No);
        QVERIFY(alive); // the routine that asked returns into a living window
        QTRY_VERIFY(!alive);
    }

    // Forty faults of a large schema: the box and its button stay on the
    // screen, the whole text in the box's details.
    void aLongMessageFitsTheScreen()
    {
        frmMain window;
        window.show();
        const QString text = QStringLiteral("1 行目: 要素「item」の内容がDTDの宣言と一致しません。\n").repeated(40);
        QRect box;
        QString details;
        whenModal<QMessageBox>([&](QMessageBox *dialog) {
            const QAbstractButton *ok = dialog->button(QMessageBox::Ok);
            box = dialog->frameGeometry().united(QRect(ok->mapToGlobal(QPoint()), ok->size()));
            details = dialog->detailedText();
            dialog->accept();
        });
        window.prompt().message(text, Prompt::Icon::Exclamation);
        QVERIFY2(window.screen()->availableGeometry().contains(box), qPrintable(QString::number(box.height())));
        QCOMPARE(details, text);
        window.closeWithoutAsking();
    }

    void toInt16_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<int>("expected"); // -1: the caller's default
        const QList<std::pair<const char *, int>> rows{
            {"123", 123}, {"123.6", 124}, {"-2.5", -3}, {" 42 ", 42}, {"-32768", -32768}, {"32767.4", 32767},
            {"32767.5", -1}, {"32768", -1}, {"1e30", -1}, {"abc", -1}, {"12px", -1}, {"nan", -1}, {"", -1}};
        for (const auto &[text, expected] : rows)
            QTest::newRow(*text ? text : "empty") << QString::fromLatin1(text) << expected;
    }
    void toInt16()
    {
        QFETCH(QString, text);
        QTEST(::toInt16(text, -1), "expected");
    }

    // Missing or unusable values leave the window as it is; the programs
    // stop at a gap and keep the first of equal names.
    void loadingSkipsWhatIsUnusable()
    {
        // (Left: a screen wider than 16 bits of twips)
        for (const auto &[section, key, value] : {std::tuple("Application", "Left", "40000"), {"Application", "Height", "0"},
                                                  {"Application", "SplitTop", "abc"}, {"Font", "Size", "0"}})
            put(section, QString::fromLatin1(key), value);
        int i = 0;
        for (const char *name : {"ed", "vi", "ed", "", "after gap"}) {
            put("Programs", QStringLiteral("Path%1").arg(i), "/bin/p");
            put("Programs", QStringLiteral("Name%1").arg(i++), name);
        }
        FakeWindow window;
        LoadSettings(window);
        QCOMPARE(std::pair(sharedSettings().fontName, sharedSettings().fontSize), std::pair(QStringLiteral("MS UI Gothic"), 10));
        QCOMPARE(sharedSettings().programs, (QList<ExternalProgram>{{"ed", "/bin/p"}, {"vi", "/bin/p"}}));
        // The platform places such a window.
        QCOMPARE(std::tuple(window.rect, window.positionStored, window.hsp, window.vsp), std::tuple(FakeWindow().rect, false, 3600, 3600));
    }

    void savedFileHasExactKeysAndReloads()
    {
        sharedSettings().fontName = QStringLiteral("ＭＳ ゴシック");
        sharedSettings().programs = {{QStringLiteral("エディタ"), QStringLiteral("/opt/編集/bin")}};
        FakeWindow window;
        window.rect = QRect(-120, 240, 11880, 8310);
        window.hsp = 3000;
        SaveSettings(window);
        QFile ini(QDir(qEnvironmentVariable("XDG_CONFIG_HOME")).filePath("Ostrel XML Editor/Ostrel XML Editor.ini"));
        QVERIFY(ini.open(QIODevice::ReadOnly));
        QCOMPARE(QString::fromUtf8(ini.readAll()), QStringLiteral("[Application]\nHeight=8310\nLeft=-120\nSplitLeft=3000\nSplitTop=3600\nTop=240\n"
                                "Width=11880\n\n[Font]\nName=ＭＳ ゴシック\nSize=10\n\n[Programs]\n"
                                "Name0=エディタ\nPath0=/opt/編集/bin\n"));
        const SharedSettings saved = sharedSettings();
        sharedSettings() = SharedSettings();
        FakeWindow next;
        LoadSettings(next);
        QCOMPARE(std::tuple(next.rect, next.hsp, next.positionStored), std::tuple(window.rect, 3000, true));
        QCOMPARE(std::pair(sharedSettings().fontName, sharedSettings().programs), std::pair(saved.fontName, saved.programs));

        // A maximised window keeps the geometry stored before.
        next.normal = false;
        next.rect = QRect(1, 2, 3, 4);
        SaveSettings(next);
        QCOMPARE(SettingsStore().read(QStringLiteral("Application"), QStringLiteral("Left")), QStringLiteral("-120"));
    }

    void recentFileRules()
    {
        QStringList expected;
        for (int i = 1; i <= 11; ++i)
            addRecentFile(expected.emplaceFront(file(QStringLiteral("文書%1.xml").arg(i))));
        QCOMPARE(LoadMRU(), expected.first(10)); // the eleventh written is never read

        // Deleted files drop out and later entries move up; a case variant
        // counts once, spelled as last opened.
        QFile::remove(expected.at(1));
        addRecentFile(file("文書1.XML"));
        addRecentFile(file(QStringLiteral("文書1.xml")));
        QCOMPARE(LoadMRU(), (QStringList{file("文書1.xml"), expected.at(0)} + expected.mid(2, 8)));

        // The list ends at the first empty key.
        SaveMRU({file("a"), QString(), file("b")});
        QCOMPARE(LoadMRU(), QStringList{file("a")});
    }

    void twoProcessesKeepTheListFreeOfDuplicates()
    {
        // Two editor processes opening files at the same time, in this
        // test's program (see main); then the stored keys themselves.
        QStringList names;
        for (int i = 0; i < 12; ++i)
            names << file(QStringLiteral("p%1.xml").arg(i, 2, 10, QLatin1Char('0')));
        QList<QProcess *> writers;
        for (const char *order : {"|up", "|down"}) {
            QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
            env.insert(QStringLiteral("OSTREL_MRU_WRITER"), m_files.dir.path() + QLatin1String(order));
            writers << new QProcess(this);
            writers.last()->setProcessEnvironment(env);
            writers.last()->start(QCoreApplication::applicationFilePath(), {});
        }
        // Whenever another window reads the list, it is whole.
        auto storedKeys = [] {
            const SettingsStore store;
            QStringList stored;
            for (int i = 1; i <= 11; ++i)
                if (const QString path = store.read(QStringLiteral("MRU"), QStringLiteral("File%1").arg(i)); !path.isEmpty())
                    stored << path;
            return stored;
        };
        auto running = [&] {
            QCoreApplication::processEvents();
            return std::any_of(writers.cbegin(), writers.cend(), [](QProcess *p) { return p->state() != QProcess::NotRunning; });
        };
        while (running()) {
            const QStringList stored = storedKeys();
            QCOMPARE(QSet<QString>(stored.cbegin(), stored.cend()).size(), stored.size());
        }
        for (QProcess *p : writers)
            QCOMPARE(p->exitCode(), 0);
        QCOMPARE(std::pair(storedKeys().size(), LoadMRU().size()), std::pair(qsizetype(11), qsizetype(10)));
    }

    void submenuCaptionsHidingAndClicks()
    {
        QMenu mnuFile;
        QMenu *mru = mnuFile.addMenu(QStringLiteral("最近使ったファイル(&M)"));
        auto *menu = new RecentFilesMenu(mru, &mnuFile);
        QSignalSpy chosen(menu, &RecentFilesMenu::fileChosen);
        QStringList paths;
        for (int i = 1; i <= 10; ++i)
            paths.append(file(QStringLiteral("R&D%1").arg(i)));
        SaveMRU(paths);
        mnuFile.popup(QPoint(0, 0)); // the submenu follows the store when the File menu opens
        mnuFile.hide();

        QAction *tenth = mru->findChild<QAction *>(QStringLiteral("mnuFileMRUFiles10"));
        QVERIFY(tenth && mru->menuAction()->isEnabled());
        // The access key is the first digit; the path's own "&" is shown as such.
        QCOMPARE(tenth->text(), QStringLiteral("&10 ") + QString(paths.at(9)).replace('&', QStringLiteral("&&")));
        tenth->trigger();
        QCOMPARE(chosen.value(0).value(0).toString(), paths.at(9));

        for (const QString &path : paths.mid(1))
            QFile::remove(path);
        menu->refresh();
        QCOMPARE(visibleElements(*mru), QStringList{QStringLiteral("mnuFileMRUFiles1")});
        QFile::remove(paths.at(0));
        menu->refresh();
        QCOMPARE(visibleElements(*mru), QStringList{QStringLiteral("mnuFileMRUFiles0")});
        QVERIFY(!mru->menuAction()->isEnabled() && mru->actions().size() == 11); // elements are reused
    }

private:
    // A file in this test's folder, created when missing.
    QString file(const QString &name)
    {
        QFile f(m_files.path(name));
        if (!f.exists() && f.open(QIODevice::WriteOnly))
            f.write("<a/>");
        return f.fileName();
    }
    QString file(const char *name) { return file(QString::fromUtf8(name)); }
};

// The store's folder is fixed at its first use, so it is set before anything runs.
int main(int argc, char **argv)
{
    // A writer of twoProcessesKeepTheListFreeOfDuplicates: opens the files
    // p00.xml ... p11.xml of a folder, up or down, many times over.
    const QString writer = qEnvironmentVariable("OSTREL_MRU_WRITER");
    if (!writer.isEmpty()) {
        QCoreApplication app(argc, argv);
        const QStringList parts = writer.split(QLatin1Char('|'));
        for (int step = 0; step < 120; ++step) {
            const int n = parts.at(1) == QLatin1String("up") ? step % 12 : 11 - step % 12;
            addRecentFile(QDir(parts.at(0)).filePath(QStringLiteral("p%1.xml").arg(n, 2, 10, QLatin1Char('0'))));
        }
        return 0;
    }
    QTemporaryDir config;
    qputenv("XDG_CONFIG_HOME", config.path().toLocal8Bit());
    QApplication app(argc, argv);
    TestFrame test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_frame.moc"
