#include "ValuePane.h"

ValuePane::ValuePane(QWidget *parent) : QPlainTextEdit(parent)
{
    setObjectName(QStringLiteral("txtEdit"));
    setLineWrapMode(QPlainTextEdit::NoWrap);
}

void ValuePane::setText(const QString &text)
{
    QString lines = text;
    lines.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    setPlainText(lines);
}

QString ValuePane::text() const
{
    QString result = toPlainText();
    result.replace(QLatin1Char('\n'), QLatin1String("\r\n"));
    return result;
}
