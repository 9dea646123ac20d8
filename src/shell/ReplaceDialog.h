#pragma once

#include <QDialog>
#include <QPersistentModelIndex>

#include <functional>

class DocumentHost;
class NodeReplacer;
class QCheckBox;
class QLabel;
class QLineEdit;
class QPushButton;
class QRadioButton;
struct ReplaceRequest;

// The modeless find-and-replace window of an editor window. It gathers the
// request from its controls and hands it to the replacer; what comes back
// (a faulty pattern, the count replaced) shows in its own message line.
class ReplaceDialog : public QDialog
{
    Q_OBJECT
public:
    ReplaceDialog(DocumentHost &host, NodeReplacer &replacer, QWidget *parent);

    // Shows the window with `findText` (the last find's) in the find box,
    // selected and with the focus.
    void open(const QString &findText);
    ReplaceRequest request() const;

protected:
    void changeEvent(QEvent *event) override;

private:
    void run(const std::function<void(const ReplaceRequest &, QString *)> &command);
    void updateStates();

    DocumentHost &m_host;
    NodeReplacer &m_replacer;
    QLineEdit *m_find;
    QLineEdit *m_replacement;
    QCheckBox *m_targets[6];
    QCheckBox *m_case;
    QCheckBox *m_word;
    QCheckBox *m_regex;
    QRadioButton *m_document;
    QRadioButton *m_subtree;
    QRadioButton *m_path;
    QLineEdit *m_pathText;
    QPushButton *m_replace;
    QPushButton *m_replaceAll;
    QLabel *m_message;
    QPersistentModelIndex m_subtreeRoot;
};
