#include "TestWindow.h"
#include "document/Selection.h"
#include "editing/NodeFinder.h"
#include "editing/Wildcard.h"
#include "shell/ClipboardSearchCommands.h"

#include <QComboBox>
#include <QLineEdit>
#include <QTest>
#include <QTreeView>

// The wildcard match, Find over the tree's labels and the path box's query.
class TestSearch : public QObject
{
    Q_OBJECT

    struct Window : TestWindow
    {
        explicit Window(const QString &xml) : TestWindow(xml) {}
        // Items marked bold, by their labels.
        QStringList bold()
        {
            QStringList labels;
            for (int i = 1; i <= model().createdCount(); ++i)
                if (model().isBold(model().itemAtPreOrder(i)))
                    labels << model().labelAt(model().itemAtPreOrder(i));
            return labels;
        }
        QStringList history()
        {
            QStringList entries;
            for (int i = 0; i < window.cboPath()->count(); ++i)
                entries << window.cboPath()->itemText(i);
            return entries;
        }
    };

private slots:
    void wildcard_data()
    {
        QTest::addColumn<QString>("text");
        QTest::addColumn<QString>("pattern");
        QTest::addColumn<bool>("matches");
        QTest::newRow("equal") << "item" << "item" << true;
        QTest::newRow("whole text only") << "items" << "item" << false;
        QTest::newRow("case-sensitive") << "Item" << "item" << false;
        QTest::newRow("question mark one character") << "ab" << "a?" << true;
        QTest::newRow("hash a digit") << "a7" << "a#" << true;
        QTest::newRow("list") << "b" << "[abc]" << true;
        QTest::newRow("range") << "q" << "[a-z]" << true;
        QTest::newRow("negated list") << "Q" << "[!a-z]" << true;
        QTest::newRow("bracket for itself") << "[x]" << "[[]x]" << true;
        QTest::newRow("bracket starts a list") << "[x]" << "[x]" << false;
        QTest::newRow("star for itself") << "a*" << "a[*]" << true;
        QTest::newRow("unclosed bracket for itself") << "a[b" << "a[b" << true;
        QTest::newRow("comment shape") << "<!---->" << "<!--*-->" << true;
        QTest::newRow("non-Latin") << "要素1" << "要素#" << true;
        // A backtracking matcher takes years here.
        QTest::newRow("many stars, no match") << QString(5000, QLatin1Char('a')) << "*a*a*a*a*a*a*a*a*a*a*b" << false;
        QTest::newRow("empty pattern") << "" << "" << true;
    }
    void wildcard()
    {
        QFETCH(QString, text);
        QFETCH(QString, pattern);
        QTEST(wildcardMatch(text, pattern), "matches");
    }

    // A user at the shown window: Ctrl+F typed into the input box, F3 and
    // Shift+F3 in the tree.
    void findInTheShownWindow()
    {
        Window w(QStringLiteral("<r><item/><x n=\"item\"><item2/><item/></x><item/></r>"));
        w.model().setShowText(false);
        QVERIFY(w.showWindow());
        QTreeView *tvw = w.window.tvw();
        tvw->setFocus();
        w.window.selection().setSelectedItem(QModelIndex());
        QVERIFY(!w.selected().isValid());

        // From nothing selected the search starts after the document item.
        w.prompt->inputAnswers.enqueue(QStringLiteral("item"));
        QTest::keyClick(tvw, Qt::Key_F, Qt::ControlModifier);
        QCOMPARE(w.prompt->lastAsked(), QStringLiteral("input 検索する文字列を入力してください。"));
        QCOMPARE(w.selected(), w.item({0, 0}));
        // F3 finds the next, Shift+F3 the one before; at either end the
        // selection stays and the status bar says so.
        const auto f3 = [&](Qt::KeyboardModifiers mods, const QModelIndex &found, const QString &status) {
            QTest::keyClick(tvw, Qt::Key_F3, mods);
            QCOMPARE(w.selected(), found);
            QCOMPARE(w.window.statusText(), status);
        };
        f3({}, w.item({0, 1, 2}), QString());
        QVERIFY(tvw->isExpanded(w.item({0, 1})));
        f3({}, w.item({0, 2}), QString());
        f3({}, w.item({0, 2}), QStringLiteral("終わりまで検索しました。"));
        f3(Qt::ShiftModifier, w.item({0, 1, 2}), QString());
        f3(Qt::ShiftModifier, w.item({0, 0}), QString());
        f3(Qt::ShiftModifier, w.item({0, 0}), QStringLiteral("先頭まで検索しました。"));

        // Stars find labels containing the text; the attribute's label is
        // its name while text is not shown.
        w.prompt->inputAnswers.enqueue(QStringLiteral("*item*"));
        w.window.button(QStringLiteral("find"))->trigger();
        QCOMPARE(w.selected(), w.item({0, 1, 1}));
        // Cancel clears the pattern: Shift+F3 does nothing, F3 asks.
        w.window.button(QStringLiteral("find"))->trigger();
        QCOMPARE(w.window.clipboardSearch().finder().findText(), QString());
        const int asked = w.prompt->asked.size();
        QTest::keyClick(tvw, Qt::Key_F3, Qt::ShiftModifier);
        QCOMPARE(w.selected(), w.item({0, 1, 1}));
        QCOMPARE(w.prompt->asked.size(), asked);
        QTest::keyClick(tvw, Qt::Key_F3);
        QCOMPARE(w.prompt->asked.size(), asked + 1);
    }

