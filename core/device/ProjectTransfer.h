#pragma once

// The computer's side of the project transfers: the import of a project from
// the KORVA, block by block into a file of the data folder, and the export of
// a project file to it, block by block; the user's cancel of each, how far
// each got, and what failed on this side. The sequence manager owns one and
// speaks to the KORVA; this holds the state and does the file work.
//
// The manager's thread drives it. The pending and cancel signals are also
// read on the requestor's thread, the counts by the progress timer on the
// message thread, and the local failure anywhere.

#include "core/infra/FileTools.h"
#include "core/projects/ProjectSide.h"

#include <atomic>

namespace korva
{

class ProjectTransfer final
{
public:
    struct Count
    {
        int done = 0;
        int total = 0;
    };

    ProjectTransfer() = default;

    // Where imports are saved. Without one, an import fails as with no data
    // folder chosen.
    void setProjectSide (ProjectSide* projects) noexcept { m_projects = projects; }

    //==============================================================================
    // Import

    // A new import of device project `projectIndex`; false (nothing changes)
    // while the cancel of the previous one is still being carried out.
    bool startImport (juce::uint8 projectIndex);
    juce::uint8 getImportProjectIndex() const noexcept { return m_importProjectIndex; }

    enum class ImportBlock
    {
        kWritten,   // the block is in the file: the next one may come
        kCancelled, // the user cancelled: nothing is kept
        kWrongSize, // a header or pattern block of another size than 4096 bytes
        kNotSaved,  // a pattern before any header, or the data folder would not take the block
        kUnknown    // neither a header nor a pattern block
    };
    // A block of the project the device sends. Every outcome but kWritten and
    // kUnknown ends the import here: the file assembled so far is removed,
    // and after a failure the device's last answer only confirms the abort.
    ImportBlock takeImportBlock (const juce::MemoryBlock& block);

    // The device says the whole project was sent: saves it under its name.
    // True when the import ended well: saved, or cancelled by the user
    // (nothing saved, nothing went wrong). False when the project did not
    // arrive whole or could not be saved.
    bool completeImport();
    // An import that failed here and was aborted (takeImportBlock).
    bool importFailed() const noexcept { return m_importFailed; }

    //==============================================================================
    // Export

    // The file the next export sends (the room check comes first).
    void setExportFile (const juce::File& file);
    // Reads the header of the export file into `header` and starts the
    // export; false (and the local failure) when the file cannot be read.
    bool startExport (juce::MemoryBlock& header);

    enum class ExportBlock
    {
        kBlock,     // the next pattern block, to send
        kEnd,       // all blocks sent: the end, to send
        kCancelled, // the user cancelled: the abort, to send
        kUnreadable // the file could not be read: the abort, to send
    };
    // What goes to the device next; the block for kBlock. After anything but
    // kBlock the export is finished and the device's next answer confirms it.
    ExportBlock nextExportBlock (juce::MemoryBlock& block);
    // The block of kBlock went out.
    void exportBlockSent() noexcept { ++m_exportPatternIndex; }
    bool isExportFinished() const noexcept { return m_exportFinished; }
    // The export was aborted because its file could not be read.
    bool exportReadFailed() const noexcept { return m_exportReadFailed; }

    //==============================================================================
    // Both

    // The request that goes out now was asked for and not cancelled in the
    // meantime: the user is shown that it started. Once per request.
    bool takeImportAnnouncement() noexcept { return m_importPending.exchange (false) && ! m_importCancel; }
    bool takeExportAnnouncement() noexcept { return m_exportPending.exchange (false) && ! m_exportCancel; }

    void cancelImport() noexcept { m_importCancel = true; }
    void cancelExport() noexcept { m_exportCancel = true; }
    bool isImportCancelled() const noexcept { return m_importCancel.load(); }
    bool isExportCancelled() const noexcept { return m_exportCancel.load(); }

    // The request ended, however it ended: nothing unfinished stays in the
    // data folder (a finished import was moved to its name already).
    void endImport();
    void endExport();

    Count getImportCount() const noexcept { return { m_importPatternCount.load(), m_importPatternTotal.load() }; }
    Count getExportCount() const noexcept { return { m_exportPatternIndex.load(), m_exportPatternTotal.load() }; }

    // What failed on this side of the transfer under way or ended last (the
    // folder the project could not be saved in, or the project file that
    // could not be read, and why); empty when nothing did.
    infra::FileFailure getLocalFailure() const;

private:
    void setLocalFailure (const infra::FileFailure& failure);
    // Removes what an import assembled so far.
    void discardImportFile();
    // Ends the import here after a failure.
    ImportBlock failImport (ImportBlock why);
    ImportBlock writeImportBlock (const juce::MemoryBlock& block);

    ProjectSide* m_projects = nullptr;

    std::atomic<bool> m_importPending { false };
    std::atomic<bool> m_importCancel { false };
    juce::File m_importTempFile;
    juce::uint8 m_importProjectIndex = 0;
    std::atomic<int> m_importPatternTotal { 0 };
    std::atomic<int> m_importPatternCount { 0 };
    bool m_importFailed = false;

    std::atomic<bool> m_exportPending { false };
    std::atomic<bool> m_exportCancel { false };
    bool m_exportFinished = false;
    bool m_exportReadFailed = false;
    juce::File m_exportFile;
    std::atomic<int> m_exportPatternTotal { 0 };
    std::atomic<int> m_exportPatternIndex { 0 };

    mutable juce::CriticalSection m_localFailureLock;
    infra::FileFailure m_localFailure;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProjectTransfer)
};

} // namespace korva
