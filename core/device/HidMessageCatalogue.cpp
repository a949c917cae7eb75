// What every answer of the KORVA means: the response interpretation of the
// sequence manager, one function per data type. All of it runs on the
// manager's thread.

#include "core/device/HidSequenceManager.h"

#include "core/infra/FileTools.h"
#include "core/projects/ProjectDataManager.h"
#include "core/projects/ProjectLists.h"

#include <initializer_list>

namespace korva
{

namespace
{
juce::uint8 byteAt (const juce::MemoryBlock& block, size_t i)
{
    return static_cast<const juce::uint8*> (block.getData())[i];
}

juce::MemoryBlock oneByte (int value)
{
    const auto b = static_cast<juce::uint8> (value);
    return juce::MemoryBlock (&b, 1);
}

// A status answer's result by the status byte: entry s of `byStatus` for
// status s (0 to 3), 1002 for any other status, 1001 for a length other than 1.
// kGoAhead in the table means the device agreed and the exchange goes on.
constexpr int kGoAhead = 0;
int statusResult (const juce::MemoryBlock& data, std::initializer_list<int> byStatus)
{
    if (data.getSize() != 1)
        return HidSequenceManager::kResultLengthError;
    const size_t status = byteAt (data, 0);
    return status < byStatus.size() ? *(byStatus.begin() + status) : HidSequenceManager::kResultDataError;
}

constexpr size_t kRecordSize = 36;
constexpr int kMaxProjects = 128;
constexpr int kMaxPatterns = 1024;
constexpr size_t kBlockSize = 4096;
} // namespace

void HidSequenceManager::onProjectInfo (const juce::MemoryBlock& data)
{
    release();

    const size_t size = data.getSize();
    int result = kResultOK;
    bool changed = false;

    if (size == 1)
    {
        result = byteAt (data, 0) == 2 ? kResultBusy : kResultDataError;
    }
    else if (size < 5 || (size - 5) % kRecordSize != 0)
    {
        result = kResultLengthError;
    }
    else
    {
        const size_t n = byteAt (data, 0);
        bool valid = n <= (size_t) kMaxProjects && 5 + kRecordSize * n <= size;
        for (size_t i = 0; valid && i < n; ++i)
        {
            const size_t record = 1 + kRecordSize * i;
            const int index = byteAt (data, record);
            const int patterns = (byteAt (data, record + 1) << 8) | byteAt (data, record + 2);
            valid = index <= kMaxProjects && patterns <= kMaxPatterns;
        }

        if (! valid)
        {
            result = kResultDataError;
        }
        else if (KorvaProjectList::getInstance()->updateFromProjectInfo (data))
        {
            changed = true;
            auto* projects = ProjectDataManager::getInstance();
            const size_t trailer = 1 + kRecordSize * n;
            projects->remainingProjectCapacity = byteAt (data, trailer);
            projects->remainingPatternCapacity = (byteAt (data, trailer + 1) << 8) | byteAt (data, trailer + 2);
            projects->currentProjectIndex = byteAt (data, trailer + 3);
        }
    }

    notify ([&] (HidSequenceManagerListener& l) { l.getProjectInfoResponsed (result, changed); });
}

void HidSequenceManager::onDeleteOrRename (juce::uint8 dataType, const juce::MemoryBlock& data)
{
    const size_t size = data.getSize();
    int result;

    if (size != 1 && size != 2)
    {
        result = kResultLengthError;
    }
    else
    {
        switch (byteAt (data, 0))
        {
            case 1:
                // Still working: take the percentage (never backwards) and poll.
                if (size == 2)
                {
                    const double p = byteAt (data, 1) / 100.0;
                    if (m_requestProgress.load() <= p && p <= 1.0)
                        m_requestProgress = p;
                }
                sendDirect (dataType, oneByte (0x01));
                return;
            case 0: result = kResultRefused; break;
            case 2: result = kResultBusy; break;
            case 3: result = kResultOK; break;
            default: result = kResultDataError; break;
        }
    }

    finishRequest();
    if (dataType == kDeleteProject)
        notify ([&] (HidSequenceManagerListener& l) { l.deleteProjectResponsed (result); });
    else
        notify ([&] (HidSequenceManagerListener& l) { l.renameProjectResponsed (result); });
}

void HidSequenceManager::sendImportCommand (juce::uint8 command)
{
    juce::MemoryBlock payload;
    payload.append (&m_importProjectIndex, 1);
    payload.append (&command, 1);
    sendDirect (kImportProject, payload);
}

void HidSequenceManager::discardImportFile()
{
    if (m_importTempFile != juce::File())
        infra::FileTools::remove (m_importTempFile);
    m_importTempFile = juce::File();
}

void HidSequenceManager::setLocalFailure (const infra::FileFailure& failure)
{
    const juce::ScopedLock lock (m_localFailureLock);
    m_localFailure = failure;
}

infra::FileFailure HidSequenceManager::getLocalFailure() const
{
    const juce::ScopedLock lock (m_localFailureLock);
    return m_localFailure;
}

void HidSequenceManager::onImportProject (const juce::MemoryBlock& data)
{
    constexpr juce::uint8 kNext = 0x01, kAbort = 0x02;
    auto* projects = ProjectDataManager::getInstance();

    if (data.getSize() != 1)
    {
        if (m_importCancel)
        {
            discardImportFile();
            sendImportCommand (kAbort);
            return;
        }

        const auto abortWith = [this] (int result) {
            m_importFailed = true;
            discardImportFile();
            sendImportCommand (kAbort);
            notify ([&] (HidSequenceManagerListener& l) { l.importProjectDataResponsed (result); });
        };
        // A block the data folder would not take: the failure names the folder.
        const auto writeBlock = [this, &abortWith] (const juce::MemoryBlock& block) {
            if (m_importTempFile == juce::File())
                return abortWith (kResultDataError); // a pattern before any header
            int error = 0;
            if (ProjectDataManager::writeBlockToFile (m_importTempFile, block, &error))
                return sendImportCommand (kNext);
            setLocalFailure ({ m_importTempFile.getParentDirectory(), error, {} });
            abortWith (kResultDataError);
        };

        if (ProjectDataManager::isProjectHeader (data))
        {
            if (data.getSize() != kBlockSize)
                return abortWith (kResultLengthError);

            m_importPatternTotal = ProjectDataManager::countPatterns (data);
            m_importPatternCount = 0;
            discardImportFile();
            infra::FileFailure failure;
            m_importTempFile = projects->beginImport (failure);
            if (failure.failed())
            {
                setLocalFailure (failure);
                return abortWith (kResultDataError);
            }
            return writeBlock (data);
        }

        if (ProjectDataManager::isPatternBlock (data))
        {
            if (data.getSize() != kBlockSize)
                return abortWith (kResultLengthError);

            ++m_importPatternCount;
            return writeBlock (data);
        }

        finishRequest();
        notify ([] (HidSequenceManagerListener& l) { l.importProjectDataResponsed (kResultDataError); });
        return;
    }

    if (m_importFailed)
    {
        // The device's answer to the abort of a failure already reported.
        finishRequest();
        return;
    }

    int result;
    switch (byteAt (data, 0))
    {
        case 1:
            if (m_importCancel)
            {
                result = kResultOK; // cancelled by the user: nothing is saved, nothing went wrong
            }
            else if (m_importPatternCount.load() != m_importPatternTotal.load() || m_importTempFile == juce::File())
            {
                // The device calls it complete, but the project did not arrive whole.
                result = kResultDataError;
            }
            else
            {
                infra::FileFailure failure;
                const auto folder = m_importTempFile.getParentDirectory();
                const auto saved = projects->saveToFolder (m_importTempFile, folder, &failure);
                if (saved == juce::File())
                    setLocalFailure (failure);
                else
                    m_importTempFile = juce::File();
                result = saved != juce::File() ? kResultOK : kResultDataError;
            }
            break;
        case 0: result = kResultRefused; break;
        case 2: result = kResultBusy; break;
        default: result = kResultDataError; break;
    }

    finishRequest();
    notify ([&] (HidSequenceManagerListener& l) { l.importProjectDataResponsed (result); });
}

void HidSequenceManager::onQueryExportProject (const juce::MemoryBlock& data)
{
    const int result = statusResult (data, { kResultNoSpace, kGoAhead, kResultBusy, kResultDataError });
    if (result == kGoAhead)
        requestExportProjectData();
    release();
    if (result != kGoAhead)
        notify ([&] (HidSequenceManagerListener& l) { l.queryExportProjectResponsed (result); });
}

void HidSequenceManager::onExportProject (const juce::MemoryBlock& data)
{
    int result;
    if (data.getSize() != 1)
    {
        result = kResultLengthError;
    }
    else if (byteAt (data, 0) == 1)
    {
        if (m_exportFinished)
        {
            // The end (or an abort) was confirmed. An abort after a file that
            // could not be read is a failure, not a completed export.
            result = m_exportReadFailed ? kResultDataError : kResultOK;
        }
        else if (m_exportPatternIndex.load() < m_exportPatternTotal.load())
        {
            juce::MemoryBlock block;
            infra::FileFailure failure;
            if (! ProjectDataManager::readPatternBlock (m_exportFile, block, m_exportPatternIndex.load(), &failure))
            {
                setLocalFailure (failure);
                sendDirect (kExportProject, oneByte (0x01));
                m_exportFinished = true;
                m_exportReadFailed = true;
                notify ([] (HidSequenceManagerListener& l) { l.readProjectFileErrorOccurred(); });
            }
            else if (m_exportCancel)
            {
                sendDirect (kExportProject, oneByte (0x01));
                m_exportFinished = true;
            }
            else
            {
                sendDirect (kExportProject, block);
                ++m_exportPatternIndex;
            }
            return;
        }
        else
        {
            sendDirect (kExportProject, oneByte (0x00));
            m_exportFinished = true;
            return;
        }
    }
    else
    {
        result = byteAt (data, 0) == 0 ? kResultRefused : kResultDataError;
    }

    finishRequest();
    notify ([&] (HidSequenceManagerListener& l) { l.exportProjectDataResponsed (result); });
}

void HidSequenceManager::onPatternInfo (const juce::MemoryBlock& data)
{
    release();
    int result = kResultLengthError;
    if (data.getSize() == 20)
    {
        if (m_patterns != nullptr)
            m_patterns->setPatternInfo (data);
        result = kResultOK;
    }
    notify ([&] (HidSequenceManagerListener& l) { l.getPatternInfoResponsed (result); });
}

void HidSequenceManager::onImportPattern (const juce::MemoryBlock& data)
{
    release();
    int result = kResultLengthError;
    juce::File file;

    if (data.getSize() == kBlockSize)
    {
        if (m_patterns == nullptr)
        {
            result = kResultRenderError;
        }
        else
        {
            file = m_patterns->makeMidiFile();
            switch (m_patterns->convertPatternToMidiFile (data, file))
            {
                case 0: result = kResultOK; break;
                case 1: result = kResultRenderError; break;
                case 3: result = kResultDeviceDataOld; break;
                case 4: result = kResultAppDataOld; break;
                default: result = kResultMidiWriteError; break;
            }
        }
    }
    notify ([&] (HidSequenceManagerListener& l) { l.importPatternDataResponsed (file, result); });
}

void HidSequenceManager::onQueryExportPattern (const juce::MemoryBlock& data)
{
    const int result =
        statusResult (data, { kResultDataError, kGoAhead, kResultDeviceDataOld, kResultAppDataOld });
    if (result == kGoAhead)
        requestExportPatternData();
    release();
    if (result != kGoAhead)
        notify ([&] (HidSequenceManagerListener& l) { l.queryExportPatternResponsed (result); });
}

void HidSequenceManager::onExportPattern (const juce::MemoryBlock& data)
{
    release();
    const int result = statusResult (data, { kResultRefused, kResultOK });
    notify ([&] (HidSequenceManagerListener& l) { l.exportPatternDataResponsed (result); });
}

void HidSequenceManager::onPushedProject (const juce::MemoryBlock& data)
{
    // The push answers nothing: a request in progress goes on, and the
    // device still owes it an answer.
    const auto inFlight = m_requestor->getInFlightType();
    if (inFlight == HidSequenceRequestor::kNone)
        release();
    else if (inFlight != kVersionInfo)
        armReplyWatch();

    int result = kResultLengthError;
    if (data.getSize() == kBlockSize)
    {
        // Assembled apart from the temporary file of an import that may be under way.
        auto* projects = ProjectDataManager::getInstance();
        const auto temp = projects->getPushedProjectFile();
        result = infra::FileTools::createAnyhow (temp) && ProjectDataManager::writeBlockToFile (temp, data)
                         && projects->saveToDataDirectory (temp).existsAsFile()
                     ? kResultOK
                     : kResultDataError;
        temp.deleteFile();
    }
    notify ([&] (HidSequenceManagerListener& l) { l.receivedProjectDataResponsed (result); });
}

void HidSequenceManager::onVersionInfo()
{
    stopTimer (kVersionTimer);
    release();
}

} // namespace korva
