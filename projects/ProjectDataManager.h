#pragma once

// Project files on the computer: the .prj format (the device's 4096-byte
// blocks stored unchanged: a header block, then one block per pattern), the
// temporary file an import is assembled in, the naming of finished projects,
// the name checks, and the capacity figures of the last project-info answer.

#include "infra/AsyncTask.h"

#include <atomic>

class ProjectDataManager final : public infra::TaskDrivenThread, public juce::DeletedAtShutdown
{
public:
    static constexpr int kBlockSize = 4096;
    static constexpr int kNameOffset = 4;
    static constexpr int kNameField = 33; // 32 characters and a NUL
    static constexpr int kMaxNameLength = 32;

    static ProjectDataManager* getInstance();

    ProjectDataManager();
    ~ProjectDataManager() override;

    // The file an import is assembled in, below the per-user application data.
    juce::File getTempProjectFile() const;
    // Creates the temporary file afresh (empty) and returns it.
    juce::File prepareTempProjectFile();
    // Where a project the device pushes unasked is assembled: beside the
    // import's file, so that a push during an import leaves the import whole.
    juce::File getPushedProjectFile() const;

    // Appends the bytes to the file; false when anything could not be written.
    static bool writeBlockToFile (const juce::File& file, const juce::MemoryBlock& bytes);
    // Block 0 of a .prj file; true when something was read and it is a header.
    static bool readProjectHeader (const juce::File& file, juce::MemoryBlock& block);
    // Pattern block i of a .prj file; true when something was read and it is a pattern block.
    static bool readPatternBlock (const juce::File& file, juce::MemoryBlock& block, int i);

    // Set bits of the sixteen 64-bit pattern bitmaps; -1 for a short block.
    static int countPatterns (const juce::MemoryBlock& block);
    static bool isProjectHeader (const juce::MemoryBlock& block);
    static bool isPatternBlock (const juce::MemoryBlock& block);
    // The name at offsets 4 .. 35, up to the first NUL or 32 characters.
    static juce::String readProjectName (const juce::MemoryBlock& block);
    // Rewrites the name field of a .prj file in place (the name, a NUL, zero
    // padding; at most 32 characters are kept). Nothing else in the file
    // changes. False when the file could not be opened or written.
    static bool writeProjectName (const juce::File& file, const juce::String& name);

    // Moves the finished import into the data folder as
    // "<name>_<yyyymmdd_hhmmss>.prj". A file of that name is never replaced:
    // the new one gets a numbered suffix. Returns the file, or a null file
    // when the project could not be stored.
    juce::File saveTempProjectToDataDirectory();
    // The same for another finished file (a pushed project).
    juce::File saveToDataDirectory (const juce::File& finished);
    // The same into another folder (the korva tool's backups).
    juce::File saveToFolder (const juce::File& finished, const juce::File& folder);

    // Every byte of the UTF-8 form in 1 .. 127 and none of \ / : * ? " < > | ~.
    static bool isValidProjectName (const juce::String& name);
    static bool isProjectIndexOnDevice (int deviceIndex);
    static bool isProjectNameOnDevice (const juce::String& name);

    // The device project being imported; set by the project page before it asks.
    juce::String getProjectName() const;
    void setProjectName (const juce::String& name);

    // From the last project-info answer that changed the list (-1: none yet).
    std::atomic<int> remainingProjectCapacity { -1 };
    std::atomic<int> remainingPatternCapacity { -1 };
    std::atomic<int> currentProjectIndex { 0 };

    // Where finished projects go (the data folder); tests point it elsewhere.
    std::function<juce::File()> dataDirectory;

private:
    mutable juce::CriticalSection m_lock;
    juce::String m_projectName;
    mutable juce::File m_tempFile;

    static ProjectDataManager* s_instance;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProjectDataManager)
};
