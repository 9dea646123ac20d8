#include "ddecommand.h"

#include <QTest>

using Verb = DdeCommand::Verb;

class TestDdeCommand : public QObject
{
    Q_OBJECT

private slots:
    void parse_data();
    void parse();
};

void TestDdeCommand::parse_data()
{
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("verb");
    QTest::addColumn<QString>("argument");

    QTest::newRow("add") << "ADD 1234" << int(Verb::Add) << "1234";
    QTest::newRow("remove") << "REMOVE 1234" << int(Verb::Remove) << "1234";
    QTest::newRow("tile") << "TILE_VERTICAL" << int(Verb::TileVertical) << "";
    // Only the first blank splits; later ones belong to the argument.
    QTest::newRow("tile with argument") << "TILE_VERTICAL a b" << int(Verb::TileVertical) << "a b";
    QTest::newRow("blank after blank") << "ADD  12 " << int(Verb::Add) << " 12 ";
    QTest::newRow("add alone") << "ADD" << int(Verb::Add) << "";
    QTest::newRow("lower case") << "add 1234" << int(Verb::Unknown) << "1234";
    QTest::newRow("leading blank, empty verb") << " ADD 1" << int(Verb::Unknown) << "ADD 1";
    QTest::newRow("tab is no blank") << "ADD\t1" << int(Verb::Unknown) << "";
    QTest::newRow("no-break space is no blank") << QString("ADD\u00a01") << int(Verb::Unknown) << "";
    QTest::newRow("verb prefix") << "ADDX 1" << int(Verb::Unknown) << "1";
    QTest::newRow("empty") << "" << int(Verb::Unknown) << "";
}

void TestDdeCommand::parse()
{
    QFETCH(QString, command);
    QFETCH(int, verb);
    QFETCH(QString, argument);
    const DdeCommand parsed = DdeCommand::parse(command);
    QCOMPARE(int(parsed.verb), verb);
    QCOMPARE(parsed.argument, argument);
}

QTEST_MAIN(TestDdeCommand)
#include "tst_ddecommand.moc"
