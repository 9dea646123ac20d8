#include "AppInfo.h"
#include "QtPrompt.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QProgressDialog>

namespace {

class DialogProgress : public Prompt::Progress
{
public:
    DialogProgress(QWidget *parent, const QString &text, int maximum)
        : m_dialog(text, QStringLiteral("キャンセル"), 0, maximum, parent)
    {
        m_dialog.setWindowTitle(AppInfo::title());
        m_dialog.setWindowModality(Qt::WindowModal);
        m_dialog.setMinimumDuration(500);
        m_dialog.setAutoClose(false);
        m_dialog.setAutoReset(false);
        m_started.start();
    }
    bool advance(int done) override
    {
        done = std::min(done, m_dialog.maximum());
        if (done != m_dialog.value()) {
            m_dialog.setValue(done);
        } else if (m_dialog.isVisible()) {
            // Work that cannot tell how far it is (a busy bar) still lets
            // the window repaint and the Cancel button answer.
            QCoreApplication::processEvents();
        } else if (m_started.elapsed() >= m_dialog.minimumDuration()) {
            m_dialog.show();
            QCoreApplication::processEvents();
        }
        return !m_dialog.wasCanceled();
    }

private:
    QProgressDialog m_dialog;
    QElapsedTimer m_started;
};

} // namespace

std::unique_ptr<Prompt::Progress> QtPrompt::progress(const QString &text, int maximum)
{
    return std::make_unique<DialogProgress>(m_parent, text, maximum);
}
