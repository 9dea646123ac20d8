#pragma once

#include <QObject>

class QSplitter;

// The size of a splitter's first pane, as the settings keep it. A splitter
// lays its panes out only once it has its real size, and rescales sizes set
// before that; so a size set earlier waits and is applied when the splitter
// is first shown at its size. From then on the first pane keeps its size
// when the window is resized, the second pane taking the difference.
class SplitPosition : public QObject
{
public:
    SplitPosition(QSplitter *splitter, int pixels);

    // Pixels: the waiting size until it is applied, then the pane's size.
    int firstPane() const;
    void setFirstPane(int pixels);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void apply();

    QSplitter *m_splitter;
    int m_pending;
    bool m_applied = false;
    bool m_userMoved = false;
};
