#pragma once

// The table side of the two project lists: what the framework's table asks of
// a model (row count, painting, sorting, selection), answered from the
// headless lists of ProjectLists.h.

#include "core/projects/ProjectLists.h"

#include <juce_gui_basics/juce_gui_basics.h>

#include <functional>

namespace korva
{

class ProjectTableModel : public juce::TableListBoxModel
{
public:
    static constexpr juce::uint32 kTextColour = 0xFF000000;
    static constexpr juce::uint32 kSelectedRowColour = 0xFFADD8E6;

    explicit ProjectTableModel (ProjectList& list) : m_list (list) {}

    // The table the model feeds; a sort keeps its selection on the same project.
    void setTable (juce::TableListBox* table) noexcept { m_table = table; }

    int getNumRows() override { return m_list.getNumRows(); }
    void paintRowBackground (juce::Graphics&, int row, int width, int height, bool selected) override;
    void paintCell (juce::Graphics&, int row, int columnId, int width, int height, bool selected) override;
    void sortOrderChanged (int columnId, bool forwards) override;

    // What the user asks of the selected row with the keyboard and the mouse:
    // Enter or a double-click, the Delete key, a right-click (on a row, which
    // it selects, or below the rows).
    std::function<void()> onActivate;
    std::function<void()> onDelete;
    std::function<void()> onMenu;

    void returnKeyPressed (int) override;
    void deleteKeyPressed (int) override;
    void cellDoubleClicked (int row, int columnId, const juce::MouseEvent&) override;
    void cellClicked (int row, int columnId, const juce::MouseEvent& e) override;
    void backgroundClicked (const juce::MouseEvent& e) override;

protected:
    virtual juce::Colour getTextColour (const ProjectListRow&) const { return juce::Colour (kTextColour); }

    ProjectList& m_list;
    juce::TableListBox* m_table = nullptr;
};

class KorvaProjectTableModel final : public ProjectTableModel
{
public:
    // `currentProjectIndex` names the project the KORVA is using.
    KorvaProjectTableModel (KorvaProjectList& list, std::function<int()> currentProjectIndex);

    void selectedRowsChanged (int lastRowSelected) override;

private:
    juce::Colour getTextColour (const ProjectListRow& row) const override;

    KorvaProjectList& m_korvaList;
    std::function<int()> m_currentProjectIndex;
};

class PcProjectTableModel final : public ProjectTableModel
{
public:
    explicit PcProjectTableModel (PcProjectList& list) : ProjectTableModel (list) {}
};

} // namespace korva
