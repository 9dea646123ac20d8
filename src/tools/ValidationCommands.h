#pragma once

#include <QObject>
#include <QString>

class DocumentHost;
struct ValidationResult;

// Validation of the window's document against a DTD, an XML Schema, an
// XDR schema or a RELAX NG grammar the user chooses. The choice is the window's: it stays for
// every later document of the window until another file is chosen. The
// document, its tree and its modified state never change by validating;
// only the selection moves to the first offending node.
class ValidationCommands : public QObject
{
    Q_OBJECT
public:
    static QString dialogTitle() { return QStringLiteral("検証用ファイルの選択"); }
    static QString dialogFilter()
    {
        return QStringLiteral("DTD(*.dtd)|*.dtd|XML-Schema(XSD)(*.xsd)|*.xsd|XML-Data Reduced(XDR)(*.xml)|*.xml|RELAX NG (*.rng)|*.rng");
    }

    explicit ValidationCommands(DocumentHost &host, QObject *parent = nullptr);

    // Choose a validation file, then validate against it.
    void mnuToolVerifyNew_Click();
    // Validate; with no file chosen yet, choose one first.
    void mnuToolVerify_Click();
    void Validate();
    // Make `path` the window's validation file, without validating.
    void useFile(const QString &path);

    // Both items apply while the window has a document.
    bool canValidate() const;

    // The chosen file's name part (empty: none chosen) and its full path.
    QString verifyFile() const { return m_VerifyFile; }
    QString verifyPath() const { return m_verifyPath; }

signals:
    // Another validation file was chosen.
    void fileChosen();

private:
    void report(const ValidationResult &result);

    DocumentHost &m_host;
    QString m_VerifyFile;
    QString m_verifyPath;
    bool m_running = false;
};
