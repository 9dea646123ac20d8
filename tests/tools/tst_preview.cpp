#include "TestFiles.h"
#include "TestTables.h"
#include "TestWindow.h"
#include "base/StringTable.h"
#include "document/DocumentLifecycle.h"
#include "xml/XsltTransform.h"
#include "editing/NodeEditor.h"
#include "shell/StructureCommands.h"
#include "tools/PreviewController.h"
#include "tools/PreviewHtml.h"
#include "tools/PreviewPane.h"
#include "tools/SourceViewer.h"
#include "tools/TransformJob.h"
#include "tools/TreePrinter.h"

#include <QClipboard>
#include <QDirIterator>
#include <QProcess>
#include <QSignalSpy>
#include <QSplitter>
#include <QTextBlock>
#include <QStandardPaths>
#include <QTcpServer>
#include <QUdpSocket>
#include <QWebEngineView>

#include <sys/stat.h>
#include <unistd.h>

// The preview: the built-in source view, the way back from its ids to the
// nodes, user style sheets, and printing of the preview and the tree.
class TestPreview : public QObject
{
    Q_OBJECT

    TestFiles m_files;

    static QString view(const QString &xml, int budget = 20000)
    {
        const auto doc = XmlDocument::parse(xml);
        return doc ? SourceView{QStringLiteral("Noto Sans CJK JP"), 9, budget}.html(doc->documentNode()) : QString();
    }
    static QString xslt(const QByteArray &body)
    {
        return QStringLiteral("<x:stylesheet version='1.0' xmlns:x='http://www.w3.org/1999/XSL/Transform' xmlns:e='http://exslt.org/common' "
                              "extension-element-prefixes='e'>%1</x:stylesheet>").arg(QString::fromUtf8(body));
    }
    static constexpr const char *kHtmlPage = "<x:output method='html'/><x:template match='/'><html><body>"
                                             "<p style='font-size:40pt'>page</p></body></html></x:template>";
    // The style-sheet workers this process runs.
    static QStringList workers()
    {
        QStringList found;
        for (QDirIterator it(QStringLiteral("/proc")); it.hasNext();) {
            const QByteArray stat = TestFiles::read(it.next() + QStringLiteral("/stat"));
            // Killed ones are reaped a moment later, from the event loop.
            const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
            if (stat.contains("(OstrelXslt)") && fields.value(1).toLong() == long(::getpid()) && fields.value(0) != "Z")
                found << it.fileName();
        }
        return found;
    }
    // Two calls per level, forty levels deep: endless, in little memory.
    static QByteArray endlessBody()
    {
        return "<x:template match='/'><x:call-template name='t'/></x:template><x:template name='t'>"
               "<x:param name='d' select='0'/><x:if test='$d &lt; 40'><x:call-template name='t'><x:with-param name='d'"
               " select='$d + 1'/></x:call-template><x:call-template name='t'><x:with-param name='d' select='$d + 1'/>"
               "</x:call-template></x:if></x:template>";
    }
    // What a poppler tool prints about a PDF file.
    static QString pdfInfo(const char *tool, const QStringList &arguments)
    {
        QProcess p;
        p.start(QString::fromLatin1(tool), arguments);
        p.waitForFinished(30000);
        return QString::fromUtf8(p.readAllStandardOutput());
    }

private slots:
    void sourceView_data()
    {
        QTest::addColumn<QString>("xml");
        QTest::addColumn<QStringList>("expected");
        QTest::newRow("declaration, root id, font") << "<?xml version=\"1.0\" encoding=\"UTF-8\"?><r/>"
            << QStringList{"<span class=\"pi\">xml</span> <span class=\"t\">version</span>", "id=\"1.2\">r</span>", "font: 9pt 'Noto Sans CJK JP'"};
        QTest::newRow("element children: toggle, ids on both names") << "<r><a/><b>t</b></r>"
            << QStringList{"<div class=\"c\"><a class=\"b\" href=\"#\">-</a>", "id=\"1.1\">r</span>", "id=\"1.1.1\">a</span>",
                           "id=\"1.1.2\">b</span><span class=\"m\">&gt;</span><span class=\"tx\">t</span>"};
        QTest::newRow("other content: no id") << "<r>t<!--c--></r>" << QStringList{"<span class=\"t\">r</span>"};
        QTest::newRow("namespaces and datatypes") << "<r xmlns=\"u\" xmlns:p=\"v\" xml:lang=\"ja\" xmlns:d=\"urn:schemas-microsoft-com:datatypes\" d:dt=\"int\"/>"
            << QStringList{"<span class=\"ns\">xmlns</span>", "<span class=\"ns\">xmlns:p</span>", "<span class=\"ns\">xml:lang</span>", "<span class=\"dt\">d:dt</span>"};
        QTest::newRow("style sheet names") << "<x:stylesheet xmlns:x=\"http://www.w3.org/1999/XSL/Transform\" version=\"1.0\"/>"
            << QStringList{"<span class=\"xt\" id=\"1.1\">x:stylesheet</span>", "<span class=\"xt\">version</span>"};
        QTest::newRow("comments and CDATA, with and without line breaks") << "<r><!--a--><!--b\nc--><![CDATA[d]]><x/><![CDATA[e\nf]]></r>"
            << QStringList{"<pre class=\"ci\">a</pre>", "<pre class=\"cb\">b\nc</pre>", "<pre class=\"di\">d</pre>", "<pre class=\"db\">e\nf</pre>"};
        QTest::newRow("entity text") << "<!DOCTYPE r [<!ENTITY co \"株式会社\">]><r><a>&co;様</a><b/>&co;</r>"
            << QStringList{"<span class=\"tx\">株式会社様</span>", "<div class=\"e\"><span class=\"tx\">株式会社</span></div>"};
        QTest::newRow("document type and escaping") << "<!DOCTYPE r><r a=\"&lt;&amp;\">&lt;x&gt;<?p d?></r>"
            << QStringList{"&lt;!DOCTYPE r<i> (View Source for full doctype...)</i>&gt;", "<span class=\"tx\">&lt;&amp;</span>", "<span class=\"tx\">&lt;x&gt;</span>",
                           "<span class=\"pi\">p d</span>"};
    }
    void sourceView()
    {
        QFETCH(QString, xml);
        QFETCH(QStringList, expected);
        const QString html = view(xml);
        for (const QString &piece : expected)
            QVERIFY2(html.contains(piece), qPrintable(piece + QLatin1String("\nin\n") + html.mid(html.indexOf(QLatin1String("<body")))));
    }

