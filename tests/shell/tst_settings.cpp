#include "shell/RecentFilesMenu.h"
#include "shell/Settings.h"
#include "shell/SettingsStore.h"
#include "shell/WindowGeometry.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMenu>
#include <QProcess>
#include <QSet>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>

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

class TestSettings : public QObject
{
    Q_OBJECT
private slots:
    void init()
    {
        QFile::remove(SettingsStore().fileName());
        sharedSettings() = SharedSettings();
        m_files = std::make_unique<QTemporaryDir>();
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
            env.insert(QStringLiteral("OSTREL_MRU_WRITER"), m_files->path() + QLatin1String(order));
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
        QFile f(m_files->filePath(name));
        if (!f.exists() && f.open(QIODevice::WriteOnly))
            f.write("<a/>");
        return f.fileName();
    }
    QString file(const char *name) { return file(QString::fromUtf8(name)); }

    std::unique_ptr<QTemporaryDir> m_files;
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
    TestSettings test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_settings.moc"
