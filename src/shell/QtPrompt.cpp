#include "QtPrompt.h"

#include "AppInfo.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QFontDatabase>
#include <QFontDialog>
#include <QFontInfo>
#include <QDialogButtonBox>
#include <QGridLayout>
#include <QIdentityProxyModel>
#include <QInputDialog>
#include <QLocale>
#include <QPlainTextEdit>
#include <QVBoxLayout>
#include <QMessageBox>
#include <QPrintDialog>
#include <QPrinter>
#include <QScreen>
#include <QStyle>
#include <QTextDocument>
#include <QGuiApplication>
#include <QTimer>

#include <algorithm>
#include <QTreeView>
#include <QHeaderView>

namespace {

// The file dialog's sizes and dates in the application's locale (Japanese)
// rather than the system's, which Qt's file model writes them in: the
// rest of the dialog is Japanese whatever the system's locale is.
class LocaleFileColumns : public QIdentityProxyModel
{
public:
    using QIdentityProxyModel::QIdentityProxyModel;

    QVariant data(const QModelIndex &index, int role) const override
    {
        const auto *files = qobject_cast<const QFileSystemModel *>(sourceModel());
        if (role != Qt::DisplayRole || !files || (index.column() != 1 && index.column() != 3))
            return QIdentityProxyModel::data(index, role);
        const QModelIndex source = mapToSource(index);
        if (index.column() == 3)
            return QLocale().toString(files->lastModified(source), QLocale::ShortFormat);
        return files->isDir(source) ? QString() : QLocale().formattedDataSize(files->size(source));
    }
};

// Japanese sizes, types and dates are wider than the columns Qt gives them,
// and would show elided ("23…イト"). Qt's own dialog makes its list when
// shown; a platform's native dialog has none and is left as it is.
void fitFileColumns(QFileDialog &dialog)
{
    dialog.resize(std::max(dialog.width(), 800), std::max(dialog.height(), 460));
    QTimer::singleShot(0, &dialog, [&dialog] {
        if (auto *view = dialog.findChild<QTreeView *>(QStringLiteral("treeView"))) {
            for (int column = 1; column < view->header()->count(); ++column)
                view->header()->setSectionResizeMode(column, QHeaderView::ResizeToContents);
        }
    });
}

} // namespace

namespace {

// A text taller than half the screen (a schema's dozen faults, a style
// sheet's trace) would push the box's buttons off it: the box shows the
// lines that fit, and the whole text in its details, which scroll.
void setFittingText(QMessageBox &box, const QString &text)
{
    const QScreen *screen = box.screen();
    const QSize screenSize = screen ? screen->availableGeometry().size() : QSize(800, 800);
    const int room = screenSize.height() / 2;
    // A box wraps its text at about half the screen's width (at most 500
    // pixels), less its icon and margins; measured wider, the lines of a
    // wide font would wrap into more than the room.
    const int wrapWidth = std::max(160, std::min(screenSize.width() / 2, 500) - 120);
    const QFontMetrics metrics(box.font());
    const QStringList lines = text.split(QLatin1Char('\n'));
    int height = 0;
    qsizetype fit = 0;
    for (; fit < lines.size(); ++fit) {
        height += metrics.boundingRect(QRect(0, 0, wrapWidth, 0), Qt::TextWordWrap, lines[fit] + QLatin1Char(' ')).height();
        if (height > room)
            break;
    }
    if (fit == lines.size()) {
        box.setText(text);
        return;
    }
    const QString shown = fit > 0 ? QStringList(lines.mid(0, fit)).join(QLatin1Char('\n')) : lines[0].left(300);
    box.setText(shown + QStringLiteral("\n…"));
    box.setDetailedText(text);
}

} // namespace

