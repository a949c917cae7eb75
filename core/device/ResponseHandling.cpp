// What every answer of the KORVA means: the response interpretation of the
// sequence manager, one function per data type. The project transfers' state
// and file work are the ProjectTransfer's; here is what goes back to the
// KORVA and what the listeners are told. All of it runs on the manager's
// thread.

#include "core/device/HidSequenceManager.h"

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

HidSequenceManager::ResultCode HidSequenceManager::resultOf (PatternToMidiResult result) noexcept
{
    switch (result)
    {
        case kMidiFileWritten: return kResultOK;
        case kRenderNotFinished: return kResultRenderError;
        case kPatternFormatOlder: return kResultDeviceDataOld;
        case kPatternFormatNewer: return kResultAppDataOld;
        case kMidiFileNotWritten:
        default: return kResultMidiWriteError;
    }
}

void HidSequenceManager::handleAnswer (juce::uint8 dataType, const juce::MemoryBlock& data)
{
    switch (dataType)
    {
        case kProjectInfo: onProjectInfo (data); break;
        case kDeleteProject:
        case kRenameProject: onDeleteOrRename (dataType, data); break;
        case kImportProject: onImportProject (data); break;
        case kQueryExportProject: onQueryExportProject (data); break;
        case kExportProject: onExportProject (data); break;
        case kPatternInfo: onPatternInfo (data); break;
        case kImportPattern: onImportPattern (data); break;
        case kQueryExportPattern: onQueryExportPattern (data); break;
        case kExportPattern: onExportPattern (data); break;
        case kPushedProject: onPushedProject (data); break;
        case kVersionInfo: onVersionInfo(); break;
        default: break;
    }
}

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
        else if (m_projects != nullptr)
        {
            const size_t trailer = 1 + kRecordSize * n;
            ProjectSide::DeviceRoom room;
            room.remainingProjects = byteAt (data, trailer);
            room.remainingPatterns = (byteAt (data, trailer + 1) << 8) | byteAt (data, trailer + 2);
            room.currentProject = byteAt (data, trailer + 3);
            changed = m_projects->updateDeviceProjects (data, room);
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
                    advanceProgress (byteAt (data, 1) / 100.0);
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
    const auto projectIndex = m_transfer.getImportProjectIndex();
    payload.append (&projectIndex, 1);
    payload.append (&command, 1);
    sendDirect (kImportProject, payload);
}

void HidSequenceManager::onImportProject (const juce::MemoryBlock& data)
{
    constexpr juce::uint8 kNext = 0x01, kAbort = 0x02;

    if (data.getSize() != 1)
    {
        int result = kResultDataError;
        switch (m_transfer.takeImportBlock (data))
        {
            case ProjectTransfer::ImportBlock::kWritten: sendImportCommand (kNext); return;
            case ProjectTransfer::ImportBlock::kCancelled: sendImportCommand (kAbort); return;
            case ProjectTransfer::ImportBlock::kUnknown:
                finishRequest();
                notify ([] (HidSequenceManagerListener& l) { l.importProjectDataResponsed (kResultDataError); });
                return;
            case ProjectTransfer::ImportBlock::kWrongSize: result = kResultLengthError; break;
            case ProjectTransfer::ImportBlock::kNotSaved: result = kResultDataError; break;
        }
        // Failed here: the device is told to stop, and its answer only confirms it.
        sendImportCommand (kAbort);
        notify ([&] (HidSequenceManagerListener& l) { l.importProjectDataResponsed (result); });
        return;
    }

    if (m_transfer.importFailed())
    {
        // The device's answer to the abort of a failure already reported.
        finishRequest();
        return;
    }

    int result;
    switch (byteAt (data, 0))
    {
        case 1: result = m_transfer.completeImport() ? kResultOK : kResultDataError; break;
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
        // The end (or an abort) was confirmed. An abort after a file that
        // could not be read is a failure, not a completed export.
        if (m_transfer.isExportFinished())
        {
            result = m_transfer.exportReadFailed() ? kResultDataError : kResultOK;
        }
        else
        {
            sendNextExportBlock();
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

void HidSequenceManager::sendNextExportBlock()
{
    juce::MemoryBlock block;
    switch (m_transfer.nextExportBlock (block))
    {
        case ProjectTransfer::ExportBlock::kBlock:
            sendDirect (kExportProject, block);
            m_transfer.exportBlockSent();
            break;
        case ProjectTransfer::ExportBlock::kEnd: sendDirect (kExportProject, oneByte (0x00)); break;
        case ProjectTransfer::ExportBlock::kCancelled: sendDirect (kExportProject, oneByte (0x01)); break;
        case ProjectTransfer::ExportBlock::kUnreadable:
            sendDirect (kExportProject, oneByte (0x01));
            notify ([] (HidSequenceManagerListener& l) { l.readProjectFileErrorOccurred(); });
            break;
    }
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
            result = resultOf (m_patterns->convertPatternToMidiFile (data, file));
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
        result = m_projects != nullptr && m_projects->storePushedProject (data) ? kResultOK : kResultDataError;
    notify ([&] (HidSequenceManagerListener& l) { l.receivedProjectDataResponsed (result); });
}

void HidSequenceManager::onVersionInfo()
{
    stopTimer (kVersionTimer);
    release();
}

} // namespace korva
