#include "document/DocumentTreeModel.h"
#include "xml/XmlDocument.h"

#include <QAbstractItemModelTester>
#include <QSignalSpy>
#include <QTest>

// The tree model mirrors the document lazily and follows every change.
class TestDocumentTreeModel : public QObject
{
    Q_OBJECT

private:
    struct Fixture
    {
        XmlDocument doc;
        DocumentTreeModel model;
        std::unique_ptr<QAbstractItemModelTester> tester;

        // The model tester walks every row, so lazy behaviour is checked
        // without it.
        explicit Fixture(const QString &xml, bool withTester = true)
        {
            if (!doc.loadXML(xml))
                qFatal("fixture does not parse: %s", qPrintable(doc.parseError().reason));
            model.setDocument(&doc);
            if (withTester)
                tester = std::make_unique<QAbstractItemModelTester>(&model, QAbstractItemModelTester::FailureReportingMode::QtTest);
            model.rebuild();
        }
        QModelIndex at(std::initializer_list<int> rows) const
        {
            QModelIndex i = model.documentIndex();
            for (int r : rows)
                i = model.index(r, 0, i);
            return i;
        }
        // The labels (or image keys) of `parent`'s rows.
        QStringList labels(const QModelIndex &parent, QString (DocumentTreeModel::*of)(const QModelIndex &) const = &DocumentTreeModel::labelAt) const
        {
            QStringList out;
            for (int r = 0; r < model.rowCount(parent); ++r)
                out << (model.*of)(model.index(r, 0, parent));
            return out;
        }
    };

private slots:
    void structureOfALoadedDocument()
    {
        Fixture f(QStringLiteral("<?xml version=\"1.0\"?><!-- c --><root a=\"1\" b=\"2\">text<x/><![CDATA[cd]]><!--\n \n  notice\n  more--></root>"));
        const QModelIndex top = f.model.documentIndex();
        QCOMPARE(std::pair(f.model.labelAt(top), f.model.imageKeyAt(top)), std::pair(QStringLiteral("#document"), QStringLiteral("DOMDocument")));
        QCOMPARE(f.labels(top), (QStringList{"xml", " c ", "root"}));
        QCOMPARE(f.labels(top, &DocumentTreeModel::imageKeyAt), (QStringList{"IXMLDOMProcessingInstruction", "IXMLDOMComment", "IXMLDOMElement"}));
        // Attributes first, in document order, then the children in order;
        // CDATA has the comment's image. A comment laid out below its
        // "<!--" shows its first line that says something.
        QCOMPARE(f.labels(f.at({2})), (QStringList{"a=\"1\"", "b=\"2\"", "text", "x", "cd", "notice"}));
        QCOMPARE(f.labels(f.at({2}), &DocumentTreeModel::imageKeyAt),
                 (QStringList{"IXMLDOMAttribute", "IXMLDOMAttribute", "IXMLDOMText", "IXMLDOMElement", "IXMLDOMComment", "IXMLDOMComment"}));
        QCOMPARE(f.model.fullPath(f.at({2, 3})), QStringLiteral("#document/root/x"));

        f.model.setShowText(false);
        QCOMPARE(f.labels(f.at({2})), (QStringList{"a", "b", "#text", "x", "#cdata-section", "#comment"}));
        QCOMPARE(f.labels(f.model.documentIndex()), (QStringList{"xml", "#comment", "root"}));

        // A document type and entity references share the comment's image.
        Fixture g(QStringLiteral("<!DOCTYPE r [<!ENTITY e \"v\">]><r>&e;</r>"));
        QCOMPARE(g.labels(g.model.documentIndex()), (QStringList{"r", "r"}));
        QCOMPARE(g.labels(g.model.documentIndex(), &DocumentTreeModel::imageKeyAt), (QStringList{"IXMLDOMComment", "IXMLDOMElement"}));
        QCOMPARE(g.model.imageKeyAt(g.at({1, 0})), QStringLiteral("IXMLDOMComment"));
    }

    void keysAreGivenWhenFirstAskedAndNeverReused()
    {
        Fixture f(QStringLiteral("<r><a/><b/></r>"), false);
        const int first = f.model.keyAt(f.model.documentIndex()).mid(4).toInt();
        QCOMPARE(f.model.keyAt(f.at({0, 1})) + f.model.keyAt(f.at({0})) + f.model.keyAt(f.at({0, 1})),
                 QStringLiteral("Node%1Node%2Node%1").arg(first + 1).arg(first + 2));
        QCOMPARE(f.model.indexForKey(QStringLiteral("Node%1").arg(first + 1)), f.at({0, 1}));
        QVERIFY(!f.model.indexForKey(QStringLiteral("Node0%1").arg(first + 1)).isValid());

        // A rebuild gives new keys; old ones lead nowhere.
        const QString oldKey = f.model.keyAt(f.at({0, 1}));
        f.model.rebuild();
        QVERIFY(!f.model.indexForKey(oldKey).isValid());
        QCOMPARE(f.model.keyAt(f.model.documentIndex()), QStringLiteral("Node%1").arg(first + 3));

        // A wide element: rows walked one after another agree with rows
        // counted, and a row's number is found from its node.
        QVERIFY(f.doc.loadXML(QStringLiteral("<r>") + QStringLiteral("<i/>").repeated(100000) + QStringLiteral("</r>")));
        f.model.rebuild();
        QCOMPARE(f.model.rowCount(f.at({0})), 100000);
        QCOMPARE(f.model.parent(f.at({0, 99999})), f.at({0}));
        QCOMPARE(f.model.indexForNode(f.doc.documentElement().lastChild()), f.at({0, 99999}));
        int walked = 0;
        for (QModelIndex i = f.model.firstRowIndex(f.at({0})); i.isValid(); i = f.model.nextRowIndex(i), ++walked)
            if (i.row() != walked || i.parent() != f.at({0}))
                QFAIL(qPrintable(QStringLiteral("row %1").arg(walked)));
        QCOMPARE(walked, 100000);
    }

