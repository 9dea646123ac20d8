#include "ReplaceDialog.h"

#include "base/StringTable.h"
#include "document/DocumentHost.h"
#include "document/Selection.h"
#include "editing/NodeReplacer.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QEvent>
#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QVBoxLayout>

namespace {

QString text(int id)
{
    return resourceString(id);
}

} // namespace

ReplaceDialog::ReplaceDialog(DocumentHost &host, NodeReplacer &replacer, QWidget *parent)
    : QDialog(parent), m_host(host), m_replacer(replacer)
{
    setObjectName(QStringLiteral("dlgReplace"));
    setWindowTitle(text(3420));
    setModal(false);

    m_find = new QLineEdit(this);
    m_find->setObjectName(QStringLiteral("txtFind"));
    m_replacement = new QLineEdit(this);
    m_replacement->setObjectName(QStringLiteral("txtReplace"));
    auto *texts = new QFormLayout;
    texts->addRow(text(3421), m_find);
    texts->addRow(text(3422), m_replacement);

    auto *where = new QGroupBox(text(3423), this);
    auto *whereLayout = new QGridLayout(where);
    static const char *const targetNames[] = {"chkElementNames", "chkAttributeNames", "chkAttributeValues",
                                              "chkText", "chkComments", "chkInstructions"};
    for (int i = 0; i < 6; ++i) {
        m_targets[i] = new QCheckBox(text(3424 + i), where);
        m_targets[i]->setObjectName(QString::fromLatin1(targetNames[i]));
        m_targets[i]->setChecked((ReplaceRequest().targets >> i) & 1);
        whereLayout->addWidget(m_targets[i], i / 3, i % 3);
    }

    m_case = new QCheckBox(text(3430), this);
    m_case->setObjectName(QStringLiteral("chkCase"));
    m_word = new QCheckBox(text(3431), this);
    m_word->setObjectName(QStringLiteral("chkWord"));
    m_regex = new QCheckBox(text(3432), this);
    m_regex->setObjectName(QStringLiteral("chkRegex"));

    auto *range = new QGroupBox(text(3433), this);
    auto *rangeLayout = new QGridLayout(range);
    m_document = new QRadioButton(text(3434), range);
    m_document->setObjectName(QStringLiteral("optDocument"));
    m_document->setChecked(true);
    m_subtree = new QRadioButton(text(3435), range);
    m_subtree->setObjectName(QStringLiteral("optSubtree"));
    m_path = new QRadioButton(text(3436), range);
    m_path->setObjectName(QStringLiteral("optPath"));
    m_pathText = new QLineEdit(range);
    m_pathText->setObjectName(QStringLiteral("txtPath"));
    m_pathText->setEnabled(false);
    rangeLayout->addWidget(m_document, 0, 0);
    rangeLayout->addWidget(m_subtree, 0, 1);
    rangeLayout->addWidget(m_path, 1, 0);
    rangeLayout->addWidget(m_pathText, 1, 1);
    connect(m_path, &QRadioButton::toggled, m_pathText, &QWidget::setEnabled);

    auto *findNext = new QPushButton(text(3437), this);
    findNext->setObjectName(QStringLiteral("cmdFindNext"));
    m_replace = new QPushButton(text(3438), this);
    m_replace->setObjectName(QStringLiteral("cmdReplace"));
    m_replaceAll = new QPushButton(text(3439), this);
    m_replaceAll->setObjectName(QStringLiteral("cmdReplaceAll"));
    auto *close = new QPushButton(text(3440), this);
    close->setObjectName(QStringLiteral("cmdClose"));
    // Enter in a box finds, as in other find windows; Esc closes (QDialog).
    findNext->setDefault(true);
    auto *buttons = new QVBoxLayout;
    for (QPushButton *b : {findNext, m_replace, m_replaceAll, close})
        buttons->addWidget(b);
    buttons->addStretch();

    m_message = new QLabel(this);
    m_message->setObjectName(QStringLiteral("lblMessage"));
    m_message->setWordWrap(true);

    auto *options = new QHBoxLayout;
    for (QCheckBox *c : {m_case, m_word, m_regex})
        options->addWidget(c);
    auto *left = new QVBoxLayout;
    left->addLayout(texts);
    left->addWidget(where);
    left->addLayout(options);
    left->addWidget(range);
    left->addWidget(m_message);
    auto *top = new QHBoxLayout(this);
    top->addLayout(left, 1);
    top->addLayout(buttons);

    connect(findNext, &QPushButton::clicked, this,
            [this] { run([this](const ReplaceRequest &r, QString *m) { m_replacer.findNext(r, m); }); });
    connect(m_replace, &QPushButton::clicked, this,
            [this] { run([this](const ReplaceRequest &r, QString *m) { m_replacer.replace(r, m); }); });
    connect(m_replaceAll, &QPushButton::clicked, this,
            [this] { run([this](const ReplaceRequest &r, QString *m) { m_replacer.replaceAll(r, m); }); });
    connect(close, &QPushButton::clicked, this, &QDialog::reject);
    // The subtree is the one selected when the choice is made, so that
    // finding inside it, which moves the selection, does not move it.
    connect(m_subtree, &QRadioButton::toggled, this, [this](bool on) {
        if (on)
            m_subtreeRoot = m_host.selection().selectedItem();
    });
}

void ReplaceDialog::open(const QString &findText)
{
    if (!isVisible())
        m_find->setText(findText);
    if (m_subtree->isChecked())
        m_subtreeRoot = m_host.selection().selectedItem();
    updateStates();
    show();
    raise();
    activateWindow();
    m_find->setFocus();
    m_find->selectAll();
}

ReplaceRequest ReplaceDialog::request() const
{
    ReplaceRequest r;
    r.pattern = m_find->text();
    r.replacement = m_replacement->text();
    r.caseSensitive = m_case->isChecked();
    r.wholeWord = m_word->isChecked();
    r.regularExpression = m_regex->isChecked();
    r.targets = 0;
    for (int i = 0; i < 6; ++i)
        if (m_targets[i]->isChecked())
            r.targets |= 1 << i;
    if (m_subtree->isChecked()) {
        r.scope = ReplaceRequest::Scope::Subtree;
        // An item goes with its node (deleted, or the document replaced).
        r.subtree = m_subtreeRoot.isValid() ? m_host.selection().GetDOMNode(m_subtreeRoot) : XmlNode();
    } else if (m_path->isChecked()) {
        r.scope = ReplaceRequest::Scope::Path;
        r.path = m_pathText->text();
    }
    return r;
}

void ReplaceDialog::run(const std::function<void(const ReplaceRequest &, QString *)> &command)
{
    QString message;
    command(request(), &message);
    m_message->setText(message);
    updateStates();
}

void ReplaceDialog::updateStates()
{
    // Read-only documents refuse replacing as they refuse every edit.
    const bool can = m_replacer.canReplace();
    m_replace->setEnabled(can);
    m_replaceAll->setEnabled(can);
}

void ReplaceDialog::changeEvent(QEvent *event)
{
    // The document may have become read-only or writable meanwhile.
    if (event->type() == QEvent::ActivationChange && isActiveWindow())
        updateStates();
    QDialog::changeEvent(event);
}
