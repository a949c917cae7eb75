#include "core/device/ProjectBackup.h"

#include "core/device/DeviceMessages.h"
#include "core/device/HidSequenceManager.h"
#include "core/projects/ProjectChecks.h"
#include "core/projects/ProjectDataManager.h"

#include <algorithm>

namespace korva
{

ProjectBackup::ProjectBackup (ProjectDataManager& projects, std::vector<ProjectListRow> rows,
                              const juce::File& folder, Placer placer)
    : m_projects (projects),
      m_folder (folder),
      m_staging (folder.getChildFile (kStagingFolderName)),
      m_placer (std::move (placer))
{
    const int inUse = m_projects.currentProjectIndex.load();
    for (auto& row : rows)
    {
        const char* skipped = row.index == inUse                               ? kInUse
                              : row.index < 0 || row.index > kMaxActionIndex ? kNoActionIndex
                                                                               : nullptr;
        if (skipped == nullptr)
            m_bytesTotal += sizeOf (row);
        m_entries.push_back ({std::move (row), skipped == nullptr ? Result::kNotTried : Result::kSkipped, {},
                              skipped == nullptr ? juce::String() : juce::String (skipped)});
    }
    if (! m_placer)
        m_placer = [this] (const juce::File& copy, infra::FileFailure& failure)
        { return m_projects.saveToFolder (copy, m_folder, &failure); };
}

ProjectBackup::~ProjectBackup()
{
    // A run that ended gave everything back then; this one may outlive the
    // window that showed it, when the next run already uses the same folder.
    if (! isOver())
        stop ({});
}

juce::int64 ProjectBackup::sizeOf (const ProjectListRow& row)
{
    return (juce::int64) ProjectDataManager::kBlockSize * (juce::int64) (juce::jmax (0, row.patterns) + 1);
}

std::optional<ProjectListRow> ProjectBackup::startNext()
{
    if (m_over || m_running)
        return std::nullopt;
    {
        const std::lock_guard<std::mutex> lock (m_lock);
        while (m_next < (int) m_entries.size() && m_entries[(size_t) m_next].result == Result::kSkipped)
            ++m_next;
    }
    if (m_next >= (int) m_entries.size())
    {
        stop ({});
        return std::nullopt;
    }

    // The staging folder is made afresh for every project: what is in it
    // after the import is the import.
    clearStaging();
    if (const int error = infra::FileTools::makeFolders (m_staging); error != 0)
    {
        const auto why = devicemessages::cannotSaveProject ({m_folder, error, {}});
        stop (why);
        return std::nullopt;
    }
    m_projects.setImportFolder (m_staging);

    const std::lock_guard<std::mutex> lock (m_lock);
    const auto& row = m_entries[(size_t) m_next++].row;
    // The name becomes the start of the file's name, as for a single import.
    m_projects.setProjectName (row.name);
    m_running = true;
    return row;
}

void ProjectBackup::importEnded (int result, const infra::FileFailure& local)
{
    if (! m_running)
        return;

    if (result != HidSequenceManager::kResultOK || local.failed())
    {
        // A folder that would not take the import is told as the folder the
        // user chose, not the staging folder hidden in it.
        auto named = local;
        if (named.file == m_staging || named.file.isAChildOf (m_staging))
            named.file = m_folder;
        const auto failure = devicemessages::importFailure (result, named);
        finish (Result::kFailed, {}, failure);
        // The computer could not take the project: the next ones would fare no better.
        if (local.failed())
            stop (failure);
        return;
    }

    // The newest project in the staging folder is this import; any other
    // came from the KORVA's user meanwhile.
    auto arrived = m_staging.findChildFiles (juce::File::findFiles, false, "*.prj");
    std::sort (arrived.begin(), arrived.end(), [] (const juce::File& a, const juce::File& b)
               { return a.getLastModificationTime() > b.getLastModificationTime(); });
    if (arrived.isEmpty())
    {
        finish (Result::kFailed, {}, devicemessages::communicationError (HidSequenceManager::kResultDataError));
        return;
    }

    const auto& row = m_entries[(size_t) m_next - 1].row;
    int patterns = 0;
    juce::String reason;
    if (! projectchecks::checkProjectFile (arrived.getReference (0), row.patterns, patterns, reason))
    {
        finish (Result::kFailed, {}, "the copy from KORVA is damaged: " + reason);
        return;
    }

    infra::FileFailure failure;
    const auto placed = m_placer (arrived.getReference (0), failure);
    if (placed == juce::File())
    {
        const auto why = failure.failed() ? devicemessages::cannotSaveProject (failure)
                                          : devicemessages::cannotSaveProject ({m_folder, 0, "not saved"});
        finish (Result::kFailed, {}, why);
        stop (why);
        return;
    }
    finish (Result::kCopied, placed, {});

    // Projects the KORVA's user sent meanwhile go where the program puts them.
    for (int i = 1; i < arrived.size(); ++i)
        m_projects.saveToDataDirectory (arrived.getReference (i));
}

void ProjectBackup::importFailed (const juce::String& why)
{
    if (m_running)
        finish (Result::kFailed, {}, why);
}

void ProjectBackup::importCancelled()
{
    if (m_running)
        finish (Result::kCancelled, {}, {});
    stop ("The import was cancelled.");
}

void ProjectBackup::disconnected()
{
    if (m_running)
        finish (Result::kFailed, {}, kNotConnected);
    stop (kNotConnected);
}

void ProjectBackup::finish (Result result, const juce::File& file, const juce::String& failure)
{
    clearStaging();
    const std::lock_guard<std::mutex> lock (m_lock);
    auto& entry = m_entries[(size_t) m_next - 1];
    entry.result = result;
    entry.file = file;
    entry.failure = failure;
    m_bytesDone += sizeOf (entry.row);
    m_running = false;
}

void ProjectBackup::stop (const juce::String& why)
{
    if (isOver())
        return;
    m_projects.setImportFolder ({});
    clearStaging();
    const std::lock_guard<std::mutex> lock (m_lock);
    m_stopReason = why;
    m_over = true;
    m_running = false;
}

void ProjectBackup::clearStaging()
{
    m_staging.deleteRecursively();
}

juce::String ProjectBackup::getStopReason() const
{
    const std::lock_guard<std::mutex> lock (m_lock);
    return m_stopReason;
}

bool ProjectBackup::isOver() const
{
    const std::lock_guard<std::mutex> lock (m_lock);
    return m_over;
}

const ProjectBackup::Entry* ProjectBackup::getCurrent() const
{
    // The last one started: skipped ones are passed over before one starts.
    for (int i = m_next; i > 0; --i)
        if (m_entries[(size_t) i - 1].result != Result::kSkipped)
            return &m_entries[(size_t) i - 1];
    return nullptr;
}

ProjectBackup::Progress ProjectBackup::getProgress (double currentFraction) const
{
    const std::lock_guard<std::mutex> lock (m_lock);
    Progress progress;
    // The projects the run asks for, and which of them is under way.
    for (int i = 0; i < (int) m_entries.size(); ++i)
        if (m_entries[(size_t) i].result != Result::kSkipped)
        {
            ++progress.count;
            if (i < m_next)
                ++progress.number;
        }
    progress.bytesDone = m_bytesDone;
    progress.bytesTotal = m_bytesTotal;
    if (progress.number > 0)
    {
        const auto& current = *getCurrent();
        progress.name = current.row.name;
        if (m_running)
            progress.bytesDone += (juce::int64) ((double) sizeOf (current.row) * juce::jlimit (0.0, 1.0, currentFraction));
    }
    return progress;
}

juce::String ProjectBackup::describe (const Progress& progress)
{
    const auto kilobytes = [] (juce::int64 bytes) { return juce::String ((bytes + 512) / 1024); };
    return juce::String (progress.number) + " of " + juce::String (progress.count) + ": " + progress.name + " ("
           + kilobytes (progress.bytesDone) + " KB of " + kilobytes (progress.bytesTotal) + " KB)";
}

bool ProjectBackup::isComplete() const
{
    return countOf (Result::kCopied) + countOf (Result::kSkipped) == (int) m_entries.size();
}

juce::String ProjectBackup::label (const ProjectListRow& row)
{
    return juce::String (row.index).paddedLeft ('0', 3) + " " + row.name;
}

int ProjectBackup::countOf (Result result) const
{
    return (int) std::count_if (m_entries.begin(), m_entries.end(),
                                [result] (const Entry& e) { return e.result == result; });
}

juce::String ProjectBackup::summary() const
{
    juce::StringArray lines;
    lines.add ("Imported " + juce::String (countOf (Result::kCopied)) + " of " + juce::String ((int) m_entries.size())
               + " projects into " + m_folder.getFullPathName() + ".");
    for (const auto& entry : m_entries)
        if (entry.result == Result::kCopied)
            lines.add (label (entry.row) + ": " + entry.file.getFileName());

    if (countOf (Result::kFailed) + countOf (Result::kSkipped) > 0)
    {
        lines.add ("Not imported:");
        for (const auto& entry : m_entries)
            if (entry.result == Result::kFailed || entry.result == Result::kSkipped)
                lines.add (label (entry.row) + ": " + entry.failure);
    }

    const int cancelled = countOf (Result::kCancelled);
    const int notTried = countOf (Result::kNotTried);
    if (cancelled + notTried > 0)
    {
        lines.add ("Stopped: " + getStopReason() + " " + juce::String (cancelled + notTried) + " "
                   + (cancelled + notTried == 1 ? "project was" : "projects were") + " not imported.");
    }
    return lines.joinIntoString ("\n");
}

} // namespace korva
