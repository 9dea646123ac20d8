#include "clsUndoRedo.h"

void clsUndoRedo::Clear()
{
    m_colUndo.clear();
    m_colRedo.clear();
}

void clsUndoRedo::Action(Step info)
{
    if (int(m_colUndo.size()) == m_MaxUndo)
        m_colUndo.pop_front();
    if (m_Current)
        m_colUndo.push_back(m_Current);
    m_Current = std::move(info);
    m_colRedo.clear();
}

clsUndoRedo::Step clsUndoRedo::Undo()
{
    if (m_colUndo.empty())
        return nullptr;
    m_colRedo.push_back(m_Current);
    m_Current = m_colUndo.back();
    m_colUndo.pop_back();
    return m_Current;
}

clsUndoRedo::Step clsUndoRedo::Redo()
{
    if (m_colRedo.empty())
        return nullptr;
    m_colUndo.push_back(m_Current);
    m_Current = m_colRedo.back();
    m_colRedo.pop_back();
    return m_Current;
}

void clsUndoInfo::addExpansions(const Expansions &later)
{
    for (auto it = later.cbegin(); it != later.cend(); ++it) {
        const auto found = m_expansions.find(it.key());
        if (found == m_expansions.end())
            m_expansions.insert(it.key(), it.value());
        else
            found->after = it->after;
    }
}