    void largeDocumentsAreShownInPart()
    {
        // (The text beside its element counts as it is shown: with it; an
        // element with other children is a line, and so is each of them.)
        const QString html = view(QStringLiteral("<r>") + QStringLiteral("<c>t</c>").repeated(50)
                                      + QStringLiteral("<d><e/>u<!--v--></d></r>"),
                                  10);
        QVERIFY(html.contains(QStringLiteral("id=\"1.1.9\"")) && !html.contains(QStringLiteral("id=\"1.1.10\"")));
        QVERIFY(html.contains(QStringLiteral("45 個のノード")) && html.contains(QStringLiteral("Ctrl+F5")));
        // Long values show their start, and the view takes no more nodes
        // past a million characters.
        const QString values = view(QStringLiteral("<r>") + QStringLiteral("<c>%1</c>").arg(QString(20000, QLatin1Char('x'))).repeated(150)
                                    + QStringLiteral("</r>"));
        QVERIFY(values.contains(QStringLiteral("x …（ほかに 10000 文字）")) && values.contains(QStringLiteral("ここから後の 50 個のノード")));
    }

    void idsLeadBackToTheirNodes()
    {
        const auto doc = XmlDocument::parse(QStringLiteral("<?xml version=\"1.0\"?><r><a/>t<b><c/></b></r>"));
        const XmlNode r = doc->documentElement();
        QVERIFY(nodeForSourceViewId(*doc, QStringLiteral("1.2")) == r && nodeForSourceViewId(*doc, QStringLiteral("1.2.3.1")) == r.child(2).firstChild());
        for (const char *bad : {"", "1", "1.2.x", "1.2.9", "1.2.0", "1.2.1.1"})
            QVERIFY2(!nodeForSourceViewId(*doc, QString::fromLatin1(bad)), bad);
    }

