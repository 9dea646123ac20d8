#pragma once

#include <QFrame>

class QLabel;

// The start-up form shown while a user-started editor makes its first
// window: the product title (Label1), the program version (lblVersion) and a
// line asking to wait (Label3). It does nothing else; a double click closes
// it early.
class frmSplash : public QFrame
{
    Q_OBJECT
public:
    explicit frmSplash(QWidget *parent = nullptr);

    // "Version " and major.minor.revision of `version`, in decimal without
    // leading zeros ("1.1.10" reads "Version 1.1.10").
    static QString versionText(const QString &version);

protected:
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    QLabel *m_Label1 = nullptr;
    QLabel *m_lblVersion = nullptr;
    QLabel *m_Label3 = nullptr;
};
