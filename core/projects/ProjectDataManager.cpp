#include "core/projects/ProjectDataManager.h"

#include "core/infra/FileTools.h"
#include "core/infra/UserFolders.h"
#include "core/projects/ProjectFileName.h"
#include "core/projects/ProjectLists.h"
#include "core/settings/DirectorySetting.h"

#include <cerrno>
#include <mutex>

namespace korva
{

ProjectDataManager* ProjectDataManager::s_instance = nullptr;

ProjectDataManager* ProjectDataManager::getInstance()
{
    static std::mutex creation;
    std::lock_guard<std::mutex> lock (creation);
    if (s_instance == nullptr)
        s_instance = new ProjectDataManager();
    return s_instance;
}

ProjectDataManager::ProjectDataManager() : TaskDrivenThread ("ProjectDataManager")
{
    // The KORVA's list it updates outlives it: made first, it is deleted after it.
    KorvaProjectList::getInstance();

    dataDirectory = [] { return DirectorySettingManager::getInstance()->getDataDirectoryFile(); };

    // A project left half-assembled by an interrupted push is of no use.
    getPushedProjectFile().deleteFile();

    startTaskThread (infra::limitPriority (0, "ProjectDataManager::ProjectDataManager"));
}

ProjectDataManager::~ProjectDataManager()
{
    stopTaskThread (10000, "ProjectDataManager::~ProjectDataManager");
    if (s_instance == this)
        s_instance = nullptr;
}

void ProjectDataManager::setImportFolder (const juce::File& folder)
{
    const juce::ScopedLock lock (m_lock);
    m_importFolder = folder;
}

juce::File ProjectDataManager::beginImport (infra::FileFailure& failure)
{
    juce::File folder;
    {
        const juce::ScopedLock lock (m_lock);
        folder = m_importFolder;
    }
    if (folder == juce::File() && dataDirectory)
        folder = dataDirectory();
    failure = { folder, 0, {} };
    if (folder == juce::File())
    {
        failure.ownReason = kNoDataFolder;
        return {};
    }
    const auto file = folder.getChildFile (kImportFileName);
    failure.error = infra::FileTools::makeFolders (folder);
    if (failure.error == 0)
        failure.error = infra::FileTools::truncate (file);
    return failure.failed() ? juce::File() : file;
}

juce::File ProjectDataManager::finishImport (const juce::File& assembled, infra::FileFailure& failure)
{
    return saveToFolder (assembled, assembled.getParentDirectory(), &failure);
}

bool ProjectDataManager::storePushedProject (const juce::MemoryBlock& block)
{
    // Apart from the file of an import that may be under way.
    const auto temp = getPushedProjectFile();
    const bool stored = infra::FileTools::createAnyhow (temp) && writeBlockToFile (temp, block)
                        && saveToDataDirectory (temp).existsAsFile();
    temp.deleteFile();
    return stored;
}

bool ProjectDataManager::updateDeviceProjects (const juce::MemoryBlock& projectInfo, const DeviceRoom& room)
{
    if (! KorvaProjectList::getInstance()->updateFromProjectInfo (projectInfo))
        return false;
    remainingProjectCapacity = room.remainingProjects;
    remainingPatternCapacity = room.remainingPatterns;
    currentProjectIndex = room.currentProject;
    return true;
}

juce::File ProjectDataManager::getPushedProjectFile() const
{
    const juce::ScopedLock lock (m_lock);
    if (m_tempFolder == juce::File())
    {
        auto* app = juce::JUCEApplicationBase::getInstance();
        const juce::String appName = app != nullptr ? app->getApplicationName() : juce::String ("KORVA Manager");
        m_tempFolder = infra::UserFolders::applicationData()
                           .getChildFile ("MELDRA")
                           .getChildFile (appName)
                           .getChildFile ("Temp");
    }
    return m_tempFolder.getChildFile ("tempPushedProject.prj");
}

bool ProjectDataManager::writeBlockToFile (const juce::File& file, const juce::MemoryBlock& bytes, int* error)
{
    const int result = infra::FileTools::append (file, bytes.getData(), bytes.getSize());
    if (error != nullptr)
        *error = result;
    return result == 0;
}

namespace
{
// Reads block `index`, whole, into a 4096-byte block; `failure` says why not.
bool readBlockAt (const juce::File& file, juce::MemoryBlock& block, int index, infra::FileFailure* failure)
{
    block.setSize ((size_t) ProjectDataManager::kBlockSize, true);
    block.fillWith (0);

    size_t got = 0;
    const int error = infra::FileTools::readAt (file, (juce::int64) ProjectDataManager::kBlockSize * index,
                                                block.getData(), (size_t) ProjectDataManager::kBlockSize, got);
    const bool whole = got == (size_t) ProjectDataManager::kBlockSize;
    if (failure != nullptr)
        *failure = { file, error, error == 0 && ! whole ? ProjectDataManager::kEndedEarly : "" };
    return error == 0 && whole;
}

bool notAProject (const juce::File& file, infra::FileFailure* failure)
{
    if (failure != nullptr)
        *failure = { file, 0, ProjectDataManager::kNotAProject };
    return false;
}
} // namespace

bool ProjectDataManager::readProjectHeader (const juce::File& file, juce::MemoryBlock& block,
                                            infra::FileFailure* failure)
{
    if (! readBlockAt (file, block, 0, failure))
        return false;
    return isProjectHeader (block) || notAProject (file, failure);
}

bool ProjectDataManager::readPatternBlock (const juce::File& file, juce::MemoryBlock& block, int i,
                                           infra::FileFailure* failure)
{
    if (i < 0 || ! readBlockAt (file, block, i + 1, failure))
        return false;
    return isPatternBlock (block) || notAProject (file, failure);
}

int ProjectDataManager::countPatterns (const juce::MemoryBlock& block)
{
    if (block.getSize() < (size_t) kBlockSize)
        return -1;

    const auto* bytes = static_cast<const juce::uint8*> (block.getData());
    int count = 0;
    for (int k = 0; k < 16; ++k)
        for (int j = 0; j < 8; ++j)
            count += juce::countNumberOfBits ((juce::uint32) bytes[44 + 232 * k + j]);
    return count;
}

bool ProjectDataManager::isProjectHeader (const juce::MemoryBlock& block)
{
    const auto* bytes = static_cast<const juce::uint8*> (block.getData());
    return block.getSize() >= 2 && bytes[0] == 0x83 && bytes[1] == 0x49;
}

bool ProjectDataManager::isPatternBlock (const juce::MemoryBlock& block)
{
    const auto* bytes = static_cast<const juce::uint8*> (block.getData());
    return block.getSize() >= 3 && bytes[0] == 's' && bytes[1] == 'e' && bytes[2] == 'q';
}

juce::String ProjectDataManager::readProjectName (const juce::MemoryBlock& block)
{
    juce::String name;
    const auto* bytes = static_cast<const juce::uint8*> (block.getData());
    for (size_t i = 0; i < (size_t) kMaxNameLength && kNameOffset + i < block.getSize(); ++i)
    {
        const auto c = bytes[kNameOffset + i];
        if (c == 0)
            break;
        name += juce::String::charToString ((juce::juce_wchar) c);
    }
    return name;
}

bool ProjectDataManager::writeProjectName (const juce::File& file, const juce::String& name, int* error)
{
    char field[kNameField] = {};
    const auto* utf8 = name.toRawUTF8();
    for (size_t i = 0; i < (size_t) kMaxNameLength && utf8[i] != 0; ++i)
        field[i] = utf8[i];

    const int result = infra::FileTools::writeAt (file, kNameOffset, field, sizeof (field));
    if (error != nullptr)
        *error = result;
    return result == 0;
}

juce::File ProjectDataManager::saveToDataDirectory (const juce::File& finished, infra::FileFailure* failure)
{
    return saveToFolder (finished, dataDirectory ? dataDirectory() : juce::File(), failure);
}

juce::File ProjectDataManager::saveToFolder (const juce::File& finished, const juce::File& folder,
                                             infra::FileFailure* failure)
{
    // The device's name becomes a file name this system takes (with the time
    // stamp after it, a device name such as CON is no reserved name).
    const auto base = projectfilename::mendForThisSystem (getProjectName() + "_"
                                                          + (clock ? clock() : juce::Time::getCurrentTime())
                                                                .formatted ("%Y%m%d_%H%M%S"));
    return placeInFolder (finished, folder, base, false, failure);
}

juce::File ProjectDataManager::copyToFolder (const juce::File& project, const juce::File& folder,
                                             infra::FileFailure* failure)
{
    return placeInFolder (project, folder, project.getFileNameWithoutExtension(), true, failure);
}

juce::File ProjectDataManager::placeInFolder (const juce::File& source, const juce::File& folder,
                                              const juce::String& base, bool keepSource, infra::FileFailure* failure)
{
    infra::FileFailure ignored;
    auto& why = failure != nullptr ? *failure : ignored;
    why = { folder, 0, {} };
    if (folder == juce::File())
    {
        why.ownReason = kNoDataFolder;
        return {};
    }
    if ((why.error = infra::FileTools::makeFolders (folder)) != 0)
        return {};
    if (! keepSource && (why.error = infra::FileTools::sync (source)) != 0)
        return {};

    // By a rename where it can; across file systems, or when the source
    // stays, through a hidden copy in the folder first, so that the folder
    // never shows a partial project.
    const auto copy = folder.getChildFile ("." + base + ".prj.part");
    auto from = source;
    const auto copyFirst = [&]
    {
        infra::FileTools::remove (copy);
        why.error = infra::FileTools::copyWithoutReplacing (source, copy);
        if (why.error != 0)
            return false;
        from = copy;
        return true;
    };
    if (keepSource && ! copyFirst())
        return {};

    for (int n = 1; n <= 1000; ++n)
    {
        const auto destination =
            folder.getChildFile (base + (n > 1 ? "_" + juce::String (n) : juce::String()) + ".prj");
        why.error = infra::FileTools::renameWithoutReplacing (from, destination);
        if (why.error == EXDEV && from == source)
        {
            if (! copyFirst())
                return {};
            why.error = infra::FileTools::renameWithoutReplacing (from, destination);
        }
        if (why.error == EEXIST)
            continue;
        if (why.error != 0)
            break;
        if (from != source && ! keepSource)
            infra::FileTools::remove (source);
        return destination;
    }
    if (from != source)
        infra::FileTools::remove (from);
    return {};
}

bool ProjectDataManager::isValidProjectName (const juce::String& name)
{
    for (const char* p = name.toRawUTF8(); *p != 0; ++p)
    {
        const auto byte = static_cast<unsigned char> (*p);
        if (byte > 127)
            return false;
    }
    return ! name.containsAnyOf ("\\/:*?\"<>|~");
}

bool ProjectDataManager::isProjectIndexOnDevice (int deviceIndex)
{
    return KorvaProjectList::getInstance()->hasIndex (deviceIndex);
}

bool ProjectDataManager::isProjectNameOnDevice (const juce::String& name)
{
    return KorvaProjectList::getInstance()->hasName (name);
}

juce::String ProjectDataManager::getProjectName() const
{
    const juce::ScopedLock lock (m_lock);
    return m_projectName;
}

void ProjectDataManager::setProjectName (const juce::String& name)
{
    const juce::ScopedLock lock (m_lock);
    m_projectName = name;
}

} // namespace korva
