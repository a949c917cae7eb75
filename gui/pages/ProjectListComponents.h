#pragma once

// The two tables of the project page: the projects on the KORVA, and the
// project files of the data folder with the background listing that keeps
// them up to date.

#include "gui/pages/ProjectTableModels.h"
#include "gui/widgets/DropHolder.h"

#include <juce_gui_basics/juce_gui_basics.h>

namespace korva
{

// Table layout shared by both lists.
struct ProjectTableLayout
{
    static constexpr int kHeaderHeight = 23;
    static constexpr int kRowHeight = 21;
    // visible, resizable, draggable, in the column menu, sortable
    static constexpr int kColumnFlags = 31;
    // the same without resizable
    static constexpr int kFixedColumnFlags = 29;
};

class KorvaProjectListComponent final : public juce::Component
{
public:
    static constexpr int kIdColumn = 1;
    static constexpr int kNameColumn = 2;
    static constexpr int kPatternsColumn = 3;
    static constexpr juce::uint32 kDisabledBorder = 0xFF7D7D7D;

    KorvaProjectListComponent (KorvaProjectList& list, std::function<int()> currentProjectIndex);
    ~KorvaProjectListComponent() override;

    // Back to name order, new content, no selection.
    void refresh();

    // -1 and "" when no row is selected.
    int getSelectedProjectIndex() const;
    juce::String getSelectedProjectName() const;

    juce::TableListBox& getTable() noexcept { return m_table; }
    ProjectTableModel& getModel() noexcept { return m_model; }

    void paint (juce::Graphics& g) override;
    void resized() override;

private:
    KorvaProjectList& m_list;
    KorvaProjectTableModel m_model;
    juce::TableListBox m_table;

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (KorvaProjectListComponent)
};

class PcProjectListComponent final : public juce::Component,
                                     public juce::FileDragAndDropTarget,
                                     private juce::ChangeListener
{
public:
    static constexpr int kNameColumn = 1;
    static constexpr int kPatternsColumn = 2;
    static constexpr int kCreationTimeColumn = 3;
    static constexpr int kScanThreadPriority = 3;

    class AppFileFilter final : public juce::WildcardFileFilter
    {
    public:
        AppFileFilter() : juce::WildcardFileFilter ("*.prj", "*", "prj files") {}
    };

    // The folder's project files, listed on the scanning thread and published
    // whole when the scan ends, in natural file-name order. Re-scans whenever
    // the folder's modification time changes: checked when the system reports
    // a change in the folder (inotify), and every second while it cannot
    // (the folder is missing) or a listing may have missed a change.
    class AppFileList final : public juce::ChangeBroadcaster, private juce::TimeSliceClient, private juce::Timer
    {
    public:
        static constexpr int kCheckPeriodMs = 1000;
        static constexpr int kFilesPerSlice = 200;
        // A listing taken this soon after the folder's last change may have
        // missed a second change stamped with the same time: it is taken again.
        static constexpr juce::int64 kSettleNs = 100 * 1000 * 1000;

        explicit AppFileList (juce::TimeSliceThread& thread);
        ~AppFileList() override;

        // Lists the files (no sub-folders) of another folder and remembers its
        // modification time. The same folder again changes nothing.
        void setFolder (const juce::File& folder);
        // Lists the folder again. A folder that has gone gives an empty list.
        void rescan();

        // Message thread.
        const juce::File& getDirectory() const noexcept { return m_folder; }
        // True from the start of a scan until its listing is published.
        bool isStillLoading() const noexcept { return m_loading.load(); }
        int getNumFiles() const;
        juce::File getFile (int index) const;
        juce::Array<juce::File> getFiles() const;
        const juce::FileFilter& getFilter() const noexcept { return m_filter; }

        // The folder's modification time in nanoseconds; 0 when it is missing.
        static juce::int64 modificationStamp (const juce::File& folder);
        // Whether the folder is looked at every second (it cannot be watched,
        // or a listing may have missed a change), rather than only on change.
        bool isCheckingEverySecond() const { return isTimerRunning(); }

    private:
        int useTimeSlice() override;
        void timerCallback() override;
        void check();
        void remember (juce::int64 stamp);
        void publish (juce::Array<juce::File> files);
        void watchFolder();
        void readFolderEvents();
        void updateCheckTimer();

        juce::TimeSliceThread& m_thread;
        AppFileFilter m_filter;
        juce::File m_folder;
        juce::int64 m_lastStamp = 0;
        bool m_recheck = false;
        int m_inotifyFd = -1;
        int m_watch = -1;

        // The scan in progress: touched by the scanning thread only while the
        // list is one of its clients, otherwise by the message thread.
        std::unique_ptr<juce::RangedDirectoryIterator> m_scan;
        juce::Array<juce::File> m_found;

        std::atomic<bool> m_loading { false };
        juce::CriticalSection m_lock;
        juce::Array<juce::File> m_files;

        JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (AppFileList)
    };

    PcProjectListComponent (PcProjectList& list, const juce::File& folder);
    ~PcProjectListComponent() override;

    // Re-scans the folder, back to name order, no selection.
    void refresh();
    // Points the listing at another folder (the folder button).
    void setDirectory (const juce::File& folder);

    juce::String getSelectedProjectName() const;
    // The selected row's file; a null file when none is selected.
    juce::File getSelectedProjectFile() const;
    int getSelectedProjectPatterns() const;

    juce::TableListBox& getTable() noexcept { return m_table; }
    ProjectTableModel& getModel() noexcept { return m_model; }
    AppFileList& getFileList() noexcept { return *m_fileList; }

    void paint (juce::Graphics& g) override;
    void paintOverChildren (juce::Graphics& g) override;
    void resized() override;

    // Files dragged from a file manager: the table takes them when this is
    // set, and its frame is highlighted while they are over it.
    std::function<void (const juce::StringArray& paths)> onFilesDropped;
    bool isInterestedInFileDrag (const juce::StringArray&) override { return onFilesDropped != nullptr; }
    void fileDragEnter (const juce::StringArray&, int, int) override;
    void fileDragExit (const juce::StringArray&) override;
    // Dropped while a box is open, they are taken once it is closed.
    void filesDropped (const juce::StringArray& paths, int, int) override;
    bool isDragOver() const noexcept { return m_dragOver; }

private:
    void changeListenerCallback (juce::ChangeBroadcaster*) override;
    void sortByName();

    PcProjectList& m_list;
    PcProjectTableModel m_model;
    juce::TimeSliceThread m_thread { "PcProjectListComponent" };
    std::unique_ptr<AppFileList> m_fileList;
    juce::TableListBox m_table;
    juce::File m_lastFolder;
    bool m_dragOver = false;
    DropHolder m_dropHolder { *this };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (PcProjectListComponent)
};

} // namespace korva
