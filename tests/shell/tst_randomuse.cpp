#include "TestFiles.h"
#include "document/ValuePane.h"
#include "xml/XmlDocument.h"
#include "shell/frmMain.h"
#include "undo/UndoController.h"

#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QLineEdit>
#include <QMimeData>
#include <QPointer>
#include <QPrinter>
#include <QRandomGenerator>
#include <QTest>
#include <QThread>
#include <QTimer>
#include "document/NodeTreeView.h"

// A real editor window used at random, as a user hammering on it would:
// tree moves, command and menu keys, markup typed into every text field,
// input-method composition, the clipboard empty and full, undo and redo,
// every question answered at random. The window must survive each step,
// undo and redo must be inverses, and at the end the document must save to
// a file that parses and Undo All must give back the document as loaded.
//
// OSTREL_RANDOM_SEED and OSTREL_RANDOM_STEPS replay or lengthen a run; a
// failure names the seed and the last steps.

namespace {

// Answers every question at random, from the run's generator; files are
// chosen among the test's own, and printing goes to a PDF file.
class RandomPrompt : public Prompt
{
public:
    RandomPrompt(QRandomGenerator &random, QStringList files, QString folder) : m_random(random), m_files(std::move(files)), m_folder(std::move(folder)) {}

    Answer message(const QString &text, Icon, Buttons buttons, bool) override
    {
        asked << text.left(120);
        const QList<Answer> choices = buttons == Buttons::Ok ? QList{Answer::Ok} : buttons == Buttons::OkCancel ? QList{Answer::Ok, Answer::Cancel}
            : buttons == Buttons::YesNo ? QList{Answer::Yes, Answer::No} : QList{Answer::Yes, Answer::No, Answer::Cancel};
        return choices.at(m_random.bounded(int(choices.size())));
    }
    bool openFileDialog(const QString &, const QString &, QString *path, bool *readOnly) override
    {
        *path = m_files.at(m_random.bounded(int(m_files.size())));
        if (readOnly)
            *readOnly = m_random.bounded(6) == 0;
        return m_random.bounded(5) != 0;
    }
    bool saveFileDialog(const QString &, const QString &, QString *path) override
    {
        *path = m_folder + QStringLiteral("/saved%1.xml").arg(m_random.bounded(3));
        return m_random.bounded(4) != 0;
    }
    bool fontDialog(QString *, int *pointSize) override
    {
        *pointSize = 8 + m_random.bounded(10);
        return m_random.bounded(2) != 0;
    }
    bool printDialog(QPrinter *printer) override
    {
        printer->setOutputFormat(QPrinter::PdfFormat); // never to a real printer
        printer->setOutputFileName(m_folder + QStringLiteral("/printed.pdf"));
        return m_random.bounded(3) == 0;
    }

    QStringList asked;

private:
    QRandomGenerator &m_random;
    QStringList m_files;
    QString m_folder;
};

// Pieces of what users type into the panes: markup, references, the
// characters XML refuses in comments and CDATA, Japanese text.
const QStringList kTyped{
    "<a>", "</a>", "<b x=\"1\"/>", "<", ">", "/", "&amp;", "&", ";", "--", "-", "]]>", "<!--", "-->",
    "<![CDATA[", "?>", "<?pi d?>", "\"", "'", "=", " ", "x", "y1", ":", "xmlns:p=\"u\"", "日本語", "①",
    "\u00A0", "\t", "\n", "//", "/r", "*", "[1]", "@a",
};
// Every key a command listens to, and the text fields' own editing keys.
const QStringList kCommandKeys{
    "Ctrl+N", "Ctrl+O", "Ctrl+S", "Ctrl+P", "F5", "Ctrl+F5", "F7", "F3", "Shift+F3", "Ctrl+F", "F2", "Ctrl+E",
    "Ctrl+A", "Ctrl+T", "Ctrl+K", "Ctrl+Alt+E", "Ctrl+Alt+T", "Ctrl+Alt+K", "Ctrl+D", "Del", "Backspace",
    "Return", "Esc", "Tab", "Shift+Tab", "Ctrl+Home", "Ctrl+Shift+End", "Shift+Left", "Right",
};
const QStringList kClipboardKeys{"Ctrl+C", "Ctrl+X", "Ctrl+V", "Shift+Ins", "Ctrl+Ins", "Shift+Del"};
const QStringList kTreeKeys{"Up", "Down", "Left", "Right", "Home", "End", "PgUp", "PgDown", "*", "+", "-", "Space", "Shift+Down"};
// The menus' access keys, and letters to press inside an open menu.
const QString kMenuKeys = QStringLiteral("FEVNTWH");
const QString kMenuLetters = QStringLiteral("NORSAPTMCXUDLFEKHYVW");

const char kDocument[] = R"(<?xml version="1.0" encoding="UTF-8"?>
<?xml-stylesheet type="text/xsl" href="s.xsl"?>
<!DOCTYPE 目録 [<!ENTITY co "株式会社">]>
<目録 xmlns:p="urn:p" 版="2">
  <!-- 注記 -->
  <p:品 id="a1" 名="本&#160;棚">&co;の品<b>太字</b>残り</p:品>
  <品 id="a2"><![CDATA[<raw> & ]]></品>
  <空/>
  <?処理 data?>
  <text xml:space="preserve">  keep  </text>
</目録>
)";

} // namespace

