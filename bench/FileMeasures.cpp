#include "FileMeasures.h"

#include "BenchDocument.h"
#include "schema/XmlValidation.h"
#include "xml/XmlDocument.h"

#include <QDirIterator>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include <chrono>
#include <cstdio>
#include <tuple>
#include <utility>

namespace {
using Clock = std::chrono::steady_clock;
}

// Saving the unchanged document, against libxml2's own formatted save of
// the same document; each writes the file in full.
int measureSave(const QString &path)
{
    XmlDocument doc;
    if (!doc.load(path)) {
        std::fprintf(stderr, "ostrel-bench: %s\n", qPrintable(doc.parseError().reason));
        return 1;
    }
    const QString target = path + QStringLiteral(".saved");
    // The save of a document the user has had open a moment: the mapping of
    // its bytes that the load left running is done by then.
    doc.settle();
    auto start = Clock::now();
    QString error;
    if (!doc.save(target, &error)) {
        std::fprintf(stderr, "ostrel-bench: %s\n", qPrintable(error));
        return 1;
    }
    const double saveMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    // From memory: the editor's entity loader, now installed, refuses files.
    QFile file(path);
    const QByteArray bytes = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    xmlDocPtr bare = xmlReadMemory(bytes.constData(), int(bytes.size()), nullptr, nullptr, 0);
    if (!bare) {
        std::fprintf(stderr, "ostrel-bench: libxml2 could not read the file\n");
        return 1;
    }
    start = Clock::now();
    const int written = xmlSaveFormatFileEnc(QFile::encodeName(target).constData(), bare, "UTF-8", 1);
    const double libxmlMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
    xmlFreeDoc(bare);
    QFile::remove(target);
    if (written < 0) {
        std::fprintf(stderr, "ostrel-bench: libxml2 could not save\n");
        return 1;
    }
    std::printf("save_ms %.1f\nlibxml_save_ms %.1f\n", saveMs, libxmlMs);
    return 0;
}

// Validating the opened document against a DTD and an XML Schema, against
// xmllint reading and validating the same file with the same schema. Both
// verdicts must be "valid".
int measureValidate(const QString &path)
{
    QTemporaryDir dir;
    const QString dtd = dir.filePath(QStringLiteral("bench.dtd"));
    const QString xsd = dir.filePath(QStringLiteral("bench.xsd"));
    for (const auto &[file, text] : {std::pair{dtd, kBenchDtd}, std::pair{xsd, kBenchXsd}}) {
        QFile out(file);
        if (!out.open(QIODevice::WriteOnly) || out.write(text) < 0)
            return 1;
    }
    XmlDocument doc;
    if (!doc.load(path)) {
        std::fprintf(stderr, "ostrel-bench: %s\n", qPrintable(doc.parseError().reason));
        return 1;
    }
    doc.settle();
    for (const auto &[name, schema, option] : {std::tuple{"dtd", dtd, "--dtdvalid"}, std::tuple{"xsd", xsd, "--schema"}}) {
        auto start = Clock::now();
        const ValidationResult result = validateDocument(doc, schema, schemaKindOf(schema));
        const double oursMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        if (!result.isValid()) {
            std::fprintf(stderr, "ostrel-bench: %s: %s\n", name,
                         qPrintable(result.schemaError + result.errors.value(0).reason));
            return 1;
        }
        QProcess xmllint;
        start = Clock::now();
        xmllint.start(QStringLiteral("xmllint"), {QStringLiteral("--noout"), QStringLiteral("--nonet"),
                                                   QString::fromLatin1(option), schema, path});
        if (!xmllint.waitForFinished(-1) || xmllint.exitCode() != 0) {
            std::fprintf(stderr, "ostrel-bench: xmllint %s failed\n", name);
            return 1;
        }
        const double xmllintMs = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        std::printf("validate_%s_ms %.1f\nxmllint_%s_ms %.1f\n", name, oursMs, name, xmllintMs);
    }
    return 0;
}

// Opens and saves every XML file under /usr/share that parses (up to 5 MB
// each): the share written back byte for byte. The others are named on
// standard error.
int measureRoundTrip()
{
    int identical = 0, total = 0;
    QDirIterator it(QStringLiteral("/usr/share"), {QStringLiteral("*.xml")}, QDir::Files | QDir::Readable,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString file = it.next();
        QFile in(file);
        if (in.size() > 5 * 1024 * 1024 || !in.open(QIODevice::ReadOnly))
            continue;
        const QByteArray bytes = in.readAll();
        XmlDocument doc;
        QByteArray saved;
        if (!doc.loadBytes(bytes, file) || !doc.serialize(&saved))
            continue;
        ++total;
        if (saved == bytes)
            ++identical;
        else
            std::fprintf(stderr, "not identical: %s\n", qPrintable(file));
    }
    std::printf("roundtrip_files %d\nroundtrip_identical_pct %.1f\n", total, total ? 100.0 * identical / total : 0.0);
    return 0;
}