Prompt::Answer QtPrompt::message(const QString &text, Icon icon, Buttons buttons, bool defaultNo)
{
    QMessageBox box(m_parent);
    box.setWindowTitle(AppInfo::title());
    setFittingText(box, text);
    switch (icon) {
    case Icon::None: box.setIcon(QMessageBox::NoIcon); break;
    case Icon::Critical: box.setIcon(QMessageBox::Critical); break;
    case Icon::Question: box.setIcon(QMessageBox::Question); break;
    case Icon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case Icon::Information: box.setIcon(QMessageBox::Information); break;
    }
    switch (buttons) {
    case Buttons::Ok: box.setStandardButtons(QMessageBox::Ok); break;
    case Buttons::OkCancel: box.setStandardButtons(QMessageBox::Ok | QMessageBox::Cancel); break;
    case Buttons::YesNoCancel:
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No | QMessageBox::Cancel);
        break;
    case Buttons::YesNo: box.setStandardButtons(QMessageBox::Yes | QMessageBox::No); break;
    }
    if (defaultNo)
        box.setDefaultButton(QMessageBox::No);
    switch (box.exec()) {
    case QMessageBox::Ok: return Answer::Ok;
    case QMessageBox::Yes: return Answer::Yes;
    case QMessageBox::No: return Answer::No;
    case QMessageBox::Cancel: return Answer::Cancel;
    default:
        // Closed without a button.
        if (buttons == Buttons::Ok)
            return Answer::Ok;
        return buttons == Buttons::YesNo ? Answer::No : Answer::Cancel;
    }
}

QString QtPrompt::toQtFilter(const QString &filter)
{
    const QStringList parts = filter.split(QLatin1Char('|'));
    QStringList out;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QString pattern = parts[i + 1];
        pattern.replace(QLatin1String("*.*"), QLatin1String("*")); // every file, with or without a dot
        pattern.replace(QLatin1Char(';'), QLatin1Char(' '));
        // The dialog shows the description only (HideNameFilterDetails) and
        // filters by the pattern in the last parentheses.
        out << parts[i] + QStringLiteral(" (") + pattern + QLatin1Char(')');
    }
    return out.join(QStringLiteral(";;"));
}

