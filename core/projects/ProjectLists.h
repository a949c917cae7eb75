#pragma once

// The two project lists behind the project page's tables: the projects on
// the KORVA (rebuilt from each project-info response) and the project files
// in the data folder. Rows are guarded: the device list is rebuilt on the
// sequencer's thread while the message thread paints and reads it.

#include <juce_events/juce_events.h>

#include <optional>
#include <vector>

namespace korva
{

struct ProjectListRow
{
    int index = 0;
    juce::String name;
    int patterns = 0;
    juce::String creationTime;
};

// Rows and their sorting, shared by both lists.
class ProjectList
{
public:
    virtual ~ProjectList() = default;

    int getNumRows() const;
    std::optional<ProjectListRow> getRow (int row) const;
    std::vector<ProjectListRow> getRows() const;

    // Stable sort by the column's key, compared as text in natural order;
    // ties go by the rows' index. Other column ids are ignored.
    void sortOrderChanged (int columnId, bool forwards);

    // Column texts as the tables show them.
    virtual juce::String getCellText (const ProjectListRow& row, int columnId) const = 0;

protected:
    // Which row field a column sorts by.
    virtual juce::String sortKey (const ProjectListRow& row, int columnId) const = 0;
    virtual bool isSortableColumn (int columnId) const { return columnId >= 1 && columnId <= 3; }
    void replaceRows (std::vector<ProjectListRow> rows);

    mutable juce::CriticalSection m_lock;
    std::vector<ProjectListRow> m_rows;
};

class KorvaProjectList final : public ProjectList, public juce::ActionBroadcaster, public juce::DeletedAtShutdown
{
public:
    static constexpr const char* kInvalidRowsChange = "InvalidRowsChange";
    static constexpr const char* kValidRowsChange = "ValidRowsChange";

    static KorvaProjectList* getInstance();
    static void deleteInstance();

    KorvaProjectList() = default;
    ~KorvaProjectList() override;

    // Rebuilds the rows from a validated project-info response; false (rows
    // untouched) when the payload equals the previous one byte for byte.
    bool updateFromProjectInfo (const juce::MemoryBlock& payload);
    // Forgets the previous payload and removes all rows.
    void clear();

    bool hasIndex (int index) const;
    bool hasName (const juce::String& name) const;

    // The selection notice: "InvalidRowsChange" for the project the KORVA is
    // using, "ValidRowsChange" for any other row, nothing outside the rows.
    void selectedRowsChanged (int lastRowSelected, int currentProjectIndex);

    juce::String getCellText (const ProjectListRow& row, int columnId) const override;

private:
    juce::String sortKey (const ProjectListRow& row, int columnId) const override;

    juce::MemoryBlock m_previousPayload;
    static KorvaProjectList* s_instance;
};

class PcProjectList final : public ProjectList, public juce::DeletedAtShutdown
{
public:
    static PcProjectList* getInstance();
    static void deleteInstance();

    PcProjectList() = default;
    ~PcProjectList() override;

    // Rebuilds the rows from the project files among these (in this order).
    void setFiles (const juce::Array<juce::File>& files);
    // The file of a row, as last given to setFiles.
    juce::File getFile (int row) const;
    // A file is listed when its first block reads whole and is a project
    // header, which `header` then holds.
    static bool readHeader (const juce::File& file, juce::MemoryBlock& header);

    juce::String getCellText (const ProjectListRow& row, int columnId) const override;

private:
    juce::String sortKey (const ProjectListRow& row, int columnId) const override;

    juce::Array<juce::File> m_files;
    static PcProjectList* s_instance;
};

} // namespace korva
