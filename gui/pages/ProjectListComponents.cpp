#include "gui/pages/ProjectListComponents.h"

#include "core/infra/AsyncTask.h"

#include <sys/inotify.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace korva
{

namespace
{
void setUpTable (juce::TableListBox& table)
{
    table.setHeaderHeight (ProjectTableLayout::kHeaderHeight);
    table.setRowHeight (ProjectTableLayout::kRowHeight);
    table.setMultipleSelectionEnabled (false);
    table.getHeader().setPopupMenuActive (false);
}

// Sets the header's arrow and sorts at once: the header tells the model only
// later, and the table must not show the rows unsorted in between. Going
// through "descending" makes the header re-sort even when it already shows
// name order.
void sortTableByName (juce::TableListBox& table, ProjectList& list, int nameColumn)
{
    table.getHeader().setSortColumnId (nameColumn, false);
    table.getHeader().setSortColumnId (nameColumn, true);
    list.sortOrderChanged (nameColumn, true);
    table.updateContent();
    table.repaint();
}
} // namespace

//==============================================================================
KorvaProjectListComponent::KorvaProjectListComponent (KorvaProjectList& list,
                                                      std::function<int()> currentProjectIndex)
    : m_list (list), m_model (list, std::move (currentProjectIndex)), m_table ({}, &m_model)
{
    m_model.setTable (&m_table);
    setUpTable (m_table);

    auto& header = m_table.getHeader();
    header.addColumn ("Project Name", kNameColumn, 230, 230, 360, ProjectTableLayout::kColumnFlags);
    header.addColumn ("Patterns", kPatternsColumn, 50, 40, 50, ProjectTableLayout::kColumnFlags);
    header.addColumn ("ID", kIdColumn, 30, 30, 30, ProjectTableLayout::kFixedColumnFlags);

    addAndMakeVisible (m_table);
}

KorvaProjectListComponent::~KorvaProjectListComponent()
{
    m_table.setModel (nullptr);
}

void KorvaProjectListComponent::refresh()
{
    sortTableByName (m_table, m_list, kNameColumn);
    m_table.deselectAllRows();
}

int KorvaProjectListComponent::getSelectedProjectIndex() const
{
    const auto row = m_list.getRow (m_table.getSelectedRow());
    return row ? row->index : -1;
}

juce::String KorvaProjectListComponent::getSelectedProjectName() const
{
    const auto row = m_list.getRow (m_table.getSelectedRow());
    return row ? row->name : juce::String();
}

void KorvaProjectListComponent::paint (juce::Graphics& g)
{
    g.setColour (juce::Colour (isEnabled() ? ProjectTableModel::kTextColour : kDisabledBorder));
    g.drawRect (getLocalBounds(), 1);
}

void KorvaProjectListComponent::resized()
{
    m_table.setBounds (getLocalBounds().reduced (1));
}

//==============================================================================
PcProjectListComponent::AppFileList::AppFileList (juce::TimeSliceThread& thread) : m_thread (thread)
{
    m_inotifyFd = ::inotify_init1 (IN_NONBLOCK | IN_CLOEXEC);
    if (m_inotifyFd >= 0)
        juce::LinuxEventLoop::registerFdCallback (m_inotifyFd, [this] (int) { readFolderEvents(); });
    updateCheckTimer();
}

PcProjectListComponent::AppFileList::~AppFileList()
{
    stopTimer();
    if (m_inotifyFd >= 0)
    {
        juce::LinuxEventLoop::unregisterFdCallback (m_inotifyFd);
        ::close (m_inotifyFd);
    }
    // Waits for a slice in progress to end.
    m_thread.removeTimeSliceClient (this);
}

void PcProjectListComponent::AppFileList::watchFolder()
{
    if (m_watch >= 0)
        ::inotify_rm_watch (m_inotifyFd, m_watch);
    m_watch = -1;

    // What changes a folder's modification time: entries made, removed or
    // renamed. The folder itself going away ends the watch.
    if (m_inotifyFd >= 0 && m_folder != juce::File())
        m_watch = ::inotify_add_watch (m_inotifyFd, m_folder.getFullPathName().toRawUTF8(),
                                       IN_ONLYDIR | IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO
                                           | IN_DELETE_SELF | IN_MOVE_SELF);
    updateCheckTimer();
}

void PcProjectListComponent::AppFileList::readFolderEvents()
{
    alignas (inotify_event) char buffer[4096];
    bool folderGone = false;
    for (;;)
    {
        const auto n = ::read (m_inotifyFd, buffer, sizeof (buffer));
        if (n <= 0)
            break;
        for (ssize_t at = 0; at + (ssize_t) sizeof (inotify_event) <= n;)
        {
            const auto* event = reinterpret_cast<const inotify_event*> (buffer + at);
            if ((event->mask & (IN_DELETE_SELF | IN_MOVE_SELF | IN_IGNORED)) != 0 && event->wd == m_watch)
                folderGone = true;
            at += (ssize_t) (sizeof (inotify_event) + event->len);
        }
    }

    if (folderGone)
    {
        // Moved away or deleted: the path is looked at every second until a
        // folder is there again.
        ::inotify_rm_watch (m_inotifyFd, m_watch);
        m_watch = -1;
        updateCheckTimer();
    }
    check();
}

void PcProjectListComponent::AppFileList::updateCheckTimer()
{
    if (m_watch < 0 || m_recheck)
    {
        if (! isTimerRunning())
            startTimer (kCheckPeriodMs);
    }
    else
    {
        stopTimer();
    }
}

juce::int64 PcProjectListComponent::AppFileList::modificationStamp (const juce::File& folder)
{
    // The framework's modification time has whole seconds here: two changes
    // within one second would look like one.
    struct stat info;
    if (folder == juce::File() || ::stat (folder.getFullPathName().toRawUTF8(), &info) != 0)
        return 0;
    return (juce::int64) info.st_mtim.tv_sec * 1000000000 + info.st_mtim.tv_nsec;
}

void PcProjectListComponent::AppFileList::remember (juce::int64 stamp)
{
    m_lastStamp = stamp;
    timespec now {};
    ::clock_gettime (CLOCK_REALTIME, &now);
    const auto nowNs = (juce::int64) now.tv_sec * 1000000000 + now.tv_nsec;
    m_recheck = stamp != 0 && nowNs - stamp < kSettleNs;
    updateCheckTimer();
}

void PcProjectListComponent::AppFileList::setFolder (const juce::File& folder)
{
    if (folder == m_folder)
        return;
    m_folder = folder;
    watchFolder();
    rescan();
}

void PcProjectListComponent::AppFileList::rescan()
{
    m_thread.removeTimeSliceClient (this);
    m_found.clearQuick();

    // Read before listing: a change made during the scan is then seen by the next check.
    remember (modificationStamp (m_folder));

    if (! m_folder.isDirectory())
    {
        m_scan.reset();
        publish ({});
        return;
    }

    m_loading = true;
    m_scan = std::make_unique<juce::RangedDirectoryIterator> (m_folder, false, "*",
                                                              juce::File::findFiles | juce::File::ignoreHiddenFiles);
    m_thread.addTimeSliceClient (this);
}

int PcProjectListComponent::AppFileList::useTimeSlice()
{
    if (m_scan == nullptr)
        return -1;

    for (int i = 0; i < kFilesPerSlice; ++i)
    {
        if (*m_scan == juce::RangedDirectoryIterator())
        {
            m_scan.reset();
            // Sorted once, at the end: the rows' listing positions follow file-name order.
            std::sort (m_found.begin(), m_found.end(), [] (const juce::File& a, const juce::File& b) {
                return a.getFileName().compareNatural (b.getFileName()) < 0;
            });
            publish (std::move (m_found));
            m_found = {};
            return -1;
        }

        const auto file = (*m_scan)->getFile();
        ++(*m_scan);
        if (m_filter.isFileSuitable (file))
            m_found.add (file);
    }
    return 0;
}

void PcProjectListComponent::AppFileList::publish (juce::Array<juce::File> files)
{
    {
        const juce::ScopedLock lock (m_lock);
        m_files = std::move (files);
    }
    m_loading = false;
    sendChangeMessage();
}

int PcProjectListComponent::AppFileList::getNumFiles() const
{
    const juce::ScopedLock lock (m_lock);
    return m_files.size();
}

juce::File PcProjectListComponent::AppFileList::getFile (int index) const
{
    const juce::ScopedLock lock (m_lock);
    return m_files[index];
}

juce::Array<juce::File> PcProjectListComponent::AppFileList::getFiles() const
{
    const juce::ScopedLock lock (m_lock);
    return m_files;
}

void PcProjectListComponent::AppFileList::timerCallback()
{
    // A folder that was missing may be there now.
    if (m_watch < 0)
        watchFolder();
    check();
}

void PcProjectListComponent::AppFileList::check()
{
    const auto stamp = modificationStamp (m_folder);
    if (stamp != m_lastStamp || m_recheck)
        rescan();
}

//==============================================================================
PcProjectListComponent::PcProjectListComponent (PcProjectList& list, const juce::File& folder)
    : m_list (list), m_model (list), m_table ({}, &m_model)
{
    m_fileList = std::make_unique<AppFileList> (m_thread);
    m_thread.startThread (infra::threadPriority (kScanThreadPriority));

    m_fileList->addChangeListener (this);
    m_model.setTable (&m_table);
    setUpTable (m_table);

    auto& header = m_table.getHeader();
    header.addColumn ("Project Name", kNameColumn, 230, 190, 360, ProjectTableLayout::kColumnFlags);
    header.addColumn ("Patterns", kPatternsColumn, 50, 40, 50, ProjectTableLayout::kColumnFlags);
    header.addColumn ("Creation Time", kCreationTimeColumn, 90, 90, 130, ProjectTableLayout::kColumnFlags);

    addAndMakeVisible (m_table);

    m_fileList->setFolder (folder);
}

PcProjectListComponent::~PcProjectListComponent()
{
    m_fileList->removeChangeListener (this);
    m_table.setModel (nullptr);
    m_fileList.reset();
    m_thread.stopThread (3000);
}

void PcProjectListComponent::refresh()
{
    m_fileList->rescan();
    sortTableByName (m_table, m_list, kNameColumn);
    m_table.deselectAllRows();
}

void PcProjectListComponent::setDirectory (const juce::File& folder)
{
    m_fileList->setFolder (folder);
}

juce::String PcProjectListComponent::getSelectedProjectName() const
{
    const auto row = m_list.getRow (m_table.getSelectedRow());
    return row ? row->name : juce::String();
}

juce::File PcProjectListComponent::getSelectedProjectFile() const
{
    return m_list.getFile (m_table.getSelectedRow());
}

int PcProjectListComponent::getSelectedProjectPatterns() const
{
    const auto row = m_list.getRow (m_table.getSelectedRow());
    return row ? row->patterns : -1;
}

void PcProjectListComponent::changeListenerCallback (juce::ChangeBroadcaster*)
{
    // A newer scan is under way: its listing follows.
    if (m_fileList->isStillLoading())
        return;

    const auto selectedFile = getSelectedProjectFile();
    m_list.setFiles (m_fileList->getFiles());
    sortTableByName (m_table, m_list, kNameColumn);

    const auto folder = m_fileList->getDirectory();
    if (folder != m_lastFolder)
    {
        m_lastFolder = folder;
        m_table.deselectAllRows();
        return;
    }

    // Same folder: the selection stays on the file the user picked, wherever
    // the new listing puts it, and goes when the file has gone.
    if (selectedFile == juce::File())
        return;
    for (int i = 0; i < m_list.getNumRows(); ++i)
    {
        if (m_list.getFile (i) == selectedFile)
        {
            m_table.selectRow (i, false, true);
            return;
        }
    }
    m_table.deselectAllRows();
}

void PcProjectListComponent::paint (juce::Graphics& g)
{
    g.setColour (juce::Colour (ProjectTableModel::kTextColour));
    g.drawRect (getLocalBounds(), 1);
}

void PcProjectListComponent::paintOverChildren (juce::Graphics& g)
{
    if (! m_dragOver)
        return;
    g.setColour (juce::Colour (ProjectTableModel::kSelectedRowColour).darker (0.6f));
    g.drawRect (getLocalBounds(), 3);
}

void PcProjectListComponent::fileDragEnter (const juce::StringArray&, int, int)
{
    m_dragOver = true;
    repaint();
}

void PcProjectListComponent::fileDragExit (const juce::StringArray&)
{
    m_dragOver = false;
    repaint();
}

void PcProjectListComponent::filesDropped (const juce::StringArray& paths, int, int)
{
    m_dragOver = false;
    repaint();
    m_dropHolder.deliver ([this, paths] {
        if (onFilesDropped)
            onFilesDropped (paths);
    });
}

void PcProjectListComponent::resized()
{
    m_table.setBounds (getLocalBounds().reduced (1));
}

} // namespace korva