class TestRandomUse : public QObject
{
    Q_OBJECT

    TestFiles m_files;
    QStringList m_openable;

    struct Run
    {
        quint32 seed;
        int steps;
        QRandomGenerator random;
        QStringList log; // the last steps, for the failure message
        QString loaded;  // the document as opened last
        QString backup;
    };

private slots:
    void initTestCase()
    {
        for (const auto &[name, content] :
             {std::pair("doc.xml", kDocument),
              {"s.xsl", "<x:stylesheet xmlns:x=\"http://www.w3.org/1999/XSL/Transform\" version=\"1.0\"><x:template match=\"/\"/></x:stylesheet>"},
              {"bad.xml", "<r><unclosed></r>"}, {"small.xml", "<r a='1'>t</r>"}, {"ro.xml", "<ro><x/></ro>"}})
            m_openable << m_files.write(QString::fromLatin1(name), content);
        QFile::setPermissions(m_openable.last(), QFile::ReadOwner);
    }

    void randomUse()
    {
        const auto env = [](const char *name, int otherwise) { return qEnvironmentVariableIsSet(name) ? qEnvironmentVariableIntValue(name) : otherwise; };
        Run run{quint32(env("OSTREL_RANDOM_SEED", 20261207)), env("OSTREL_RANDOM_STEPS", 3000), {}, {}, {}, {}};
        run.random.seed(run.seed);
        auto *window = new frmMain(std::make_unique<RandomPrompt>(run.random, m_openable, m_files.dir.path()));
        QPointer<frmMain> alive(window);
        // Quitting is a user's right, but this run wants the window.
        CloseRefusal refusal;
        window->installEventFilter(&refusal);
        window->show();
        window->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QVERIFY(window->OpenFile(m_openable.at(0)));
        window->UpdateStatus(m_openable.at(0));
        noteLoad(run, *window);

        // Dialogs go through the prompt seam; a Qt dialog that shows up all
        // the same is a fault (it is closed so the run can go on). Context
        // menus get a random item or Escape.
        QStringList strayDialogs;
        QTimer watcher;
        connect(&watcher, &QTimer::timeout, this, [&] {
            if (QWidget *modal = QApplication::activeModalWidget()) {
                strayDialogs << modal->metaObject()->className();
                modal->close();
            } else if (QWidget *popup = QApplication::activePopupWidget();
                       popup && QThread::currentThread()->loopLevel() > 0) {
                // A context menu runs its own loop, and the step waits in it.
                for (int n = run.random.bounded(4); n > 0; --n)
                    QTest::keyClick(popup, Qt::Key_Down);
                QTest::keyClick(popup, run.random.bounded(2) ? Qt::Key_Return : Qt::Key_Escape);
                run.log << QStringLiteral("answered %1").arg(popup->metaObject()->className());
            }
        });
        watcher.start(100);

        for (int step = 0; step < run.steps; ++step) {
            act(run, *window);
            // (Save writes where the window says its file is.)
            const QString fault = !alive || !window->isVisible()    ? QStringLiteral("window gone or hidden")
                : !strayDialogs.isEmpty()                          ? strayDialogs.join(' ')
                : QTest::currentTestFailed()                       ? QStringLiteral("a check above failed")
                : window->flags().m_HasFile && !QFileInfo(window->flags().m_FileName).isAbsolute() ? "file name " + window->flags().m_FileName
                                                                                                    : QString();
            if (!fault.isEmpty())
                QFAIL(qPrintable(failure(run, step, fault)));
            noteLoad(run, *window);
        }
        while (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
        finalChecks(run, *window);
        if (QTest::currentTestFailed())
            qWarning("%s", qPrintable(failure(run, run.steps, QStringLiteral("final checks"))));
        window->removeEventFilter(&refusal);
        window->closeWithoutAsking();
        delete window;
    }

private:
    struct CloseRefusal : QObject
    {
        bool eventFilter(QObject *, QEvent *event) override
        {
            return event->type() == QEvent::Close && (event->ignore(), true);
        }
    };

    static QString markup(frmMain &window) { return window.dom() ? window.document().xml(window.document().documentNode()) : QString(); }
    static int undoCount(frmMain &window) { return window.undo().history() ? window.undo().history()->undoCount() : 0; }

    // The document as loaded, whenever the window opened a file.
    static void noteLoad(Run &run, frmMain &window)
    {
        if (window.flags().m_BackupPath != run.backup) {
            run.backup = window.flags().m_BackupPath;
            run.loaded = markup(window);
        }
    }

    static QString failure(const Run &run, int step, const QString &what)
    {
        return QStringLiteral("%1 at step %2 of seed %3 (replay: OSTREL_RANDOM_SEED=%3 OSTREL_RANDOM_STEPS=%4); last steps:\n  %5")
            .arg(what).arg(step).arg(run.seed).arg(step + 1).arg(run.log.join(QStringLiteral("\n  ")));
    }

    static QWidget *target(frmMain &window)
    {
        QWidget *popup = QApplication::activePopupWidget();
        return popup ? popup : QApplication::focusWidget() ? QApplication::focusWidget() : &window;
    }

    static void press(Run &run, frmMain &window, const QString &keys)
    {
        QWidget *to = target(window);
        run.log << QStringLiteral("%1 to %2").arg(keys, to->objectName().isEmpty() ? to->metaObject()->className() : to->objectName());
        const QKeyCombination key = QKeySequence(keys)[0];
        QTest::keyClick(to, key.key(), key.keyboardModifiers());
    }
    static QString any(QRandomGenerator &r, const QStringList &list) { return list.at(r.bounded(int(list.size()))); }

    void act(Run &run, frmMain &window)
    {
        if (run.log.size() > 40)
            run.log.removeFirst();
        QRandomGenerator &r = run.random;
        // A context menu or menu left open takes the next keys, as it would
        // take a user's.
        if (QApplication::activePopupWidget() && r.bounded(3) == 0)
            return press(run, window, r.bounded(2) ? QStringLiteral("Esc") : QStringLiteral("Down"));
        // An empty window has little to use: open something more often.
        if ((!window.dom() || !window.document().documentElement()) && r.bounded(4) == 0)
            return press(run, window, QStringLiteral("Ctrl+O"));
        switch (r.bounded(11)) {
        case 0: case 1: // moves in the tree
            window.tvw()->setFocus();
            press(run, window, any(r, kTreeKeys));
            break;
        case 2: press(run, window, any(r, kCommandKeys)); break;
        case 3: // a menu by its access key, then a letter in it
            press(run, window, QStringLiteral("Alt+") + kMenuKeys.at(r.bounded(int(kMenuKeys.size()))));
            press(run, window, kMenuLetters.at(r.bounded(int(kMenuLetters.size()))));
            break;
        case 4: case 5: { // typing into a text field
            if (const int field = r.bounded(3); field < 2) // else the focus stays where it is
                (field ? window.cboPath()->lineEdit() : static_cast<QWidget *>(window.txtEdit()))->setFocus();
            for (int n = 1 + r.bounded(4); n > 0; --n) {
                const QString piece = any(r, kTyped);
                QWidget *to = target(window);
                run.log << QStringLiteral("type %1 into %2").arg(piece, to->objectName());
                for (const QChar c : piece)
                    c == QLatin1Char('\n') ? QTest::keyClick(to, Qt::Key_Return)
                                           : QTest::sendKeyEvent(QTest::Click, to, Qt::Key_unknown, QString(c), Qt::NoModifier);
            }
            break;
        }
        case 6: { // input-method composition in the value pane
            window.txtEdit()->setFocus();
            const QString word = QStringLiteral("かんじ").left(1 + r.bounded(3));
            QInputMethodEvent preedit(word, {}), end;
            QCoreApplication::sendEvent(window.txtEdit(), &preedit);
            end.setCommitString(r.bounded(2) ? QStringLiteral("漢字") : QString());
            QCoreApplication::sendEvent(window.txtEdit(), &end);
            run.log << QStringLiteral("compose %1, %2").arg(word, end.commitString().isEmpty() ? "cancel" : "commit");
            break;
        }
        case 7: { // the clipboard, then one of its keys
            const int what = r.bounded(4);
            QClipboard *clipboard = QGuiApplication::clipboard();
            if (what < 2) // as an empty X11 clipboard, or none
                what ? clipboard->clear() : clipboard->setMimeData(new QMimeData);
            else
                clipboard->setText(any(r, kTyped) + QStringLiteral("<c/>"));
            run.log << QStringLiteral("clipboard %1").arg(what);
            press(run, window, any(r, kClipboardKeys));
            break;
        }
        case 8: undoAndRedo(run, window); break;
        case 9: { // a click into one of the panes
            QWidget *pane = r.bounded(2) ? window.tvw()->viewport() : window.txtEdit()->viewport();
            const QPoint at(r.bounded(std::max(1, pane->width())), r.bounded(std::max(1, pane->height())));
            run.log << QStringLiteral("click %1 at %2,%3").arg(pane->parent()->objectName()).arg(at.x()).arg(at.y());
            QTest::mouseClick(pane, Qt::LeftButton, {}, at);
            break;
        }
        default: press(run, window, QStringLiteral("Menu")); break; // the focused field's context menu
        }
    }

    // Undo followed by redo gives back what was there, and undo again what
    // the undo gave.
    void undoAndRedo(Run &run, frmMain &window)
    {
        while (QWidget *popup = QApplication::activePopupWidget())
            popup->close();
        const QString before = markup(window);
        const int count = undoCount(window);
        press(run, window, QStringLiteral("Ctrl+Z"));
        if (undoCount(window) >= count || !window.dom())
            return;
        const QString undone = markup(window);
        press(run, window, QStringLiteral("Ctrl+Y"));
        QCOMPARE(markup(window), before);
        press(run, window, QStringLiteral("Ctrl+Z"));
        QCOMPARE(markup(window), undone);
    }

    void finalChecks(Run &run, frmMain &window)
    {
        if (!window.dom())
            return;
        // Redo what can be redone, undo every step and redo them all: back
        // at the newest state.
        while (window.undo().CanRedo())
            window.undo().DoRedo();
        const QString newest = markup(window);
        while (window.undo().CanUndo())
            window.undo().DoUndo();
        while (window.undo().CanRedo())
            window.undo().DoRedo();
        QCOMPARE(markup(window), newest);

        // Saved, it parses (a document without a root element is refused).
        if (window.document().documentElement()) {
            const QString saved = m_files.path(QStringLiteral("final.xml"));
            const bool readOnly = std::exchange(window.flags().m_ReadOnly, false);
            QVERIFY2(window.SaveFile(saved), qPrintable(static_cast<RandomPrompt &>(window.prompt()).asked.join('\n')));
            window.flags().m_ReadOnly = readOnly;
            XmlDocument reread;
            QVERIFY2(reread.load(saved), qPrintable(reread.parseError().reason));
        }

        // Undo All gives back the document as it was opened.
        if (!run.backup.isEmpty()) {
            // The question is answered at random: asked until it is Yes.
            for (int i = 0; i < 20 && window.flags().m_BackupPath == run.backup; ++i) {
                window.flags().m_Dirty = true;
                window.undo().UndoAll();
            }
            QCOMPARE(markup(window), run.loaded);
        }
    }
};

QTEST_MAIN(TestRandomUse)
#include "tst_randomuse.moc"
