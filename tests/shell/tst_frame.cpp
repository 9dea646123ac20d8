#include "TestFiles.h"
#include "TestWindow.h"
#include "document/DocumentLifecycle.h"
#include "document/ValuePane.h"
#include "shell/Settings.h"
#include "shell/Fonts.h"
#include "shell/SettingsStore.h"
#include "shell/Twips.h"

#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QFileDialog>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QMenu>
#include <QMenuBar>
#include <QMessageBox>
#include <QScreen>
#include <QPointer>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QTreeView>

// The window as a frame: menus that follow the document, the font command,
// external programs, recent files and the geometry kept between runs.
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

};

QTEST_MAIN(TestFrame)
#include "tst_frame.moc"
