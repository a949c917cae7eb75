#pragma once

// The "PROJECT" page: the projects on the KORVA beside the project files of
// the data folder, the device's remaining capacity, transfers both ways with
// their progress, and renaming and deleting on either side.

#include "core/device/HidSequenceManager.h"
#include "core/infra/AsyncTask.h"
#include "gui/pages/DevicePage.h"
#include "gui/pages/ProjectListComponents.h"
#include "gui/widgets/LookAndFeels.h"
#include "gui/widgets/ProgressWindow.h"
#include "gui/widgets/View.h"
#include "gui/widgets/Widgets.h"

#include <functional>

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

    // HidSequenceManagerListener: any thread; the work is done on the message thread.
    void connectionChanged() override;
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

    // The progress window still open, if any.
    ProgressWindow* getProgressWindow() const;

    // The dialogs, replaceable so that tests never wait on a real one:
    // a warning box with "OK" (title, text);
    std::function<void (const juce::String&, const juce::String&)> showMessage;
    // an "OK"/"Cancel" question (title, text), true for "OK";
    std::function<bool (const juce::String&, const juce::String&)> confirm;
    // the rename dialog (current name, compare with the device's names) -> the confirmed name;
    std::function<juce::String (const juce::String&, bool)> askForName;
    // the folder chooser (starting folder, then told the chosen folder, or a null file).
    std::function<void (const juce::File&, std::function<void (const juce::File&)>)> chooseFolder;

private:
    void poll();
    void refresh();
    void setDeviceButtonsEnabled (bool enabled);
    void openProgressWindow (const juce::String& title, const juce::String& message, bool hasCancelButton);
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

    static juce::String communicationError (int result);
    // Any thread: on the message thread, shows the failure of a transfer,
    // or lists the data folder afresh after an import.
    void transferEnded (const juce::String& failure, bool imported);

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

    infra::MessageThreadTaskBox m_taskBox;

    DevicePoll m_poll { [this] { poll(); } };

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (ProjectView)
};

} // namespace korva