    void userStyleSheets_data()
    {
        // expected: in the output, or in the error
        addColumns<QByteArray, bool, QString, QString>({"body", "ok", "expected", "xml"});
        const QString doc = QStringLiteral("<r>日本</r>");
        QTest::newRow("HTML") << QByteArray("<x:output method='html'/><x:template match='/'><HTML><body><x:value-of select='r'/></body></HTML></x:template>")
                              << true << "<body>日本</body>" << doc;
        QTest::newRow("XML") << QByteArray("<x:template match='/'><out n='{count(//*)}'/></x:template>") << true << "<out n=\"1\"/>" << doc;
        QTest::newRow("EXSLT") << QByteArray("<x:template match='/' xmlns:str='http://exslt.org/strings'><o><x:value-of select=\"str:padding(3, '-')\"/></o></x:template>")
                               << true << "---</o>" << doc;
        QTest::newRow("error with its line") << QByteArray("<x:template match='/'>\n<x:value-of select='((('/></x:template>") << false << "line 2" << doc;
        QTest::newRow("writing a file") << QByteArray("<x:template match='/'><e:document href='written.txt'>x</e:document></x:template>") << false
                                        << "書き込みは許可されていません" << doc;
        QTest::newRow("reading a URL") << QByteArray("<x:template match='/'><x:copy-of select=\"document('http://127.0.0.1:9/x.xml')\"/></x:template>")
                                       << false << "ネットワーク" << doc;
        QTest::newRow("reading a FIFO") << QByteArray("<x:template match='/'><x:copy-of select=\"document('fifo')\"/></x:template>") << false
                                        << "通常のファイルではありません" << doc;
        QTest::newRow("reading /proc") << QByteArray("<x:template match='/'><x:copy-of select=\"document('/proc/self/environ')\"/></x:template>")
                                       << false << "通常のファイルではありません" << doc;
        QTest::newRow("including /proc") << QByteArray("<x:include href='/proc/self/environ'/>") << false << "通常のファイルではありません" << doc;
        const QByteArray text("<x:template match='/'><o><x:value-of select='r'/></o></x:template>");
        QTest::newRow("internal entity substituted") << text << true << "<o>株式会社様</o>" << "<!DOCTYPE r [<!ENTITY co '株式会社'>]><r>&co;様</r>";
        QTest::newRow("external entity never loaded") << text << true << "<o/>"
                                                      << "<!DOCTYPE r [<!ENTITY x SYSTEM '" + m_files.write(QStringLiteral("secret.txt"), "secret") + "'>]><r>&x;</r>";
    }
    void userStyleSheets()
    {
        QFETCH(QByteArray, body);
        QFETCH(QString, expected);
        QFETCH(QString, xml);
        ::mkfifo(QFile::encodeName(m_files.path(QStringLiteral("fifo"))).constData(), 0600);
        const TransformResult result = transformWithStyleSheet(xml.toUtf8(), m_files.write(QStringLiteral("s.xsl"), xslt(body).toUtf8()));
        QVERIFY2(QString::fromUtf8(result.output + result.error.toUtf8()).contains(expected), qPrintable(result.error + QString::fromUtf8(result.output)));
        QTEST(result.ok, "ok");
        QVERIFY(!QFile::exists(m_files.path(QStringLiteral("written.txt"))));
    }

    // Asked to stop past a size, a transform ends once its output is longer
    // and hands what it made: the first bytes of the whole output.
    void stopsOnceTheOutputSuffices_data()
    {
        QTest::addColumn<QByteArray>("body");
        QTest::newRow("html, templates") << QByteArray("<x:output method='html'/><x:template match='/'><html><body><x:apply-templates/></body></html></x:template>"
                                                       "<x:template match='i'><p title='{@n}'><x:value-of select='.'/></p></x:template>");
        // Fragments built for variables are not the output.
        QTest::newRow("xml, variables") << QByteArray("<x:variable name='head'><h>見出し</h></x:variable><x:template match='/'><o><x:for-each select='//i'>"
                                                      "<x:variable name='v'><w><x:value-of select='@n'/></w></x:variable>"
                                                      "<x:copy-of select='$head'/><x:copy-of select='$v'/></x:for-each></o></x:template>");
    }
    void stopsOnceTheOutputSuffices()
    {
        QFETCH(QByteArray, body);
        QByteArray xml = "<r>";
        for (int n = 0; n < 20000; ++n)
            xml += "<i n='" + QByteArray::number(n) + "'>項目 " + QByteArray::number(n) + "</i>";
        const QString sheet = m_files.write(QStringLiteral("stop.xsl"), xslt(body).toUtf8());
        const TransformResult whole = transformWithStyleSheet(xml + "</r>", sheet);
        const TransformResult cut = transformWithStyleSheet(xml + "</r>", sheet, 64 * 1024);
        QVERIFY2(whole.ok && !whole.truncated && whole.output.size() > 256 * 1024, qPrintable(whole.error));
        QVERIFY(cut.ok && cut.truncated && cut.output.size() > 64 * 1024 && cut.output.size() < whole.output.size());
        QCOMPARE(cut.output.left(64 * 1024), whole.output.left(64 * 1024));
        QCOMPARE(cut.method, whole.method);
    }

    // Attributes first; the marks of a child that has later siblings go on
    // down beside its own children. (Its icons are the tree's.)
    void treeOutline()
    {
        const auto doc = XmlDocument::parse(QStringLiteral("<r x=\"1\"><a><b/></a><![CDATA[d]]><c/></r>"));
        QStringList printed;
        for (const OutlineLine &line : ::treeOutline(*doc, true))
            printed << line.text();
        QCOMPARE(printed, (QStringList{"#document", " +-r", "    |-x=\"1\"", "    |-a", "    |  +-b", "    |-d", "    +-c"}));
    }

