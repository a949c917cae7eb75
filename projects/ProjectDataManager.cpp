#include "projects/ProjectDataManager.h"

#include "app/DirectorySetting.h"
#include "infra/FileTools.h"
#include "projects/ProjectListModels.h"

#include <cstdio>
#include <mutex>

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
    dataDirectory = [] { return DirectorySettingManager::getInstance()->getDataDirectoryFile(); };

    // A project left half-assembled by an interrupted import is of no use.
    getTempProjectFile().deleteFile();
    getPushedProjectFile().deleteFile();

    startTaskThread (infra::limitPriority (0, "ProjectDataManager::ProjectDataManager"));
}

ProjectDataManager::~ProjectDataManager()
{
    stopTaskThread (10000, "ProjectDataManager::~ProjectDataManager");
    if (s_instance == this)
        s_instance = nullptr;
}

juce::File ProjectDataManager::getTempProjectFile() const
{
    const juce::ScopedLock lock (m_lock);
    if (m_tempFile == juce::File())
    {
        auto* app = juce::JUCEApplicationBase::getInstance();
        const juce::String appName = app != nullptr ? app->getApplicationName() : juce::String ("KORVA Manager");
        m_tempFile = juce::File::getSpecialLocation (juce::File::userApplicationDataDirectory)
                                                   .getChildFile ("MELDRA")
                                                   .getChildFile (appName)
                                                   .getChildFile ("Temp")
                                                   .getChildFile ("tempProject.prj");
    }
    return m_tempFile;
}

juce::File ProjectDataManager::prepareTempProjectFile()
{
    const auto file = getTempProjectFile();
    infra::FileTools::createAnyhow (file, false);
    return file;
}

juce::File ProjectDataManager::getPushedProjectFile() const
{
    return getTempProjectFile().getSiblingFile ("tempPushedProject.prj");
}

bool ProjectDataManager::writeBlockToFile (const juce::File& file, const juce::MemoryBlock& bytes)
{
    juce::FileOutputStream out (file, 16384);
    if (! out.openedOk())
        return false;
    const bool written = out.write (bytes.getData(), bytes.getSize());
    out.flush();
    return written && ! out.getStatus().failed();
}

namespace
{
bool readBlockAt (const juce::File& file, juce::MemoryBlock& block, juce::int64 position)
{
    block.setSize ((size_t) ProjectDataManager::kBlockSize, true);
    block.fillWith (0);

    juce::FileInputStream in (file);
    if (! in.openedOk() || ! in.setPosition (position))
        return false;
    return in.read (block.getData(), ProjectDataManager::kBlockSize) > 0;
}
} // namespace

bool ProjectDataManager::readProjectHeader (const juce::File& file, juce::MemoryBlock& block)
{
    return readBlockAt (file, block, 0) && isProjectHeader (block);
}

bool ProjectDataManager::readPatternBlock (const juce::File& file, juce::MemoryBlock& block, int i)
{
    if (i < 0)
        return false;
    return readBlockAt (file, block, (juce::int64) kBlockSize * (i + 1)) && isPatternBlock (block);
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

bool ProjectDataManager::writeProjectName (const juce::File& file, const juce::String& name)
{
    if (! file.existsAsFile())
        return false;

    char field[kNameField] = {};
    const auto* utf8 = name.toRawUTF8();
    for (size_t i = 0; i < (size_t) kMaxNameLength && utf8[i] != 0; ++i)
        field[i] = utf8[i];

    // The stream opens an existing file without truncating it.
    juce::FileOutputStream out (file, 16384);
    if (! out.openedOk() || ! out.setPosition (kNameOffset))
        return false;
    const bool written = out.write (field, sizeof (field));
    out.flush();
    return written && ! out.getStatus().failed();
}

namespace
{
// A device name becomes part of a file name: it must never name a folder.
juce::String fileNameSafe (const juce::String& name)
{
    juce::String safe;
    for (auto c : name)
        safe += (c == '/' || c == '\\' || c < 0x20 || c == 0x7F) ? juce::String ("_") : juce::String::charToString (c);
    return safe;
}

// Renames where it can; across file systems it copies to a hidden file in
// the destination folder first, so the folder never shows a partial project.
bool moveInto (const juce::File& source, const juce::File& destination)
{
    if (std::rename (source.getFullPathName().toRawUTF8(), destination.getFullPathName().toRawUTF8()) == 0)
        return true;

    const auto part = destination.getSiblingFile ("." + destination.getFileName() + ".part");
    if (! source.copyFileTo (part))
    {
        part.deleteFile();
        return false;
    }
    if (std::rename (part.getFullPathName().toRawUTF8(), destination.getFullPathName().toRawUTF8()) != 0)
    {
        part.deleteFile();
        return false;
    }
    source.deleteFile();
    return true;
}
} // namespace

juce::File ProjectDataManager::saveTempProjectToDataDirectory()
{
    return saveToDataDirectory (getTempProjectFile());
}

juce::File ProjectDataManager::saveToDataDirectory (const juce::File& temp)
{
    return saveToFolder (temp, dataDirectory ? dataDirectory() : juce::File());
}

juce::File ProjectDataManager::saveToFolder (const juce::File& temp, const juce::File& folder)
{
    if (folder == juce::File() || ! temp.existsAsFile())
        return {};

    if (! folder.isDirectory() && ! infra::FileTools::createParents (folder, false))
        return {};

    const auto base = fileNameSafe (getProjectName()) + "_" + juce::Time::getCurrentTime().formatted ("%Y%m%d_%H%M%S");
    auto destination = folder.getChildFile (base + ".prj");
    for (int n = 2; destination.exists(); ++n)
        destination = folder.getChildFile (base + "_" + juce::String (n) + ".prj");

    return moveInto (temp, destination) ? destination : juce::File();
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
    return KorvaProjectListModel::getInstance()->hasIndex (deviceIndex);
}

bool ProjectDataManager::isProjectNameOnDevice (const juce::String& name)
{
    return KorvaProjectListModel::getInstance()->hasName (name);
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
