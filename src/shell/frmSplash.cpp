#include "frmSplash.h"

#include "AppInfo.h"
#include "Twips.h"

#include <QLabel>
#include <QScreen>
#include <QVBoxLayout>
#include <QVersionNumber>

namespace {

// Client area in twips.
constexpr int kWidth = 4260;
constexpr int kHeight = 1845;

QLabel *addLabel(QVBoxLayout *layout, const char *name, const QString &text, const QFont &font)
{
    auto *label = new QLabel(text, layout->parentWidget());
    label->setObjectName(QString::fromLatin1(name));
    label->setFont(font);
    label->setAlignment(Qt::AlignCenter);
    layout->addWidget(label);
    return label;
}

} // namespace

frmSplash::frmSplash(QWidget *parent) : QFrame(parent, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(AppInfo::title());
    setFrameStyle(QFrame::Panel | QFrame::Raised);
    setLineWidth(2);
    setAutoFillBackground(true);
    setFixedSize(Twips::toPixelsX(kWidth, this), Twips::toPixelsY(kHeight, this));

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(8, 12, 8, 12);
    layout->setSpacing(4);
    QFont title(QStringLiteral("Lucida Console"), 15);
    title.setBold(true);
    title.setStyleHint(QFont::TypeWriter);
    m_Label1 = addLabel(layout, "Label1", AppInfo::title(), title);
    m_lblVersion = addLabel(layout, "lblVersion", versionText(AppInfo::version()), font());
    layout->addStretch(1);
    m_Label3 = addLabel(layout, "Label3", QStringLiteral("起動中です。しばらくお待ちください…。"),
                        QFont(QStringLiteral("MS UI Gothic"), 9));

    if (const QScreen *s = screen())
        move(s->availableGeometry().center() - rect().center());
}

QString frmSplash::versionText(const QString &version)
{
    const QVersionNumber v = QVersionNumber::fromString(version);
    return QStringLiteral("Version %1.%2.%3").arg(v.majorVersion()).arg(v.minorVersion()).arg(v.microVersion());
}

void frmSplash::mouseDoubleClickEvent(QMouseEvent *event)
{
    QFrame::mouseDoubleClickEvent(event);
    close();
}
