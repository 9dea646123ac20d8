#pragma once

#include "clsUndoInfo.h"

#include <deque>
#include <memory>

// A window's history: the states before the present one (at most ten),
// the present one, and those undone, which a new change discards.
class clsUndoRedo
{
public:
    using Step = std::shared_ptr<clsUndoInfo>;

    clsUndoRedo() { Clear(); }

    // Empties both stacks; the present state stays.
    void Clear();
    // Records `info` as the present state.
    void Action(Step info);
    // Steps back: the present state goes to the redo side and the newest
    // older one becomes present, and is returned. Null when none is left.
    Step Undo();
    // The mirror of Undo.
    Step Redo();
    bool CanUndo() const { return !m_colUndo.empty(); }
    bool CanRedo() const { return !m_colRedo.empty(); }

    Step current() const { return m_Current; }
    int undoCount() const { return int(m_colUndo.size()); }
    int redoCount() const { return int(m_colRedo.size()); }

    static constexpr int m_MaxUndo = 10;

private:
    std::deque<Step> m_colUndo;
    Step m_Current;
    std::deque<Step> m_colRedo;
};