    void printsTheTreeAndThePreviewToPdf()
    {
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext (poppler-utils) is not installed");
        QString xml = QStringLiteral("<r>");
        for (int i = 0; i < 120; ++i) // more lines than one page holds
            xml += QStringLiteral("<item n=\"%1\"/>").arg(i);
        TestWindow w(xml + QStringLiteral("</r>"));
        QVERIFY(w.showWindow());
        w.prompt->printAnswer = m_files.path(QStringLiteral("tree.pdf"));
        w.window.menuItem(QStringLiteral("mnuFilePrintTree"))->trigger();
        const QString tree = pdfInfo("pdftotext", {QStringLiteral("-layout"), w.prompt->printAnswer, QStringLiteral("-")});
        // (the icon stands between the mark and the label)
        QVERIFY2(tree.contains(QRegularExpression(QStringLiteral("\\+- +r\\s*\\n"))) && tree.contains(QRegularExpression(QStringLiteral("\\|- +item")))
                     && tree.contains(QRegularExpression(QStringLiteral("\\+- +item\\s*\\n +\\+- +n=\"119\""))),
                 qPrintable(tree.right(300)));
        QVERIFY(tree.count(QLatin1Char('\f')) >= 2); // several pages

        // The built-in view prints as text (a key, the menu never opened).
        w.prompt->printAnswer = m_files.path(QStringLiteral("preview.pdf"));
        QSignalSpy printed(&w.window.preview(), &PreviewController::printed);
        QTest::keyClick(&w.window, Qt::Key_P, Qt::ControlModifier);
        QTRY_COMPARE_WITH_TIMEOUT(printed.size(), 1, 30000);
        const QString preview = pdfInfo("pdftotext", {w.prompt->printAnswer, QStringLiteral("-")});
        QVERIFY2(printed.at(0).at(0).toBool() && preview.contains(QStringLiteral("<item n=\"119\" />")) && preview.count(QLatin1Char('\f')) >= 2,
                 qPrintable(preview.right(300)));
        // A style sheet's page is printed by the engine once it has loaded,
        // as pictures of 300 dpi at most.
        w.window.preview().useStyleSheet(m_files.write(QStringLiteral("page.xsl"), xslt(kHtmlPage).toUtf8()));
        w.prompt->printAnswer = m_files.path(QStringLiteral("page.pdf"));
        w.window.menuItem(QStringLiteral("mnuFilePrint"))->trigger();
        QTRY_COMPARE_WITH_TIMEOUT(printed.size(), 2, 30000);
        QVERIFY(printed.at(1).at(0).toBool() && QFileInfo(w.prompt->printAnswer).size() > 10000);
        // (its rows: page num type width height color comp bpc enc interp object ID x-ppi y-ppi ...)
        const QString row = pdfInfo("pdfimages", {QStringLiteral("-list"), w.prompt->printAnswer}).section(QLatin1Char('\n'), 2, 2).simplified();
        QVERIFY2(row.section(QLatin1Char(' '), 12, 12).toInt() == 300, qPrintable(row));
        {
            // A window closed while it prints leaves the job to end on its own.
            TestWindow closing(QStringLiteral("<r/>"));
            closing.window.show();
            closing.window.preview().useStyleSheet(m_files.write(QStringLiteral("page.xsl"), xslt(kHtmlPage).toUtf8()));
            closing.prompt->printAnswer = m_files.path(QStringLiteral("closed.pdf"));
            closing.window.menuItem(QStringLiteral("mnuFilePrint"))->trigger();
            QTRY_VERIFY_WITH_TIMEOUT(closing.window.ie()->view() && closing.window.ie()->isLoaded(), 30000);
        }
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(m_files.path(QStringLiteral("closed.pdf"))).size() > 0, 30000);
        QVERIFY(w.prompt->shown.isEmpty());
    }

    // A print waits for the preview it was asked with: stopped with Esc,
    // it never prints when a later preview is shown.
    void abandonedPrintsNeverPrint()
    {
        TestWindow w(QStringLiteral("<r/>"));
        QVERIFY(w.showWindow());
        PreviewController &preview = w.window.preview();
        preview.useStyleSheet(m_files.write(QStringLiteral("endless.xsl"), xslt(endlessBody()).toUtf8()));
        w.prompt->printAnswer = m_files.path(QStringLiteral("abandoned.pdf"));
        w.window.menuItem(QStringLiteral("mnuFilePrint"))->trigger();
        QVERIFY(preview.isTransforming());
        QTest::keyClick(&w.window, Qt::Key_Escape);
        QVERIFY(!preview.isTransforming());
        QSignalSpy printed(&preview, &PreviewController::printed);
        w.prompt->fileAnswers.enqueue({QString()}); // back to the built-in view
        w.window.menuItem(QStringLiteral("mnuToolSelXSL"))->trigger();
        w.prompt->printAnswer = m_files.path(QStringLiteral("later.pdf"));
        w.window.menuItem(QStringLiteral("mnuFilePrint"))->trigger();
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo(w.prompt->printAnswer).size() > 0 && printed.size() == 1, 30000);
        QVERIFY(!QFile::exists(m_files.path(QStringLiteral("abandoned.pdf"))));
    }

    void chosenStyleSheets()
    {
        TestWindow w(QStringLiteral("<r>t</r>"));
        PreviewController &preview = w.window.preview();
        auto shown = [&] { return QString::fromUtf8(TestFiles::read(preview.previewFile())); };
        auto choose = [&](const char *name, const QByteArray &body) {
            w.prompt->fileAnswers.enqueue({m_files.write(QString::fromLatin1(name), xslt(body).toUtf8())});
            w.window.menuItem(QStringLiteral("mnuToolSelXSL"))->trigger();
        };
        choose("out.xsl", "<x:template match='/'><out><x:value-of select='r'/></out></x:template>");
        QTRY_VERIFY(preview.previewFile().endsWith(QLatin1String("preview.xml")) && shown().contains(QStringLiteral("<out>t</out>")));
        // The declared output method decides; without one, an html root does.
        for (const auto &[body, file] : {std::pair("<x:output method='html'/><x:template match='/'><p/></x:template>", "preview.htm"),
                                         {"<x:output method='text'/><x:template match='/'>&lt;p/></x:template>", "preview.txt"},
                                         {"<x:template match='/'><HTML/></x:template>", "preview.htm"}}) {
            choose("m.xsl", body);
            QTRY_VERIFY2(preview.previewFile().endsWith(QLatin1String(file)), file);
        }

        // Several files: an include beside it, an import and a document()
        // from a parent folder, all read where they lie, so an edit counts
        // at the next F5.
        for (const char *folder : {"sub", "common"})
            QDir(m_files.dir.path()).mkpath(QString::fromLatin1(folder));
        m_files.write(QStringLiteral("common/base.xsl"), xslt("<x:template name='base'>B</x:template>").toUtf8());
        auto part = [&](const char *text) {
            m_files.write(QStringLiteral("sub/part.xsl"), xslt(QByteArray("<x:template name='part'>") + text
                                                               + "<x:value-of select=\"count(document('../common/base.xsl')//x:template)\"/></x:template>").toUtf8());
        };
        part("P");
        choose("sub/main.xsl", "<x:import href='../common/base.xsl'/><x:include href='part.xsl'/><x:template match='/'><o>"
                               "<x:call-template name='part'/><x:call-template name='base'/></o></x:template>");
        QTRY_VERIFY(shown().contains(QStringLiteral("<o>P1B</o>")));
        part("Q");
        w.window.menuItem(QStringLiteral("mnuToolPreview"))->trigger();
        QTRY_VERIFY(shown().contains(QStringLiteral("<o>Q1B</o>")));

        // A style sheet that fails: the reason, and the pane keeps its page.
        choose("bad.xsl", "<x:template match='/'><x:value-of select='((('/></x:template>");
        QTRY_COMPARE(w.prompt->shown.size(), 1);
        QVERIFY(w.prompt->shown.last().text.startsWith(GetResString(13) + QLatin1Char('\n')) && shown().contains(QStringLiteral("<o>Q1B</o>")));
        // Cancelling the choice returns to the built-in view.
        w.window.menuItem(QStringLiteral("mnuToolSelXSL"))->trigger();
        QVERIFY(preview.xslFile().isEmpty() && shown().contains(QStringLiteral("class=\"st\"")));
        // A rename shows at once, as other structural changes do.
        w.window.menuItem(QStringLiteral("mnuToolPreviewSync"))->setChecked(true);
        QVERIFY(w.window.structure().editor().tvw_AfterLabelEdit(w.item({0}), QStringLiteral("renamed")));
        QTRY_VERIFY(shown().contains(QStringLiteral(">renamed</span>")));

        // An output past the limit: the worker is stopped, and its start is
        // shown with a note of the limit.
        TransformJob::limits().outputBytes = 1024 * 1024;
        choose("big.xsl", "<x:output method='text'/><x:template match='/'><x:call-template name='t'/></x:template><x:template name='t'>"
                          "<x:param name='s' select='\"line&#10;\"'/><x:param name='n' select='0'/><x:choose><x:when test='$n = 21'>"
                          "<x:value-of select='$s'/></x:when><x:otherwise><x:call-template name='t'><x:with-param name='s' "
                          "select='concat($s, $s)'/><x:with-param name='n' select='$n + 1'/></x:call-template></x:otherwise></x:choose></x:template>");
        QTRY_VERIFY(shown().endsWith(QStringLiteral("最初の 1 MB だけを表示しています。\n")));
        TransformJob::limits() = {};
        QVERIFY(QFileInfo(preview.previewFile()).size() < 1024 * 1024 + 200 && shown().contains(QStringLiteral("line\nline")));
        QVERIFY(workers().isEmpty() && w.prompt->shown.size() == 1);
    }

    // The style sheet reads the tree the window shows, as edited (moves
    // included), without the node standing for the XML declaration. A
    // document with entities is read from a copy with them substituted,
    // its blanks dropped as in the tree.
    void styleSheetsReadTheTreeAsEdited()
    {
        const QByteArray body = "<x:template match='/'><o><x:value-of select='count(/processing-instruction())'/>:"
                                "<x:for-each select='//d[1] | //c[1] | //b[1] | //a[1]'><x:value-of select='@n'/></x:for-each>"
                                "<x:copy-of select='r/node()'/></o></x:template>";
        const QString styleSheet = m_files.write(QStringLiteral("order.xsl"), xslt(body).toUtf8());
        TestWindow w(QStringLiteral("<?xml version=\"1.0\"?><r><a n=\"1\"/><b n=\"2\"><c n=\"3\"/></b><d n=\"4\"/></r>"));
        PreviewController &preview = w.window.preview();
        auto shown = [&] { return QString::fromUtf8(TestFiles::read(preview.previewFile())); };
        preview.useStyleSheet(styleSheet);
        QTRY_VERIFY(shown().contains(QStringLiteral("<o>0:1234<a n=\"1\"/>")));
        XmlDocument &doc = *w.window.dom();
        QList<XmlNode> found;
        QVERIFY(doc.selectNodes(QStringLiteral("/r/d"), XmlNode(), &found) && found.size() == 1);
        QVERIFY(doc.insertBefore(doc.documentElement(), found[0], doc.documentElement().firstChild()));
        w.window.menuItem(QStringLiteral("mnuToolPreview"))->trigger();
        QTRY_VERIFY(shown().contains(QStringLiteral("<o>0:4123<d n=\"4\"/>")));
        QCOMPARE(doc.documentNode().firstChild().nodeName(), "xml");

        // Opened from a file, whose own bytes (blanks too) reach the worker.
        TestWindow entities;
        QVERIFY(entities.window.OpenFile(m_files.write(QStringLiteral("entities.xml"), "<!DOCTYPE r [<!ENTITY e \"hello\">]><r><k/>\n  <k/>&e;</r>")));
        entities.window.preview().useStyleSheet(styleSheet);
        QTRY_VERIFY(QString::fromUtf8(TestFiles::read(entities.window.preview().previewFile())).contains(QStringLiteral("<o>0:<k/><k/>hello</o>")));
    }

    void docBookStyleSheets()
    {
        const QString docbook = QStringLiteral("/usr/share/xml/docbook/stylesheet/docbook-xsl/html/docbook.xsl");
        if (!QFile::exists(docbook))
            QSKIP("docbook-xsl is not installed");
        const TransformResult result = transformWithStyleSheet("<article><title>記事</title><para>本文</para></article>", docbook);
        QVERIFY2(result.ok && result.method == QLatin1String("html") && result.output.contains("本文"), qPrintable(result.error));
    }

    // Pages that try every way out with the document's text, then loop on
    // alerts; listeners on 127.0.0.1 stand for the network.
    void hostilePagesReachNoListener_data()
    {
        QTest::addColumn<QString>("styleSheet");
        QTest::newRow("built-in view") << QString();
        QTest::newRow("document through an identity style sheet") << "identity.xsl";
        QTest::newRow("style sheet's own page") << "script.xsl";
    }
    void hostilePagesReachNoListener()
    {
        QFETCH(QString, styleSheet);
        QTcpServer tcp;
        QUdpSocket udp;
        QVERIFY(tcp.listen(QHostAddress::LocalHost) && udp.bind(QHostAddress::LocalHost));
        TestWindow w(QString::fromUtf8(TestFiles::read(QStringLiteral(OSTREL_TEST_DATA "/preview/leak.xhtml")))
                         .replace(QLatin1String("@TCP@"), QString::number(tcp.serverPort()))
                         .replace(QLatin1String("@UDP@"), QString::number(udp.localPort())));
        QVERIFY(w.showWindow());
        w.prompt->fileAnswers.enqueue({styleSheet.isEmpty() ? QString() : QStringLiteral(OSTREL_TEST_DATA "/preview/") + styleSheet});
        w.window.menuItem(QStringLiteral("mnuToolSelXSL"))->trigger();
        PreviewPane *pane = w.window.ie();
        QTRY_VERIFY_WITH_TIMEOUT(pane->isLoaded() && pane->url().toLocalFile() == w.window.preview().previewFile(), 30000);
        QVERIFY(TestFiles::read(w.window.preview().previewFile()).contains("RTCPeerConnection"));
        QTest::qWait(2000); // the page's tries take milliseconds; its alerts start later
        QVERIFY2(!tcp.hasPendingConnections() && !udp.hasPendingDatagrams(), "the page reached a listener");
        QVERIFY(!QApplication::activeModalWidget() && w.prompt->shown.isEmpty());
    }

    // A style sheet that never ends, or eats memory, runs in a worker that
    // Esc, a newer preview, closing the window and the limits end.
    void runawayStyleSheetsAreStopped_data()
    {
        // stop: a key; 0: a limit; -1: closing the window
        addColumns<QByteArray, int, QString>({"body", "stop", "message"});
        const QByteArray endless = endlessBody();
        QTest::newRow("Esc") << endless << int(Qt::Key_Escape) << QString();
        QTest::newRow("a newer preview") << endless << int(Qt::Key_F5) << QString();
        QTest::newRow("closing the window") << endless << -1 << QString();
        QTest::newRow("time limit") << endless << 0 << "1 秒で終わらないため中止しました";
        QTest::newRow("memory limit") << QByteArray("<x:template match='/'><x:call-template name='t'/></x:template><x:template name='t'>"
                                                    "<x:param name='s' select='\"ab\"'/><x:call-template name='t'><x:with-param "
                                                    "name='s' select='concat($s, $s)'/></x:call-template></x:template>") << 0 << "メモリの上限 (512 MB)";
        // The engine goes on after a failed allocation and prints -1.
        QTest::newRow("memory failure with output") << QByteArray("<x:template match='/'><x:call-template name='t'/></x:template><x:template name='t'>"
                                                                  "<x:param name='s' select='\"ab\"'/><x:param name='n' select='0'/><x:choose><x:when test='$n = 40'>"
                                                                  "RESULT: <x:value-of select='string-length($s)'/></x:when><x:otherwise><x:call-template name='t'>"
                                                                  "<x:with-param name='s' select='concat($s, $s)'/><x:with-param name='n' select='$n + 1'/>"
                                                                  "</x:call-template></x:otherwise></x:choose></x:template>") << 0 << "メモリの上限 (512 MB)";
    }
    void runawayStyleSheetsAreStopped()
    {
        QFETCH(QByteArray, body);
        QFETCH(int, stop);
        QFETCH(QString, message);
        TransformJob::limits() = {message.contains(QStringLiteral("秒")) ? 1000 : 600000, 512};
        {
            TestWindow w(QStringLiteral("<r/>"));
            QVERIFY(w.showWindow());
            w.window.preview().useStyleSheet(m_files.write(QStringLiteral("runaway.xsl"), xslt(body).toUtf8()));
            // One that outgrows its memory may be gone before it is seen.
            if (!message.contains(QStringLiteral("メモリ"))) {
                QTRY_COMPARE(workers().size(), 1);
                QVERIFY(!w.window.ie()->busyText().isEmpty());
            }
            const QStringList first = workers();
            if (stop > 0)
                QTest::keyClick(&w.window, Qt::Key(stop));
            if (stop == Qt::Key_F5)
                QVERIFY(workers().size() == 1 && workers() != first);
            else if (stop >= 0)
                QTRY_VERIFY_WITH_TIMEOUT(workers().isEmpty() && w.window.ie()->busyText().isEmpty(), 60000);
            QVERIFY2(message.isEmpty() ? w.prompt->shown.isEmpty() : w.prompt->shown.value(0).text.contains(message),
                     qPrintable(w.prompt->shown.value(0).text));
        }
        // Killed at once, gone once the kernel has torn it down.
        QTRY_VERIFY_WITH_TIMEOUT(workers().isEmpty(), 5000);
        TransformJob::limits() = {};
    }

    // The web engine's page (and its renderer process, some 180 MB) exists
    // only while the pane can be seen with a style sheet's page in it; the
    // built-in view never starts it.
    void engineOnlyWhileThePaneIsSeen_data()
    {
        QTest::addColumn<QString>("gone");
        QTest::newRow("pane dragged shut") << "squeezed";
        QTest::newRow("window hidden") << "hidden";
        QTest::newRow("built-in view") << "built-in";
        QTest::newRow("document closed") << "closed";
    }
    void engineOnlyWhileThePaneIsSeen()
    {
        QFETCH(QString, gone);
        TestWindow w(QStringLiteral("<r><a/></r>"));
        PreviewPane *pane = w.window.ie();
        w.window.preview().ShowPreview(w.doc().documentNode());
        QVERIFY(w.showWindow());
        QTest::qWait(200); // past the pass of the event loop that would start it
        QVERIFY(!pane->view() && pane->sourceViewer() && pane->sourceViewer()->isVisible() && pane->isLoaded());
        w.window.preview().useStyleSheet(m_files.write(QStringLiteral("page.xsl"), xslt(kHtmlPage).toUtf8()));
        QTRY_VERIFY_WITH_TIMEOUT(pane->view() && pane->isLoaded(), 30000);
        QVERIFY(!pane->sourceViewer());
        auto *splitter = w.window.findChild<QSplitter *>(QStringLiteral("vsp"));
        QSplitterHandle *handle = splitter->handle(1);
        const QPoint grip = handle->rect().center();
        if (gone == "squeezed") {
            // Dragged to the window's bottom edge, as with the mouse.
            QTest::mousePress(handle, Qt::LeftButton, {}, grip);
            QTest::mouseMove(handle, grip + QPoint(0, splitter->height()));
            QTest::mouseRelease(handle, Qt::LeftButton, {}, grip + QPoint(0, splitter->height()));
        } else if (gone == "hidden") {
            w.window.hide();
        } else if (gone == "built-in") {
            w.prompt->fileAnswers.enqueue({QString()});
            w.window.menuItem(QStringLiteral("mnuToolSelXSL"))->trigger();
        } else {
            w.window.lifecycle().mnuFileClose_Click();
        }
        QTRY_VERIFY_WITH_TIMEOUT(!pane->view(), 30000);
        if (gone == "closed" || gone == "built-in")
            return;
        // Wanted again: made again, showing what it showed.
        if (gone == "squeezed")
            splitter->setSizes({splitter->height() / 2, splitter->height() / 2});
        else
            QVERIFY(w.showWindow());
        QTRY_VERIFY_WITH_TIMEOUT(pane->view() && pane->isLoaded(), 30000);
        QCOMPARE(pane->url().toLocalFile(), w.window.preview().previewFile());
    }

    void clickingANameSelectsItsNode()
    {
        TestWindow w(QStringLiteral("<?xml version=\"1.0\"?><r><a>x\n  y</a><b><c/><!--1\n2--></b><![CDATA[3\n4]]></r>"));
        QVERIFY(w.showWindow());
        PreviewPane *pane = w.window.ie();
        QTest::keyClick(&w.window, Qt::Key_F5); // the menu never opened
        SourceViewer *viewer = pane->sourceViewer();
        QVERIFY(viewer && pane->url().toLocalFile() == w.window.preview().previewFile());
        QVERIFY(TestFiles::read(w.window.preview().previewFile()).contains("id=\"1.2.2.1\""));
        // A click on a name, through the window as the mouse gives it,
        // selects its node.
        const auto mouse = [&w, viewer](Qt::MouseButton button, QPoint at) {
            QTest::mouseClick(static_cast<QWidget &>(w.window).windowHandle(), button, {}, viewer->viewport()->mapTo(&w.window, at));
        };
        const XmlNode c = w.doc().documentElement().child(1).firstChild();
        const QRect name = viewer->nameRect(QStringLiteral("1.2.2.1"));
        QVERIFY(!name.isEmpty());
        mouse(Qt::LeftButton, name.center());
        QCOMPARE(w.window.selection().GetSelectedDOMNode(), c);
        // Toggles fold what follows their line up to the element's end; a
        // fold inside stays folded when the outer one opens again.
        const auto shown = [viewer] {
            QStringList lines;
            for (QTextBlock b = viewer->document()->begin(); b.isValid(); b = b.next())
                if (b.isVisible())
                    lines << b.text().replace(QChar::Nbsp, QLatin1Char(' ')).replace(QChar::LineSeparator, QLatin1Char('|')).trimmed();
            return lines;
        };
        QCOMPARE(shown(), (QStringList{"<?xml version=\"1.0\"?>", "- <r>", "<a>x y</a>", "- <b>", "<c />", "- <!--", "1|2", "-->", "</b>",
                                       "- <![CDATA[", "3|4", "]]>", "</r>"}));
        const auto click = [viewer, &mouse](const QString &line) {
            for (QTextBlock b = viewer->document()->begin(); b.isValid(); b = b.next())
                if (b.isVisible() && b.text().endsWith(line)) {
                    mouse(Qt::LeftButton, viewer->cursorRect(QTextCursor(b)).center() + QPoint(2, 0));
                    return;
                }
            QFAIL(qPrintable(line));
        };
        click(QStringLiteral(" <b>"));
        click(QStringLiteral(" <r>"));
        QCOMPARE(shown(), (QStringList{"<?xml version=\"1.0\"?>", "+ <r>"}));
        click(QStringLiteral(" <r>"));
        QCOMPARE(shown(), (QStringList{"<?xml version=\"1.0\"?>", "- <r>", "<a>x y</a>", "+ <b>", "- <![CDATA[", "3|4", "]]>", "</r>"}));
        QCOMPARE(w.window.selection().GetSelectedDOMNode(), c); // toggles select nothing
        // A right click opens the editor's own menu, in Japanese, which
        // copies what is selected.
        mouse(Qt::RightButton, QPoint(20, 20));
        QMenu *menu = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((menu = qobject_cast<QMenu *>(QApplication::activePopupWidget())), 30000);
        QStringList items;
        for (QAction *a : menu->actions())
            items << a->text();
        QCOMPARE(items, (QStringList{"コピー(&C)", "すべて選択(&A)", "", "プレビュー(&P)", "選択したノードのプレビュー(&N)",
                                     "プレビュー用XSLファイルの選択(&X)...", w.window.menuItem(QStringLiteral("mnuFilePrint"))->text()}));
        QVERIFY(!menu->actions().at(0)->isEnabled());
        menu->actions().at(1)->trigger();
        menu->close();
        viewer->copy();
        QVERIFY2(QApplication::clipboard()->text().contains(QStringLiteral("<a>x y</a>")), qPrintable(QApplication::clipboard()->text()));
        // A deleted node leaves the view once the tree shows it gone.
        w.window.selection().ShowNode(w.window.model().indexForNode(w.doc().documentElement().firstChild()), true);
        w.window.menuItem(QStringLiteral("mnuNodeDelete"))->trigger();
        QVERIFY(!w.doc().documentElement().firstChild().nodeName().startsWith(QLatin1Char('a')));
        QTRY_VERIFY(pane->sourceViewer() && !pane->sourceViewer()->toPlainText().contains(QStringLiteral("<a>")));
        QVERIFY(pane->sourceViewer()->toPlainText().contains(QStringLiteral("<b>")));
        // A preview of one element is not linked back to the tree.
        w.window.preview().ShowPreview(c);
        QVERIFY(!w.window.preview().previewWhole());
    }
};

QTEST_MAIN(TestPreview)
#include "tst_preview.moc"
