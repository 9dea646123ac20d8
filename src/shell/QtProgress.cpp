#include "AppInfo.h"
#include "QtPrompt.h"

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
    }
    bool advance(int done) override
    {
        m_dialog.setValue(std::min(done, m_dialog.maximum()));
        return !m_dialog.wasCanceled();
    }

private:
    QProgressDialog m_dialog;
};

} // namespace

std::unique_ptr<Prompt::Progress> QtPrompt::progress(const QString &text, int maximum)
{
    return std::make_unique<DialogProgress>(m_parent, text, maximum);
}
