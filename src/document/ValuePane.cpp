#include "ValuePane.h"

#include "PopupClicks.h"

#include <QAbstractItemView>
#include <QCompleter>
#include <QKeyEvent>
#include <QScrollBar>
#include <QStringListModel>
#include <QTextDocument>

#include <algorithm>

namespace {

// The text view breaks blocks at LF, CR, U+2029 and its frame markers, and
// reads every break back as U+2029. A CR is handed over as a break of its
// own, so that "\r\n" stays two characters and positions keep matching.
QString toView(const QString &value)
{
    QString shown = value;
    shown.replace(QLatin1Char('\r'), QChar::ParagraphSeparator);
    return shown;
}

// A list wider than this many average characters is cut.
constexpr int kMaxListChars = 80;

QString typed(const QString &shown)
{
    QString value = shown;
    value.replace(QChar::ParagraphSeparator, QLatin1Char('\n'));
    return value;
}

} // namespace

ValuePane::ValuePane(QWidget *parent) : PasteGuarded<QPlainTextEdit>(parent)
{
    setObjectName(QStringLiteral("txtEdit"));
    setLineWrapMode(QPlainTextEdit::NoWrap);
    // Undo belongs to the document's history, not to the text box.
    setUndoRedoEnabled(false);
    connect(this, &QPlainTextEdit::textChanged, this, &ValuePane::onTextChanged);
}

bool ValuePane::event(QEvent *event)
{
    if (leaveHistoryKeyToWindow(event))
        return false;
    return QPlainTextEdit::event(event);
}

void ValuePane::keyPressEvent(QKeyEvent *event)
{
    // Ctrl+A, and only Ctrl+A, selects the whole text.
    if (event->key() == Qt::Key_A && (event->modifiers() & ~Qt::KeypadModifier) != Qt::ControlModifier
        && (event->modifiers() & Qt::ControlModifier)) {
        event->ignore();
        return;
    }
    // With the list open, Enter takes the chosen value; a value has no
    // line breaks to type.
    if (m_values && m_values->popup()->isVisible() && (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter)) {
        const QModelIndex chosen = m_values->popup()->currentIndex();
        m_values->popup()->hide();
        if (chosen.isValid())
            take(chosen.data().toString());
        return;
    }
    QPlainTextEdit::keyPressEvent(event);
}

void ValuePane::focusInEvent(QFocusEvent *event)
{
    QPlainTextEdit::focusInEvent(event);
    if (m_values && !isReadOnly() && event->reason() != Qt::PopupFocusReason)
        offer(QString());
}

void ValuePane::setOffered(const QStringList &values)
{
    if (values.isEmpty()) {
        // Later: a click on the open list may be what selected another node.
        if (m_values) {
            m_values->popup()->hide();
            disconnect(m_values, nullptr, this, nullptr);
            m_values->deleteLater();
        }
        m_values = nullptr;
        return;
    }
    if (!m_values) {
        m_values = new QCompleter(this);
        m_values->setObjectName(QStringLiteral("txtEditValues"));
        m_values->setWidget(this);
        m_values->setCaseSensitivity(Qt::CaseInsensitive);
        m_values->setFilterMode(Qt::MatchContains);
        connect(m_values, qOverload<const QString &>(&QCompleter::activated), this, &ValuePane::take);
    }
    m_values->setModel(new QStringListModel(values, m_values));
    passOnClicksOutside(m_values->popup());
    if (hasFocus() && !isReadOnly())
        offer(QString());
}

void ValuePane::offer(const QString &typed)
{
    m_values->setCompletionMode(typed.isEmpty() ? QCompleter::UnfilteredPopupCompletion : QCompleter::PopupCompletion);
    m_values->setCompletionPrefix(typed);
    if (m_values->completionCount() == 0) {
        m_values->popup()->hide();
        return;
    }
    m_values->complete(listPlace());
}

QRect ValuePane::listPlace() const
{
    // Under the line with the cursor, from the text's left edge: as wide as
    // the longest value, at least as the pane, at most a sane limit.
    QAbstractItemView *list = m_values->popup();
    int wanted = list->sizeHintForColumn(0) + 2 * list->frameWidth();
    if (m_values->completionCount() > m_values->maxVisibleItems())
        wanted += list->verticalScrollBar()->sizeHint().width();
    const int limit = std::max(width(), fontMetrics().averageCharWidth() * kMaxListChars);
    const QRect line = cursorRect().translated(viewport()->pos());
    return QRect(0, line.top(), std::clamp(wanted, width(), limit), line.height());
}

void ValuePane::take(const QString &value)
{
    if (isReadOnly() || value == m_value)
        return;
    // As if typed over the whole text, so that it is applied like typing.
    QTextCursor cursor(document());
    cursor.select(QTextCursor::Document);
    cursor.insertText(value);
}

void ValuePane::setValue(const QString &value)
{
    m_filling = true;
    setPlainText(toView(value));
    m_filling = false;
    m_shown = document()->toRawText();
    m_value = m_shown.size() == value.size() ? value : typed(m_shown);
}

void ValuePane::setText(const QString &text)
{
    QString value = text;
    value.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    setValue(value);
}

QString ValuePane::text() const
{
    QString result = m_value;
    result.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return result;
}

void ValuePane::onTextChanged()
{
    if (m_filling)
        return;
    const QString shown = document()->toRawText();
    // A composition shows its text beside the document's, which stays as it
    // was until the composition is committed.
    if (shown == m_shown)
        return;
    // Only the stretch between the unchanged start and end was edited; the
    // characters around it keep the value's own.
    const qsizetype common = std::min(shown.size(), m_shown.size());
    qsizetype head = 0;
    while (head < common && shown.at(head) == m_shown.at(head))
        ++head;
    qsizetype tail = 0;
    while (tail < common - head && shown.at(shown.size() - 1 - tail) == m_shown.at(m_shown.size() - 1 - tail))
        ++tail;
    m_value = m_value.left(head) + typed(shown.mid(head, shown.size() - head - tail)) + m_value.right(tail);
    m_shown = shown;
    emit valueEdited();
    if (m_values && hasFocus())
        offer(m_value);
}
