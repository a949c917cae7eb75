#include "core/device/ProjectTransfer.h"

#include "core/projects/ProjectDataManager.h"

namespace korva
{

namespace
{
constexpr size_t kBlockSize = ProjectDataManager::kBlockSize;
} // namespace

//==============================================================================
// Import

bool ProjectTransfer::startImport (juce::uint8 projectIndex)
{
    if (m_importCancel)
        return false;

    setLocalFailure ({});
    m_importPending = true;
    m_importFailed = false;
    m_importProjectIndex = projectIndex;
    m_importPatternTotal = 0;
    m_importPatternCount = 0;
    return true;
}

ProjectTransfer::ImportBlock ProjectTransfer::takeImportBlock (const juce::MemoryBlock& block)
{
    if (m_importCancel)
    {
        discardImportFile();
        return ImportBlock::kCancelled;
    }

    if (ProjectDataManager::isProjectHeader (block))
    {
        if (block.getSize() != kBlockSize)
            return failImport (ImportBlock::kWrongSize);

        m_importPatternTotal = ProjectDataManager::countPatterns (block);
        m_importPatternCount = 0;
        discardImportFile();
        infra::FileFailure failure { {}, 0, ProjectSide::kNoDataFolder };
        if (m_projects != nullptr)
            m_importTempFile = m_projects->beginImport (failure);
        if (failure.failed())
        {
            setLocalFailure (failure);
            return failImport (ImportBlock::kNotSaved);
        }
        return writeImportBlock (block);
    }

    if (ProjectDataManager::isPatternBlock (block))
    {
        if (block.getSize() != kBlockSize)
            return failImport (ImportBlock::kWrongSize);

        ++m_importPatternCount;
        return writeImportBlock (block);
    }

    return ImportBlock::kUnknown;
}

ProjectTransfer::ImportBlock ProjectTransfer::writeImportBlock (const juce::MemoryBlock& block)
{
    if (m_importTempFile == juce::File())
        return failImport (ImportBlock::kNotSaved); // a pattern before any header

    // A block the data folder would not take: the failure names the folder.
    int error = 0;
    if (ProjectDataManager::writeBlockToFile (m_importTempFile, block, &error))
        return ImportBlock::kWritten;
    setLocalFailure ({ m_importTempFile.getParentDirectory(), error, {} });
    return failImport (ImportBlock::kNotSaved);
}

ProjectTransfer::ImportBlock ProjectTransfer::failImport (ImportBlock why)
{
    m_importFailed = true;
    discardImportFile();
    return why;
}

bool ProjectTransfer::completeImport()
{
    if (m_importCancel)
        return true; // cancelled by the user: nothing is saved, nothing went wrong

    // The device calls it complete, but the project did not arrive whole.
    if (m_importPatternCount.load() != m_importPatternTotal.load() || m_importTempFile == juce::File())
        return false;

    infra::FileFailure failure { {}, 0, ProjectSide::kNoDataFolder };
    const auto saved = m_projects != nullptr ? m_projects->finishImport (m_importTempFile, failure) : juce::File();
    if (saved == juce::File())
    {
        setLocalFailure (failure);
        return false;
    }
    m_importTempFile = juce::File();
    return true;
}

void ProjectTransfer::discardImportFile()
{
    if (m_importTempFile != juce::File())
        infra::FileTools::remove (m_importTempFile);
    m_importTempFile = juce::File();
}

void ProjectTransfer::endImport()
{
    m_importCancel = false;
    discardImportFile();
}

//==============================================================================
// Export

void ProjectTransfer::setExportFile (const juce::File& file)
{
    setLocalFailure ({});
    m_exportFile = file;
}

bool ProjectTransfer::startExport (juce::MemoryBlock& header)
{
    // The file may have changed or gone since it was listed.
    infra::FileFailure failure;
    if (! ProjectDataManager::readProjectHeader (m_exportFile, header, &failure))
    {
        setLocalFailure (failure);
        return false;
    }

    m_exportPatternIndex = 0;
    m_exportPatternTotal = ProjectDataManager::countPatterns (header);
    m_exportPending = true;
    m_exportFinished = false;
    m_exportReadFailed = false;
    return true;
}

ProjectTransfer::ExportBlock ProjectTransfer::nextExportBlock (juce::MemoryBlock& block)
{
    if (m_exportPatternIndex.load() >= m_exportPatternTotal.load())
    {
        m_exportFinished = true;
        return ExportBlock::kEnd;
    }

    infra::FileFailure failure;
    if (! ProjectDataManager::readPatternBlock (m_exportFile, block, m_exportPatternIndex.load(), &failure))
    {
        setLocalFailure (failure);
        m_exportFinished = true;
        m_exportReadFailed = true;
        return ExportBlock::kUnreadable;
    }
    if (m_exportCancel)
    {
        m_exportFinished = true;
        return ExportBlock::kCancelled;
    }
    return ExportBlock::kBlock;
}

void ProjectTransfer::endExport()
{
    m_exportFinished = false;
    m_exportCancel = false;
}

//==============================================================================
void ProjectTransfer::setLocalFailure (const infra::FileFailure& failure)
{
    const juce::ScopedLock lock (m_localFailureLock);
    m_localFailure = failure;
}

infra::FileFailure ProjectTransfer::getLocalFailure() const
{
    const juce::ScopedLock lock (m_localFailureLock);
    return m_localFailure;
}

} // namespace korva
