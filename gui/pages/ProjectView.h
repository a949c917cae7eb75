#pragma once

// The "PROJECT" page: the projects on the KORVA beside the project files of
// the data folder, the device's remaining capacity, transfers both ways with
// their progress, and renaming and deleting on either side.

#include "core/device/HidSequenceManager.h"
#include "core/device/ProjectBackup.h"
#include "core/infra/AsyncTask.h"
#include "gui/pages/DevicePage.h"
#include "gui/pages/ProjectListComponents.h"
#include "gui/widgets/DesktopOpener.h"
#include "gui/widgets/LookAndFeels.h"
#include "gui/widgets/ProgressWindow.h"
#include "gui/widgets/View.h"
#include "gui/widgets/Widgets.h"

#include <functional>
#include <memory>

namespace korva
{

class ProjectView final : public View,
                          public juce::ActionListener,
                          public juce::Button::Listener,
                          public HidSequenceManagerListener
{
public:
    static constexpr int kMaxActionIndex = 127;
    static constexpr juce::uint32 kArrowColour = 0xFF323232;

    explicit ProjectView (HidSequenceManager& sequencer = *HidSequenceManager::getInstance());
    ~ProjectView() override;

    void paint (juce::Graphics& g) override;
    void resized() override;
    void onTransitioned (bool shown) override;

    void buttonClicked (juce::Button* button) override;
    void actionListenerCallback (const juce::String& message) override;

    // F2 renames the selected project of the table that has the keyboard;
    // the menu key (or Shift+F10) opens that table's menu. Enter, Delete and
    // double-clicks reach the page through the tables.
    bool keyPressed (const juce::KeyPress& key) override;
    bool keyStateChanged (bool isKeyDown) override;
    // The menu key, which the framework passes on only as a key going down.
    static constexpr int kMenuKeyCode = 0x67 | 0x10000000;

    // The tables' right-click menus.
    enum MenuItem
    {
        kImportItem = 1,
        kImportAllItem,
        kExportItem,
        kRenameItem,
        kDeleteItem,
        kOpenFolderItem,
        kChooseFolderItem
    };
    static constexpr const char* kImportAllText = "Import All Projects\xe2\x80\xa6";
    static constexpr const char* kOpenFolderText = "Open Data Folder";
    static constexpr const char* kChooseFolderText = "Choose Data Folder\xe2\x80\xa6";
    // The title of the desktop's folder chooser.
    static constexpr const char* kChooseFolderTitle = "Choose Data Folder";
    juce::PopupMenu makeKorvaMenu() const;
    juce::PopupMenu makePcMenu() const;
    enum class Side
    {
        kNone,
        kKorva,
        kPc
    };
    // Carries out an item of the menu of one side's table (0: the menu was dismissed).
    void menuItemChosen (Side side, int item);

    // Copies every project of the KORVA into the data folder, with one
    // progress window and one message at the end.
    void importAllProjects();
    // The run under way or ended last; nullptr before the first.
    const ProjectBackup* getBackup() const noexcept { return m_backup.get(); }
    bool isImportingAll() const noexcept { return m_backup != nullptr && ! m_backup->isOver(); }
    // Closing the window during Import All asks whether to cancel the run;
    // if so, the window closes once the run has ended.
    bool closeRequested (std::function<void()> closeNow) override;
    static constexpr const char* kCloseDuringRunText =
        "Projects are being imported from the KORVA. Cancel the import and close KORVA Manager?";

    // Project files dropped onto the PC/Mac table: copied into the data folder.
    void projectFilesDropped (const juce::StringArray& paths);

    // HidSequenceManagerListener: any thread; the work is done on the message thread.
    void connectionChanged() override;
    // A project transfer the transport could not carry: the box for it, or
    // within an import-all run, a line of the run's one message.
    void sendErrorOccurred (juce::uint8 dataType, eResult result) override;
    void receiveErrorOccurred (juce::uint8 dataType, eResult result) override;
    void getProjectInfoResponsed (int result, bool changed) override;
    void deleteProjectResponsed (int result) override;
    void renameProjectResponsed (int result) override;
    void importProjectDataResponsed (int result) override;
    void queryExportProjectResponsed (int result) override;
    void exportProjectDataResponsed (int result) override;
    void readProjectFileErrorOccurred() override;
    void deleteProjectRequestStarted() override;
    void renameProjectRequestStarted() override;
    void importProjectDataRequestStarted() override;
    void exportProjectDataRequestStarted() override;

    bool isActive() const noexcept { return m_active; }

    KorvaProjectListComponent& getKorvaList() noexcept { return m_korvaList; }
    PcProjectListComponent& getPcList() noexcept { return m_pcList; }
    juce::Button& getFolderButton() noexcept { return m_folderButton; }
    juce::Button& getKorvaRenameButton() noexcept { return m_korvaRenameButton; }
    juce::Button& getKorvaDeleteButton() noexcept { return m_korvaDeleteButton; }
    juce::Button& getPcRenameButton() noexcept { return m_pcRenameButton; }
    juce::Button& getPcDeleteButton() noexcept { return m_pcDeleteButton; }
    juce::Button& getImportButton() noexcept { return m_importButton; }
    juce::Button& getExportButton() noexcept { return m_exportButton; }
    // The question for the device's list of projects.
    DevicePoll& getPoll() noexcept { return m_poll; }
    // What opens the data folder in the desktop's file manager.
    DesktopOpener& getOpener() noexcept { return m_opener; }

    // The progress window still open, if any.
    ProgressWindow* getProgressWindow() const;

    // The dialogs, replaceable so that tests never wait on a real one:
    // a warning box with "OK" (title, text);
    std::function<void (const juce::String&, const juce::String&)> showMessage;
    // a box with "OK" that tells of something that went well (title, text);
    std::function<void (const juce::String&, const juce::String&)> showInformation;
    // an "OK"/"Cancel" question (title, text), true for "OK";
    std::function<bool (const juce::String&, const juce::String&)> confirm;
    // the rename dialog (current name, compare with the device's names) -> the confirmed name;
    std::function<juce::String (const juce::String&, bool)> askForName;
    // the folder chooser (starting folder, then told the chosen folder, or a null file).
    std::function<void (const juce::File&, std::function<void (const juce::File&)>)> chooseFolder;
    // a pop-up menu at a place of the screen, then told the item chosen (0: none).
    std::function<void (const juce::PopupMenu&, juce::Rectangle<int>, std::function<void (int)>)> showMenu;

private:
    void poll();
    void refresh();
    void setDeviceButtonsEnabled (bool enabled);
    void openProgressWindow (const juce::String& title, const juce::String& message, bool hasCancelButton);
    void addProgressWindow (ProgressWindow* window);
    void message (const juce::String& title, const juce::String& text);
    void closeProgressWindows();

    void chooseDataFolder();
    void folderChosen (const juce::File& folder);
    void importProject();
    void exportProject();
    void renameKorvaProject();
    void deleteKorvaProject();
    void renamePcProject();
    void deletePcProject();

    // The table that has the keyboard.
    Side focusedSide() const;
    void activate (Side side);
    void clickIfEnabled (juce::Button& button);
    // A project of the KORVA is selected that may be imported, renamed or deleted.
    bool isKorvaSelectionUsable() const;
    void openMenu (Side side, bool atPointer);
    void openDataFolder();

    // The import-all run: the next project, the end of one, the end of all.
    void importNextOfRun();
    // An import of the run ended: `tell` gives the run how (unless it was cancelled).
    void runImportOver (const std::function<void (ProjectBackup&)>& tell);
    void transportError (juce::uint8 dataType, int result);
    void cancelRun();
    void runEnded();

    static juce::String communicationError (int result);
    // Any thread: on the message thread, shows the failure of a transfer,
    // or lists the data folder afresh after an import.
    void transferEnded (const juce::String& failure, bool imported);
    // Message thread: an import ended with the sequencer's result and what
    // failed on this side (read in the sequencer's call).
    void importEnded (int result, const infra::FileFailure& local);

    HidSequenceManager& m_sequencer;
    KorvaProjectList& m_korvaModel;

    ProjectViewLookAndFeel m_lookAndFeel;
    KorvaProjectListLookAndFeel m_korvaListLookAndFeel;
    PcProjectListLookAndFeel m_pcListLookAndFeel;

    KorvaProjectListComponent m_korvaList;
    PcProjectListComponent m_pcList;
    AppImageButton m_folderButton { "folder_select_button", "folder_button.png" };
    juce::TextButton m_korvaRenameButton { "RENAME" };
    juce::TextButton m_korvaDeleteButton { "DELETE" };
    juce::TextButton m_pcRenameButton { "RENAME" };
    juce::TextButton m_pcDeleteButton { "DELETE" };
    AppArrowButton m_importButton { 0.0f, "import_button", juce::Colour (kArrowColour) };
    AppArrowButton m_exportButton { 0.5f, "export_button", juce::Colour (kArrowColour) };

    bool m_active = false;
    std::unique_ptr<juce::FileChooser> m_folderChooser;
    juce::Array<juce::WeakReference<ProgressWindow>> m_progressWindows;

    DesktopOpener m_opener;
    bool m_menuKeyDown = false;

    // Shared with its progress window, which may outlive the run by a moment.
    std::shared_ptr<ProjectBackup> m_backup;
    bool m_runImportPending = false; // an import of the run was asked for and has not ended
    bool m_runCancelled = false;
    std::function<void()> m_closeAfterRun; // the window closes once the run has ended

    infra::MessageThreadTaskBox m_taskBox;

    DevicePoll m_poll { [this] { poll(); } };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProjectView)
};

} // namespace korva
