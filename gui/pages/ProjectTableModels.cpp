#include "gui/pages/ProjectTableModels.h"

namespace korva
{

void ProjectTableModel::paintRowBackground (juce::Graphics& g, int, int, int, bool selected)
{
    if (selected)
        g.fillAll (juce::Colour (kSelectedRowColour));
}

void ProjectTableModel::paintCell (juce::Graphics& g, int rowNumber, int columnId, int width, int height, bool)
{
    const auto row = m_list.getRow (rowNumber);
    if (! row)
        return;

    const auto text = m_list.getCellText (*row, columnId);
    if (text.isEmpty())
        return;

    g.setColour (getTextColour (*row));
    g.drawText (text, 2, 0, width - 4, height, juce::Justification::centredLeft, true);

    g.setColour (juce::Colour (kTextColour).withAlpha (0.2f));
    g.fillRect (width - 1, 0, 1, height);
}

void ProjectTableModel::sortOrderChanged (int columnId, bool forwards)
{
    // Rows are told apart by their index (device index or listing position),
    // so the selection can stay on the project the user picked.
    std::optional<ProjectListRow> selected;
    if (m_table != nullptr)
        selected = m_list.getRow (m_table->getSelectedRow());

    m_list.sortOrderChanged (columnId, forwards);

    if (m_table == nullptr)
        return;

    m_table->updateContent();
    if (selected)
    {
        for (int i = 0; i < m_list.getNumRows(); ++i)
        {
            const auto row = m_list.getRow (i);
            if (row && row->index == selected->index)
            {
                if (m_table->getSelectedRow() != i)
                    m_table->selectRow (i, false, true);
                break;
            }
        }
    }
    m_table->repaint();
}

namespace
{
void tell (const std::function<void()>& action)
{
    if (action)
        action();
}
} // namespace

void ProjectTableModel::returnKeyPressed (int)
{
    tell (onActivate);
}

void ProjectTableModel::deleteKeyPressed (int)
{
    tell (onDelete);
}

void ProjectTableModel::cellDoubleClicked (int, int, const juce::MouseEvent& e)
{
    if (e.mods.isLeftButtonDown() || ! e.mods.isAnyMouseButtonDown())
        tell (onActivate);
}

void ProjectTableModel::cellClicked (int, int, const juce::MouseEvent& e)
{
    if (e.mods.isPopupMenu())
        tell (onMenu);
}

void ProjectTableModel::backgroundClicked (const juce::MouseEvent& e)
{
    if (e.mods.isPopupMenu())
        tell (onMenu);
}

//==============================================================================
KorvaProjectTableModel::KorvaProjectTableModel (KorvaProjectList& list, std::function<int()> currentProjectIndex)
    : ProjectTableModel (list), m_korvaList (list), m_currentProjectIndex (std::move (currentProjectIndex))
{
}

void KorvaProjectTableModel::selectedRowsChanged (int lastRowSelected)
{
    m_korvaList.selectedRowsChanged (lastRowSelected, m_currentProjectIndex ? m_currentProjectIndex() : -1);
}

juce::Colour KorvaProjectTableModel::getTextColour (const ProjectListRow& row) const
{
    const juce::Colour black (kTextColour);
    // The project the KORVA is using cannot be renamed, deleted or imported.
    if (m_currentProjectIndex && row.index == m_currentProjectIndex())
        return black.withAlpha (0.2f);
    return black;
}

} // namespace korva