bool QtPrompt::openFileDialog(const QString &title, const QString &filter, QString *path, bool *readOnly)
{
    QFileDialog dialog(m_parent, title, m_lastPath, toQtFilter(filter));
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setProxyModel(new LocaleFileColumns(&dialog));
    QCheckBox *readOnlyBox = nullptr;
    if (readOnly) {
        // The choice to open read-only sits under the file list; it needs
        // Qt's own dialog, whose layout can take it.
        dialog.setOption(QFileDialog::DontUseNativeDialog);
        if (auto *grid = qobject_cast<QGridLayout *>(dialog.layout())) {
            readOnlyBox = new QCheckBox(QStringLiteral("読み取り専用で開く(&R)"), &dialog);
            readOnlyBox->setObjectName(QStringLiteral("readOnlyChoice"));
            grid->addWidget(readOnlyBox, grid->rowCount(), 0, 1, grid->columnCount());
        }
    }
    fitFileColumns(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    *path = dialog.selectedFiles().constFirst();
    m_lastPath = *path;
    if (readOnly)
        *readOnly = readOnlyBox && readOnlyBox->isChecked();
    return true;
}

bool QtPrompt::saveFileDialog(const QString &filter, const QString &initialPath, QString *path)
{
    QFileDialog dialog(m_parent, QString(), initialPath.isEmpty() ? m_lastPath : initialPath, toQtFilter(filter));
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setProxyModel(new LocaleFileColumns(&dialog));
    // A name typed without an ending gets the chosen type's; with "all
    // files" it is kept as typed.
    const auto useSuffixOfFilter = [&dialog] {
        const QString filter = dialog.selectedNameFilter();
        const qsizetype open = filter.lastIndexOf(QLatin1Char('('));
        const QString pattern = open < 0 ? QString() : filter.mid(open + 1).section(QLatin1Char(' '), 0, 0).remove(QLatin1Char(')'));
        dialog.setDefaultSuffix(pattern.startsWith(QLatin1String("*.")) ? pattern.mid(2) : QString());
    };
    useSuffixOfFilter();
    QObject::connect(&dialog, &QFileDialog::filterSelected, &dialog, useSuffixOfFilter);
    fitFileColumns(dialog);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return false;
    *path = dialog.selectedFiles().constFirst();
    m_lastPath = *path;
    return true;
}

bool QtPrompt::fontDialog(QString *family, int *pointSize)
{
    // A face that is not installed (the default "MS UI Gothic") is shown as
    // the installed face that stands in for it; the dialog lists only
    // installed faces and would otherwise select its first one.
    const QFont current(QFontInfo(QFont(*family, *pointSize)).family(), *pointSize);
    QFontDialog dialog(current, m_parent);
    dialog.setWindowTitle(AppInfo::title());
    // Japanese faces only, when the face in use is one: the dialog's
    // writing system list is the one place Qt offers that choice.
    if (QFontDatabase::families(QFontDatabase::Japanese).contains(current.family())) {
        const QString japanese = QFontDatabase::writingSystemName(QFontDatabase::Japanese);
        for (QComboBox *box : dialog.findChildren<QComboBox *>()) {
            const int index = box->findText(japanese);
            if (index >= 0) {
                box->setCurrentIndex(index);
                emit box->activated(index);
                break;
            }
        }
    }
    // Choosing the writing system moved the selection: back to the font in use.
    dialog.setCurrentFont(current);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QFont chosen = dialog.selectedFont();
    *family = chosen.family();
    *pointSize = qRound(chosen.pointSizeF());
    return true;
}

bool QtPrompt::printDialog(QPrinter *printer)
{
    QPrintDialog dialog(printer, m_parent);
    dialog.setWindowTitle(AppInfo::title());
    dialog.setOption(QAbstractPrintDialog::PrintPageRange, false);
    return dialog.exec() == QDialog::Accepted;
}

bool QtPrompt::inputBox(const QString &label, QString *text)
{
    QInputDialog dialog(m_parent);
    dialog.setWindowTitle(AppInfo::title());
    dialog.setLabelText(label);
    dialog.setTextValue(QString());
    if (dialog.exec() != QDialog::Accepted)
        return false;
    *text = dialog.textValue();
    return true;
}

void QtPrompt::showText(const QString &title, const QString &text)
{
    QDialog dialog(m_parent);
    dialog.setObjectName(QStringLiteral("textWindow"));
    dialog.setWindowTitle(title);
    auto *layout = new QVBoxLayout(&dialog);
    auto *view = new QPlainTextEdit(&dialog);
    view->setReadOnly(true);
    view->setPlainText(text);
    view->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    layout->addWidget(view);
    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Close, &dialog);
    QObject::connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
    layout->addWidget(buttons);
    // Wide enough for the longest line and tall enough for the whole text
    // where the screen has room; long lines wrap on smaller screens.
    const QFontMetrics metrics(view->font());
    int longest = 0;
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (const QString &line : lines)
        longest = std::max(longest, metrics.horizontalAdvance(line));
    const int chrome = 2 * (view->frameWidth() + int(view->document()->documentMargin()))
        + view->style()->pixelMetric(QStyle::PM_ScrollBarExtent) + layout->contentsMargins().left()
        + layout->contentsMargins().right();
    QSize wanted(longest + chrome + metrics.averageCharWidth() * 2,
                 int(lines.size() + 2) * metrics.lineSpacing() + buttons->sizeHint().height() + layout->spacing()
                     + layout->contentsMargins().top() + layout->contentsMargins().bottom() + chrome);
    const QScreen *screen = m_parent ? m_parent->screen() : QGuiApplication::primaryScreen();
    if (screen) {
        const QSize room = screen->availableGeometry().size() * 9 / 10;
        wanted = wanted.boundedTo(room).expandedTo(QSize(std::min(480, room.width()), std::min(320, room.height())));
    }
    dialog.resize(wanted);
    dialog.exec();
}
