#pragma once

// Project files on the computer: the .prj format (the device's 4096-byte
// blocks stored unchanged: a header block, then one block per pattern), the
// hidden file an import is assembled in, the naming of finished projects,
// the name checks, and the capacity figures of the last project-info answer.
// The file operations say why they failed (the system's reason), for the
// messages that name the file or folder. The request sequencer reaches it as
// its project side.

#include "core/infra/AsyncTask.h"
#include "core/infra/FileTools.h"
#include "core/projects/ProjectSide.h"

#include <atomic>

namespace korva
{

class ProjectDataManager final : public infra::TaskDrivenThread,
                                 public juce::DeletedAtShutdown,
                                 public ProjectSide
{
public:
    static constexpr int kBlockSize = 4096;
    static constexpr int kNameOffset = 4;
    static constexpr int kNameField = 33; // 32 characters and a NUL
    static constexpr int kMaxNameLength = 32;

    static ProjectDataManager* getInstance();

    ProjectDataManager();
    ~ProjectDataManager() override;

    // An import is assembled in a hidden file of the data folder, so that a
    // folder that cannot take the project shows so at the first block (the
    // failure names the folder), and the finished project reaches its name
    // by a rename. Creates the file afresh (empty); a null file and the
    // failure when it cannot be.
    juce::File beginImport (infra::FileFailure& failure) override;
    // Imports are assembled in this folder instead of the data folder while
    // it is set (a run of imports stages them apart); a null file ends that.
    void setImportFolder (const juce::File& folder);
    static constexpr const char* kImportFileName = ".korva-import.prj.part";
    // Into the folder the import was assembled in (saveToFolder).
    juce::File finishImport (const juce::File& assembled, infra::FileFailure& failure) override;
    // Where a project the device pushes unasked is assembled: in the
    // temporary folder, so that a push during an import leaves the import whole.
    juce::File getPushedProjectFile() const;
    // Assembled in getPushedProjectFile, then saved to the data folder.
    bool storePushedProject (const juce::MemoryBlock& block) override;

    // Appends the bytes to an existing file; false (and the errno) when
    // anything could not be written.
    static bool writeBlockToFile (const juce::File& file, const juce::MemoryBlock& bytes, int* error = nullptr);
    // Block 0 of a .prj file; true when the whole block was read and it is a
    // header. A file cut short inside its header is no project to send.
    static bool readProjectHeader (const juce::File& file, juce::MemoryBlock& block,
                                   infra::FileFailure* failure = nullptr);
    // Pattern block i of a .prj file; true when the whole block was read
    // and it is a pattern block.
    static bool readPatternBlock (const juce::File& file, juce::MemoryBlock& block, int i,
                                  infra::FileFailure* failure = nullptr);
    static constexpr const char* kEndedEarly = "The file ended early";
    static constexpr const char* kNotAProject = "Not a project file";

    // Set bits of the sixteen 64-bit pattern bitmaps; -1 for a short block.
    static int countPatterns (const juce::MemoryBlock& block);
    static bool isProjectHeader (const juce::MemoryBlock& block);
    static bool isPatternBlock (const juce::MemoryBlock& block);
    // The name at offsets 4 .. 35, up to the first NUL or 32 characters.
    static juce::String readProjectName (const juce::MemoryBlock& block);
    // Rewrites the name field of a .prj file in place (the name, a NUL, zero
    // padding; at most 32 characters are kept). Nothing else in the file
    // changes, and nothing at all when it cannot be opened for writing.
    // False (and the errno) when the file could not be written; never
    // creates one.
    static bool writeProjectName (const juce::File& file, const juce::String& name, int* error = nullptr);

    // Moves a finished file into the data folder as
    // "<name>_<yyyymmdd_hhmmss>.prj", the whole name mended into one the
    // system takes (projectfilename::mendForThisSystem). A file of that name
    // is never replaced: the new one gets a numbered suffix. Returns the
    // file, or a null file and the failure (about the folder) when the
    // project could not be stored; the folder is then as it was.
    juce::File saveToDataDirectory (const juce::File& finished, infra::FileFailure* failure = nullptr);
    // The same into another folder (a finished import: the folder it was
    // assembled in; the korva tool's copies).
    juce::File saveToFolder (const juce::File& finished, const juce::File& folder,
                             infra::FileFailure* failure = nullptr);
    // Copies a project file into a folder under its own name, with the same
    // numbered suffix when that name is taken; the file itself stays.
    static juce::File copyToFolder (const juce::File& project, const juce::File& folder,
                                    infra::FileFailure* failure = nullptr);

    // Every byte of the UTF-8 form in 1 .. 127 and none of \ / : * ? " < > | ~.
    static bool isValidProjectName (const juce::String& name);
    static bool isProjectIndexOnDevice (int deviceIndex);
    static bool isProjectNameOnDevice (const juce::String& name);

    // The device project being imported; set by the project page before it asks.
    juce::String getProjectName() const;
    void setProjectName (const juce::String& name);

    // The rows of the KORVA's list (KorvaProjectList) and the figures below.
    bool updateDeviceProjects (const juce::MemoryBlock& projectInfo, const DeviceRoom& room) override;

    // From the last project-info answer that changed the list (-1: none yet).
    std::atomic<int> remainingProjectCapacity { -1 };
    std::atomic<int> remainingPatternCapacity { -1 };
    std::atomic<int> currentProjectIndex { 0 };

    // Where finished projects go (the data folder); tests point it elsewhere.
    std::function<juce::File()> dataDirectory;
    // The time a finished project's name is stamped with (when empty, the
    // current time); tests fix it.
    std::function<juce::Time()> clock;

private:
    static juce::File placeInFolder (const juce::File& source, const juce::File& folder, const juce::String& base,
                                     bool keepSource, infra::FileFailure* failure);

    mutable juce::CriticalSection m_lock;
    juce::String m_projectName;
    juce::File m_importFolder;
    mutable juce::File m_tempFolder;

    static ProjectDataManager* s_instance;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProjectDataManager)
};

} // namespace korva
