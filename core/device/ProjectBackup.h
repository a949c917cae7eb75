#pragma once

// Copies every project of the KORVA into a folder, one after the other: the
// project page's "Import All Projects…" and `korva pull --all`. Each import
// is assembled in a hidden staging folder inside the destination, checked
// against the KORVA's list (size, header, block count) and only then given
// its name in the destination, under the rule of a single import. What a
// failed or cancelled import left is removed.
//
// The run goes on after one project is refused or arrives damaged, and stops
// when the computer cannot take a project (a full disk, a folder that cannot
// be written), when the KORVA goes away, or when the user cancels. The
// project the KORVA is using is never asked for, as a single import never
// asks for it, nor is a project number the program does not act on (above
// 127): they are named in the message as not imported.
//
// The front end asks the KORVA for each project the run names and reports
// how its import ended. One thread drives a run; the progress may be read
// from any thread.

#include "core/infra/FileTools.h"
#include "core/projects/ProjectLists.h"

#include <functional>
#include <mutex>
#include <optional>
#include <vector>

namespace korva
{

class ProjectDataManager;

class ProjectBackup final
{
public:
    static constexpr const char* kTitle = "Import All Projects";
    static constexpr const char* kStagingFolderName = ".korva-pull";
    static constexpr const char* kNotConnected = "KORVA is not connected.";
    static constexpr const char* kInUse = "in use on the KORVA, not imported";
    static constexpr const char* kNoActionIndex = "a project number above 127, not imported";
    static constexpr int kMaxActionIndex = 127;

    enum class Result
    {
        kNotTried,  // the run ended before this project
        kCopied,    // `file` holds it
        kFailed,    // `failure` says why
        kCancelled, // the user cancelled it on its way
        kSkipped    // never asked for (`failure` says why): the project in use, or a number above 127
    };

    struct Entry
    {
        ProjectListRow row;
        Result result = Result::kNotTried;
        juce::File file;
        juce::String failure;
    };

    // Puts a checked copy in its place; the file it became, or a null file
    // and the failure. The default places it in the destination folder.
    using Placer = std::function<juce::File (const juce::File& checkedCopy, infra::FileFailure& failure)>;

    // `rows` in the order to copy them; the project in use is the project
    // side's current one when the run is made.
    ProjectBackup (ProjectDataManager& projects, std::vector<ProjectListRow> rows, const juce::File& folder,
                   Placer placer = nullptr);
    ~ProjectBackup();

    // The project to ask the KORVA for next; nothing when the run is over.
    std::optional<ProjectListRow> startNext();

    // How the import of the project startNext gave ended: the sequencer's
    // result and what failed on the computer's side.
    void importEnded (int result, const infra::FileFailure& local);
    // It failed for a reason the transport gave (`why`, the program's words):
    // the run goes on.
    void importFailed (const juce::String& why);
    // It was cancelled by the user: nothing of it stays, and the run ends.
    void importCancelled();
    // The KORVA went away: the run ends.
    void disconnected();

    bool isOver() const;
    const std::vector<Entry>& getEntries() const noexcept { return m_entries; }
    // The entry of the project under way or ended last; nullptr before the first.
    const Entry* getCurrent() const;
    const juce::File& getFolder() const noexcept { return m_folder; }
    // Why the run ended before its last project; empty when it did not.
    juce::String getStopReason() const;

    struct Progress
    {
        int number = 0; // 1-based number of the project under way (0 before the first)
        int count = 0;
        juce::String name;
        juce::int64 bytesDone = 0;
        juce::int64 bytesTotal = 0;
    };
    // `currentFraction` is how far the import under way is (0 .. 1).
    Progress getProgress (double currentFraction) const;
    // "3 of 7: Night Drive (48 KB of 224 KB)"
    static juce::String describe (const Progress& progress);
    // "002 Night Drive": a project as the run's message names it.
    static juce::String label (const ProjectListRow& row);

    // The one message at the end: what was copied and where, what was not
    // and why, and why the run stopped early if it did.
    juce::String summary() const;
    int countOf (Result result) const;
    // Every project that was asked for was copied (the ones never asked for
    // are no failure): a run that ended well.
    bool isComplete() const;

private:
    static juce::int64 sizeOf (const ProjectListRow& row);
    void finish (Result result, const juce::File& file, const juce::String& failure);
    void stop (const juce::String& why);
    void clearStaging();

    ProjectDataManager& m_projects;
    std::vector<Entry> m_entries;
    const juce::File m_folder;
    const juce::File m_staging;
    Placer m_placer;

    mutable std::mutex m_lock; // guards what getProgress reads
    int m_next = 0;            // entries before it have started
    bool m_running = false;    // entry m_next - 1 is being imported
    bool m_over = false;
    juce::String m_stopReason;
    juce::int64 m_bytesDone = 0;
    juce::int64 m_bytesTotal = 0;

    JUCE_DECLARE_NON_COPYABLE (ProjectBackup)
};

} // namespace korva