    void followsInsertionsRemovalsAndChanges()
    {
        Fixture f(QStringLiteral("<r a=\"1\"><x/><y/></r>"));
        const QModelIndex root = f.at({0});
        QCOMPARE(f.model.rowCount(root), 3);
        const XmlNode r = f.doc.documentElement();
        // Persistent indexes, as a view keeps for its open items, follow
        // each change: those of later rows move, those of removed ones end,
        // even when made while a view answers the change.
        QList<std::pair<QPersistentModelIndex, XmlNode>> held;
        const auto hold = [&](const QModelIndex &i) { held.append({i, f.model.nodeAt(i)}); };
        for (const QModelIndex &i : {f.at({0}), f.at({0, 0}), f.at({0, 1}), f.at({0, 2})})
            hold(i);
        connect(&f.model, &QAbstractItemModel::rowsAboutToBeRemoved, this, [&](const QModelIndex &parent, int, int last) {
            if (last + 1 < f.model.rowCount(parent))
                hold(f.model.index(last + 1, 0, parent));
        });
        const auto heldFollow = [&](int valid) {
            for (const auto &[index, node] : held) {
                // Removed, or moved: a move removes first.
                if (!(index.isValid() ? index == f.model.indexForNode(node) : !node.isAttached() || node == r.lastChild()))
                    return false;
                valid -= index.isValid();
            }
            return valid == 0;
        };

        // A new child goes to its document position; a new attribute after
        // the other attributes and before the children.
        QVERIFY(f.doc.insertBefore(r, f.doc.createElement(QStringLiteral("m")), r.child(1)));
        QVERIFY(f.doc.setAttribute(r, QStringLiteral("b"), QStringLiteral("2")));
        QCOMPARE(f.labels(root), (QStringList{"a=\"1\"", "b=\"2\"", "x", "m", "y"}));
        QVERIFY(heldFollow(4));

        // Labels are computed when shown, so value changes show at once.
        QSignalSpy changed(&f.model, &QAbstractItemModel::dataChanged);
        QVERIFY(f.doc.setText(r.attributeNode(QStringLiteral("a")), QStringLiteral("one")) && changed.count() == 1);
        QCOMPARE(f.model.labelAt(f.at({0, 0})), QStringLiteral("a=\"one\""));
        QVERIFY(f.doc.rename(r.child(0), QStringLiteral("x2")));
        QCOMPARE(f.model.labelAt(f.at({0, 2})), QStringLiteral("x2"));

        // Moving and removing.
        QVERIFY(f.doc.appendChild(r, r.child(0)));
        QCOMPARE(f.labels(root), (QStringList{"a=\"one\"", "b=\"2\"", "m", "y", "x2"}));
        QVERIFY(f.doc.removeNode(r.attributeNode(QStringLiteral("b"))) && f.doc.removeNode(r.child(1)));
        QCOMPARE(f.labels(root), (QStringList{"a=\"one\"", "m", "x2"}));
        QVERIFY(heldFollow(5));
    }

    void firstChildOfAnUnexpandedItemIsAnnounced()
    {
        Fixture f(QStringLiteral("<r><leaf/></r>"));
        const QModelIndex leaf = f.at({0, 0});
        QVERIFY(!f.model.hasChildren(leaf));
        QSignalSpy inserted(&f.model, &QAbstractItemModel::rowsInserted);
        QVERIFY(f.doc.appendChild(f.model.nodeAt(leaf), f.doc.createTextNode(QStringLiteral("t"))));
        QVERIFY(inserted.count() == 1 && f.model.hasChildren(leaf) && f.model.rowCount(leaf) == 1);
    }

    void aLoadEmptiesTheModelAndBoldMarks()
    {
        Fixture f(QStringLiteral("<r><a/></r>"));
        f.model.rowCount(f.at({0}));
        f.model.setBold(f.at({0}), true);
        QVERIFY(f.model.data(f.at({0}), Qt::FontRole).value<QFont>().bold());
        QVERIFY(f.doc.loadXML(QStringLiteral("<other/>")) && f.model.rowCount() == 0);
        f.model.rebuild();
        QCOMPARE(f.model.labelAt(f.at({0})), QStringLiteral("other"));
        QVERIFY(!f.model.data(f.at({0}), Qt::FontRole).isValid());
        f.model.setBold(f.at({0}), true);
        f.model.setBold(f.at({0}), false);
        QVERIFY(!f.model.data(f.at({0}), Qt::FontRole).isValid());
    }
};

QTEST_MAIN(TestDocumentTreeModel)
#include "tst_documenttreemodel.moc"