    // Items are made only on the way to what is found or marked. (The
    // model tester of TestWindow would make them all.)
    void itemsMadeOnlyOnTheWay()
    {
        frmMain window{std::make_unique<ScriptedPrompt>()};
        window.LoadXML(QStringLiteral("<r><x><y/></x><z><item/></z><w><v/></w></r>"));
        DocumentTreeModel &model = window.model();
        const QModelIndex r = model.index(0, 0, model.documentIndex());
        NodeFinder &finder = window.clipboardSearch().finder();
        QVERIFY(finder.FindForward(model.documentIndex(), QStringLiteral("item")));
        QVERIFY(!model.rowsMade(model.index(0, 0, r)));
        window.cboPath()->setEditText(QStringLiteral("//y"));
        finder.RunPathQuery();
        QVERIFY(model.isBold(model.index(0, 0, model.index(0, 0, r))));
        QVERIFY(!model.rowsMade(model.index(2, 0, r)));
    }

    void pathQuery()
    {
        Window w(QStringLiteral("<r><a k=\"1\">t</a><b><c k=\"2\"/></b><a/></r>"));
        w.model().setShowText(false);
        QComboBox *path = w.window.cboPath();
        auto run = [&](const QString &expression) {
            path->setEditText(expression);
            QTest::keyClick(path->lineEdit(), Qt::Key_Return);
        };
        // From a text node the query runs from its element.
        w.select(w.item({0, 0, 1}));
        run(QStringLiteral("@k"));
        QCOMPARE(w.window.statusText(), QStringLiteral("1件検索されました。"));
        QCOMPARE(w.selected(), w.item({0, 0, 0}));
        QCOMPARE(w.bold(), QStringList{QStringLiteral("k")});

        // Items not made yet are made for the results, and shown.
        path->setEditText(QStringLiteral("//@k"));
        w.window.findChild<QAction *>(QStringLiteral("move"))->trigger();
        QCOMPARE(w.window.statusText(), QStringLiteral("2件検索されました。"));
        QCOMPARE(w.bold(), (QStringList{QStringLiteral("k"), QStringLiteral("k")}));
        QVERIFY(w.model().isBold(w.item({0, 1, 0, 0})));
        QVERIFY(w.window.tvw()->isExpanded(w.item({0, 1, 0})));

        // A query with results clears the other marks; one without keeps them.
        run(QStringLiteral("/r/a"));
        QCOMPARE(w.bold(), (QStringList{QStringLiteral("a"), QStringLiteral("a")}));
        QCOMPARE(w.selected(), w.item({0, 0}));
        run(QStringLiteral("//zzz"));
        QCOMPARE(w.window.statusText(), QStringLiteral("見つかりませんでした"));
        QCOMPARE(w.bold().size(), 2);
        run(QStringLiteral("/r/["));
        QCOMPARE(w.window.statusText(), QStringLiteral("Invalid expression"));
        QCOMPARE(w.bold().size(), 2);

        // Successful expressions are kept once each, newest first; choosing
        // one runs it.
        run(QStringLiteral("@k"));
        QCOMPARE(w.history(), (QStringList{QStringLiteral("/r/a"), QStringLiteral("//@k"), QStringLiteral("@k")}));
        path->setCurrentIndex(1);
        emit path->activated(1);
        QCOMPARE(w.window.statusText(), QStringLiteral("2件検索されました。"));
        QCOMPARE(w.history().size(), 3);
        // Typing is not completed to an older, longer expression.
        w.window.show();
        QVERIFY(QTest::qWaitForWindowActive(&w.window));
        path->setFocus();
        path->clearEditText();
        QTest::keyClicks(path, QStringLiteral("//"));
        QCOMPARE(path->currentText(), QStringLiteral("//"));

        // With nothing selected the query runs from the document.
        w.window.tvw()->selectionModel()->clear();
        run(QStringLiteral("r/b"));
        QCOMPARE(w.selected(), w.item({0, 1}));
    }
};

QTEST_MAIN(TestSearch)
#include "tst_search.moc"
