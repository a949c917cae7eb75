#include "gui/pages/ProjectView.h"

#include "core/device/DeviceMessages.h"
#include "core/infra/FileTools.h"
#include "core/projects/ProjectChecks.h"
#include "core/projects/ProjectDataManager.h"
#include "core/settings/DirectorySetting.h"
#include "gui/pages/RenameAlertWindow.h"
#include "gui/widgets/FlashingMessage.h"
#include "gui/widgets/MessageBoxes.h"

namespace korva
{

namespace
{
using projectchecks::kDeleteTitle;
using projectchecks::kRenameTitle;
using projectchecks::ProjectAction;

int currentProjectIndex()
{
    return ProjectDataManager::getInstance()->currentProjectIndex.load();
}
} // namespace

ProjectView::ProjectView (HidSequenceManager& sequencer)
    : View ("ProjectView"),
      m_sequencer (sequencer),
      m_korvaModel (*KorvaProjectList::getInstance()),
      m_korvaListLookAndFeel ([&sequencer] { return sequencer.isConnected(); }),
      m_korvaList (m_korvaModel, currentProjectIndex),
      m_pcList (*PcProjectList::getInstance(), DirectorySettingManager::getInstance()->getDataDirectoryFile())
{
    showMessage = showWarningBox;
    showInformation = showInformationBox;
    confirm = [] (const juce::String& title, const juce::String& text) {
#if JUCE_MODAL_LOOPS_PERMITTED
        traceMessageBox (title, text);
        return juce::AlertWindow::showOkCancelBox (juce::MessageBoxIconType::QuestionIcon, title, text, "OK", "Cancel",
                                                   nullptr, nullptr);
#else
        juce::ignoreUnused (title, text);
        return false;
#endif
    };
    askForName = RenameAlertWindow::askForName;
    chooseFolder = [this] (const juce::File& start, std::function<void (const juce::File&)> chosen) {
        // zenity or kdialog when present, the framework's own browser otherwise.
        m_folderChooser = std::make_unique<juce::FileChooser> (kChooseFolderTitle, start);
        m_folderChooser->launchAsync (juce::FileBrowserComponent::openMode
                                          | juce::FileBrowserComponent::canSelectDirectories,
                                      [chosen] (const juce::FileChooser& chooser) { chosen (chooser.getResult()); });
    };

    showMenu = [] (const juce::PopupMenu& menu, juce::Rectangle<int> area, std::function<void (int)> chosen) {
        juce::PopupMenu (menu).showMenuAsync (juce::PopupMenu::Options().withTargetScreenArea (area), std::move (chosen));
    };

    auto& korvaTable = m_korvaList.getModel();
    korvaTable.onActivate = [this] { activate (Side::kKorva); };
    korvaTable.onDelete = [this] {
        if (isKorvaSelectionUsable())
            deleteKorvaProject();
    };
    korvaTable.onMenu = [this] { openMenu (Side::kKorva, true); };
    auto& pcTable = m_pcList.getModel();
    pcTable.onActivate = [this] { activate (Side::kPc); };
    pcTable.onDelete = [this] { clickIfEnabled (m_pcDeleteButton); };
    pcTable.onMenu = [this] { openMenu (Side::kPc, true); };
    m_pcList.onFilesDropped = [this] (const juce::StringArray& paths) { projectFilesDropped (paths); };

    setLookAndFeel (&m_lookAndFeel);
    m_korvaList.setLookAndFeel (&m_korvaListLookAndFeel);
    m_pcList.setLookAndFeel (&m_pcListLookAndFeel);

    addAndMakeVisible (m_korvaList);
    addAndMakeVisible (m_pcList);
    for (auto* button : std::initializer_list<juce::Button*> { &m_folderButton, &m_korvaRenameButton,
                                                               &m_korvaDeleteButton, &m_pcRenameButton,
                                                               &m_pcDeleteButton, &m_importButton, &m_exportButton })
    {
        button->setWantsKeyboardFocus (false);
        button->addListener (this);
        addAndMakeVisible (button);
    }
    setWantsKeyboardFocus (true);

    m_korvaModel.addActionListener (this);
    m_sequencer.addListener (this);

    refresh();
}

ProjectView::~ProjectView()
{
    // First of all: after this no sequencer callback can reach the page.
    m_sequencer.removeListener (this);
    m_korvaModel.removeActionListener (this);

    closeProgressWindows();
    m_folderChooser.reset();
    juce::PopupMenu::dismissAllActiveMenus();
    m_backup.reset();

    for (auto* button : std::initializer_list<juce::Button*> { &m_folderButton, &m_korvaRenameButton,
                                                               &m_korvaDeleteButton, &m_pcRenameButton,
                                                               &m_pcDeleteButton, &m_importButton, &m_exportButton })
        button->removeListener (this);

    m_pcList.setLookAndFeel (nullptr);
    m_korvaList.setLookAndFeel (nullptr);
    setLookAndFeel (nullptr);
}

//==============================================================================
void ProjectView::paint (juce::Graphics& g)
{
    paintPageFrame (g, getLocalBounds(), 0);

    const bool connected = m_sequencer.isConnected();
    g.setFont (15.0f);
    g.setColour (juce::Colour (connected ? colours::kText : colours::kDisabled));
    g.drawText ("KORVA", 15, 10, 80, 19, juce::Justification::bottomLeft, true);
    g.setColour (juce::Colour (colours::kText));
    g.drawText ("PC/Mac", 410, 10, 80, 19, juce::Justification::bottomLeft, true);

    if (! connected)
        return;

    const auto* projects = ProjectDataManager::getInstance();
    const int projectRoom = projects->remainingProjectCapacity.load();
    const int patternRoom = projects->remainingPatternCapacity.load();
    const bool known = projectRoom != -1 && patternRoom != -1;

    g.setFont (14.0f);
    g.drawText ("Remaining project capacity: ", 115, 303, 200, 20, juce::Justification::centredRight, true);
    g.drawText ("Remaining pattern capacity: ", 115, 323, 200, 20, juce::Justification::centredRight, true);
    g.drawText (known ? juce::String (projectRoom) : juce::String ("--"), 315, 303, 40, 20,
                juce::Justification::centredLeft, true);
    g.drawText (known ? juce::String (patternRoom) : juce::String ("--"), 315, 323, 40, 20,
                juce::Justification::centredLeft, true);
}

void ProjectView::resized()
{
    m_korvaList.setBounds (15, 39, 330, 235);
    m_pcList.setBounds (410, 39, 390, 235);
    m_folderButton.setBounds (776, 10, 24, 24);
    m_korvaRenameButton.setBounds (200, 279, 70, 24);
    m_korvaDeleteButton.setBounds (275, 279, 70, 24);
    m_pcRenameButton.setBounds (655, 279, 70, 24);
    m_pcDeleteButton.setBounds (730, 279, 70, 24);
    m_importButton.setBounds (360, 114, 38, 38);
    m_exportButton.setBounds (360, 172, 38, 38);
}

void ProjectView::onTransitioned (bool shown)
{
    View::onTransitioned (shown);
    m_active = shown;
    devicePageTransitioned (*this, shown, m_sequencer, [this] { refresh(); });
    m_poll.keep (m_active, m_sequencer.isConnected());
}

void ProjectView::refresh()
{
    const bool connected = m_sequencer.isConnected();
    m_korvaList.setEnabled (connected);

    if (! connected && isImportingAll())
    {
        m_backup->disconnected();
        runEnded();
    }
    // An import the KORVA took with it never answers.
    if (connected)
        m_runImportPending = false;

    m_korvaModel.clear();
    m_korvaList.refresh();

    auto* projects = ProjectDataManager::getInstance();
    projects->remainingProjectCapacity = -1;
    projects->remainingPatternCapacity = -1;

    setDeviceButtonsEnabled (connected);
    m_poll.keep (m_active, connected);
    repaint();
}

void ProjectView::setDeviceButtonsEnabled (bool enabled)
{
    m_korvaRenameButton.setEnabled (enabled);
    m_korvaDeleteButton.setEnabled (enabled);
    m_importButton.setEnabled (enabled);
    m_exportButton.setEnabled (enabled);
}

void ProjectView::poll()
{
    if (m_active && m_sequencer.isConnected())
        m_sequencer.requestGetProjectInfo();
}

void ProjectView::actionListenerCallback (const juce::String& notice)
{
    if (notice == KorvaProjectList::kInvalidRowsChange)
    {
        m_korvaRenameButton.setEnabled (false);
        m_korvaDeleteButton.setEnabled (false);
        m_importButton.setEnabled (false);
    }
    else if (notice == KorvaProjectList::kValidRowsChange && m_sequencer.isConnected())
    {
        m_korvaRenameButton.setEnabled (true);
        m_korvaDeleteButton.setEnabled (true);
        m_importButton.setEnabled (true);
    }
}

void ProjectView::buttonClicked (juce::Button* button)
{
    if (button == &m_folderButton)
        chooseDataFolder();
    else if (button == &m_importButton)
        importProject();
    else if (button == &m_exportButton)
        exportProject();
    else if (button == &m_korvaRenameButton)
        renameKorvaProject();
    else if (button == &m_korvaDeleteButton)
        deleteKorvaProject();
    else if (button == &m_pcRenameButton)
        renamePcProject();
    else if (button == &m_pcDeleteButton)
        deletePcProject();
}

//==============================================================================
// Keys and menus

ProjectView::Side ProjectView::focusedSide() const
{
    if (m_korvaList.hasKeyboardFocus (true))
        return Side::kKorva;
    if (m_pcList.hasKeyboardFocus (true))
        return Side::kPc;
    return Side::kNone;
}

bool ProjectView::keyPressed (const juce::KeyPress& key)
{
    const auto side = focusedSide();
    if (side == Side::kNone)
        return false;

    if (key == juce::KeyPress (juce::KeyPress::F2Key))
    {
        if (side == Side::kPc)
            clickIfEnabled (m_pcRenameButton);
        else if (isKorvaSelectionUsable())
            renameKorvaProject();
        return true;
    }
    if (key == juce::KeyPress (juce::KeyPress::F10Key, juce::ModifierKeys::shiftModifier, 0))
    {
        openMenu (side, false);
        return true;
    }
    return false;
}

bool ProjectView::keyStateChanged (bool isKeyDown)
{
    const bool menuKeyDown = isKeyDown && juce::KeyPress::isKeyCurrentlyDown (kMenuKeyCode);
    const bool pressed = menuKeyDown && ! m_menuKeyDown;
    m_menuKeyDown = menuKeyDown;
    if (! pressed || focusedSide() == Side::kNone)
        return false;
    openMenu (focusedSide(), false);
    return true;
}

void ProjectView::clickIfEnabled (juce::Button& button)
{
    // As the button does, with its checks and messages.
    if (button.isEnabled())
        buttonClicked (&button);
}

bool ProjectView::isKorvaSelectionUsable() const
{
    // What the buttons show once the selection's notice has arrived; a
    // right-click selects a row and opens the menu before it does.
    const int index = m_korvaList.getSelectedProjectIndex();
    return m_sequencer.isConnected() && index >= 0 && index != currentProjectIndex();
}

void ProjectView::activate (Side side)
{
    if (side == Side::kPc)
        clickIfEnabled (m_exportButton);
    else if (isKorvaSelectionUsable())
        importProject();
}

juce::PopupMenu ProjectView::makeKorvaMenu() const
{
    const bool usable = isKorvaSelectionUsable();
    juce::PopupMenu menu;
    menu.addItem (kImportItem, "Import", usable);
    menu.addItem (kImportAllItem, juce::String::fromUTF8 (kImportAllText),
                  m_sequencer.isConnected() && m_korvaModel.getNumRows() > 0 && ! isImportingAll());
    menu.addItem (kRenameItem, "Rename", usable);
    menu.addItem (kDeleteItem, "Delete", usable);
    return menu;
}

juce::PopupMenu ProjectView::makePcMenu() const
{
    const bool selected = m_pcList.getSelectedProjectFile() != juce::File();
    juce::PopupMenu menu;
    menu.addItem (kExportItem, "Export", selected && m_exportButton.isEnabled());
    menu.addItem (kRenameItem, "Rename", selected && m_pcRenameButton.isEnabled());
    menu.addItem (kDeleteItem, "Delete", selected && m_pcDeleteButton.isEnabled());
    menu.addItem (kOpenFolderItem, kOpenFolderText);
    menu.addItem (kChooseFolderItem, juce::String::fromUTF8 (kChooseFolderText));
    return menu;
}

void ProjectView::openMenu (Side side, bool atPointer)
{
    if (side == Side::kNone || ! showMenu)
        return;

    // At the pointer for a right-click; for a key, below the selected row
    // (or the table's header when none is).
    juce::Rectangle<int> area;
    if (atPointer)
    {
        area = juce::Rectangle<int> (1, 1).withPosition (juce::Desktop::getMousePosition());
    }
    else
    {
        auto& table = side == Side::kKorva ? m_korvaList.getTable() : m_pcList.getTable();
        const int row = table.getSelectedRow();
        const auto rowArea = row >= 0 ? table.getRowPosition (row, true) : table.getHeader().getBounds();
        area = table.localAreaToGlobal (rowArea).withWidth (table.getWidth() / 2);
    }

    juce::Component::SafePointer<ProjectView> safe (this);
    showMenu (side == Side::kKorva ? makeKorvaMenu() : makePcMenu(), area, [safe, side] (int item) {
        if (safe == nullptr || item == 0)
            return;
        safe->menuItemChosen (side, item);
    });
}

void ProjectView::menuItemChosen (Side side, int item)
{
    const bool korva = side == Side::kKorva;
    switch (item)
    {
        case kImportItem: importProject(); break;
        case kImportAllItem: importAllProjects(); break;
        case kExportItem: exportProject(); break;
        case kRenameItem: korva ? renameKorvaProject() : renamePcProject(); break;
        case kDeleteItem: korva ? deleteKorvaProject() : deletePcProject(); break;
        case kOpenFolderItem: openDataFolder(); break;
        case kChooseFolderItem: chooseDataFolder(); break;
        default: break;
    }
}

void ProjectView::openDataFolder()
{
    const auto folder = DirectorySettingManager::getInstance()->getDataDirectoryFile();
    // A folder chosen once may have gone since; the file manager needs it.
    if (const int error = infra::FileTools::makeFolders (folder); error != 0)
    {
        message ({}, "Could not open the data folder " + folder.getFullPathName() + ": "
                         + infra::FileFailure { folder, error, {} }.reason() + ".");
        return;
    }
    juce::Component::SafePointer<ProjectView> safe (this);
    m_opener.open (folder, [safe, folder] (const juce::String& reason) {
        if (safe != nullptr)
            safe->message ({}, "Could not open the data folder " + folder.getFullPathName() + ": " + reason + ".");
    });
}

//==============================================================================
// Project files dropped from a file manager

void ProjectView::projectFilesDropped (const juce::StringArray& paths)
{
    const auto folder = DirectorySettingManager::getInstance()->getDataDirectoryFile();
    juce::StringArray refused;
    bool copied = false;
    for (const auto& path : paths)
    {
        const juce::File file (path);
        juce::MemoryBlock header;
        if (file.isDirectory() || ! PcProjectList::readHeader (file, header))
        {
            refused.add (file.getFileName());
            continue;
        }
        // Already listed: a copy beside itself would only be a duplicate.
        if (file.getParentDirectory() == folder)
            continue;

        infra::FileFailure failure;
        if (ProjectDataManager::copyToFolder (file, folder, &failure) == juce::File())
        {
            // The folder takes no project: the other files would fare no better.
            m_pcList.refresh();
            message ({}, "Could not copy " + file.getFileName() + ": "
                             + devicemessages::cannotSaveProject (failure));
            return;
        }
        copied = true;
    }
    if (copied)
        m_pcList.refresh();
    if (! refused.isEmpty())
        message ({}, juce::String (refused.size() == 1 ? "This file is not a KORVA project and was not copied: "
                                                       : "These files are not KORVA projects and were not copied: ")
                         + refused.joinIntoString (", "));
}

//==============================================================================
void ProjectView::message (const juce::String& title, const juce::String& text)
{
    if (showMessage)
        showMessage (title, text);
}

juce::String ProjectView::communicationError (int result)
{
    return devicemessages::communicationError (result);
}

//==============================================================================
// The data folder, import and export

void ProjectView::chooseDataFolder()
{
    if (! chooseFolder)
        return;

    juce::Component::SafePointer<ProjectView> safe (this);
    chooseFolder (DirectorySettingManager::getInstance()->getDataDirectoryFile(), [safe] (const juce::File& folder) {
        if (safe != nullptr)
            safe->folderChosen (folder);
    });
}

void ProjectView::folderChosen (const juce::File& folder)
{
    if (folder == juce::File() || ! folder.isDirectory())
        return;

    m_pcList.setDirectory (folder);
    DirectorySettingManager::getInstance()->setDataDirectory (folder.getFullPathName());
}

void ProjectView::importProject()
{
    const int index = m_korvaList.getSelectedProjectIndex();
    if (index < 0 || index > kMaxActionIndex)
        return;

    // The name becomes the start of the new file's name.
    ProjectDataManager::getInstance()->setProjectName (m_korvaList.getSelectedProjectName());
    m_sequencer.requestImportProjectData ((juce::uint8) index);
}

void ProjectView::exportProject()
{
    const auto name = m_pcList.getSelectedProjectName();
    const auto file = m_pcList.getSelectedProjectFile();
    const int patterns = m_pcList.getSelectedProjectPatterns();

    if (! file.existsAsFile())
        return;

    if (const auto refusal = projectchecks::checkExport (name); refusal.isNotEmpty())
    {
        message ({}, refusal);
        return;
    }
    m_sequencer.requestQueryExportableProject (file, patterns);
}

//==============================================================================
// Import all

void ProjectView::importAllProjects()
{
    if (isImportingAll() || ! m_sequencer.isConnected() || m_korvaModel.getNumRows() == 0)
        return;

    // In the table's order; the run passes over the project in use.
    m_backup = std::make_shared<ProjectBackup> (*ProjectDataManager::getInstance(), m_korvaModel.getRows(),
                                                DirectorySettingManager::getInstance()->getDataDirectoryFile());
    m_runCancelled = false;

    auto backup = m_backup;
    auto& sequencer = m_sequencer;
    juce::Component::SafePointer<ProjectView> safe (this);
    const auto progress = [backup, &sequencer] {
        return backup->getProgress (juce::jmax (0.0, sequencer.getRequestProgress()));
    };
    auto* window = new ProgressWindow (
        ProjectBackup::kTitle, "Transferring...", true, true,
        [progress] {
            const auto now = progress();
            return now.bytesTotal > 0 ? (double) now.bytesDone / (double) now.bytesTotal : 0.0;
        },
        [backup] { return backup->isOver(); },
        [safe] {
            if (safe != nullptr)
                safe->cancelRun();
        },
        [progress] { return ProjectBackup::describe (progress()); });
    addProgressWindow (window);
    importNextOfRun();
}

void ProjectView::importNextOfRun()
{
    if (m_runCancelled && ! m_backup->isOver())
        m_backup->importCancelled();

    if (const auto row = m_backup->startNext())
    {
        m_runImportPending = true;
        m_sequencer.requestImportProjectData ((juce::uint8) row->index);
        return;
    }
    runEnded();
}

void ProjectView::runImportOver (const std::function<void (ProjectBackup&)>& tell)
{
    m_runImportPending = false;
    if (m_backup == nullptr || m_backup->isOver())
        return;

    // A cancelled import is dropped, whatever came of it.
    if (m_runCancelled)
    {
        m_backup->importCancelled();
    }
    else
    {
        tell (*m_backup);
        // A KORVA unplugged mid-import may say so through a failed transfer first.
        if (! m_sequencer.isConnected())
            m_backup->disconnected();
    }
    m_pcList.refresh();
    importNextOfRun();
}

void ProjectView::cancelRun()
{
    if (! isImportingAll())
        return;
    m_runCancelled = true;
    m_sequencer.requestCancel();
}

bool ProjectView::closeRequested (std::function<void()> closeNow)
{
    if (! isImportingAll())
        return true;
    if (m_closeAfterRun != nullptr || ! confirm)
        return false; // asked already: the window closes when the run ends

    juce::Component::SafePointer<ProjectView> safe (this);
    const bool cancel = confirm (ProjectBackup::kTitle, kCloseDuringRunText);
    if (safe == nullptr || ! cancel)
        return false;
    if (! isImportingAll()) // it ended while the question was open
        return true;
    m_closeAfterRun = std::move (closeNow);
    cancelRun();
    return false;
}

void ProjectView::runEnded()
{
    m_pcList.refresh();
    // Cancelled for the window to close: it closes, without the run's message.
    if (auto close = std::exchange (m_closeAfterRun, nullptr))
    {
        close();
        return;
    }
    // A run that copied every project it asked for is no warning.
    if (m_backup->isComplete() && showInformation)
        showInformation (ProjectBackup::kTitle, m_backup->summary());
    else
        message (ProjectBackup::kTitle, m_backup->summary());
}

//==============================================================================
// Renaming and deleting

void ProjectView::renameKorvaProject()
{
    const int index = m_korvaList.getSelectedProjectIndex();
    const auto oldName = m_korvaList.getSelectedProjectName();
    if (index < 0 || index > kMaxActionIndex || ! askForName)
        return;

    juce::Component::SafePointer<ProjectView> safe (this);
    const auto newName = askForName (oldName, true);
    if (safe == nullptr || newName.isEmpty() || newName == oldName)
        return;

    const auto refusal = projectchecks::checkDeviceAction (ProjectAction::kRename, m_sequencer.isConnected(), index);
    if (refusal.isNotEmpty())
        message (kRenameTitle, refusal);
    else
        m_sequencer.requestRenameProject ((juce::uint8) index, newName);
}

void ProjectView::deleteKorvaProject()
{
    const int index = m_korvaList.getSelectedProjectIndex();
    const auto name = m_korvaList.getSelectedProjectName();
    if (index < 0 || index > kMaxActionIndex || ! confirm)
        return;

    juce::Component::SafePointer<ProjectView> safe (this);
    if (! confirm (kDeleteTitle, projectchecks::deleteQuestion (name)) || safe == nullptr)
        return;

    const auto refusal = projectchecks::checkDeviceAction (ProjectAction::kDelete, m_sequencer.isConnected(), index);
    if (refusal.isNotEmpty())
        message (kDeleteTitle, refusal);
    else
        m_sequencer.requestDeleteProject ((juce::uint8) index);
}

void ProjectView::renamePcProject()
{
    const auto file = m_pcList.getSelectedProjectFile();
    const auto oldName = m_pcList.getSelectedProjectName();
    if (! file.existsAsFile() || ! askForName)
        return;

    juce::Component::SafePointer<ProjectView> safe (this);
    const auto newName = askForName (oldName, false);
    if (safe == nullptr || newName.isEmpty() || newName == oldName)
        return;

    // Gone while the dialog was open: writing would create a stray file.
    if (! file.existsAsFile())
    {
        m_pcList.refresh();
        return;
    }

    if (int error = 0; ! ProjectDataManager::writeProjectName (file, newName, &error))
    {
        message (kRenameTitle, projectchecks::cannotChangeFile (ProjectAction::kRename, file, error));
        return;
    }
    m_pcList.refresh();
}

void ProjectView::deletePcProject()
{
    const auto file = m_pcList.getSelectedProjectFile();
    const auto name = m_pcList.getSelectedProjectName();
    if (! file.existsAsFile() || ! confirm)
        return;

    juce::Component::SafePointer<ProjectView> safe (this);
    if (! confirm (kDeleteTitle, projectchecks::deleteQuestion (name)) || safe == nullptr)
        return;

    if (const int error = infra::FileTools::remove (file); error == 0)
        m_pcList.refresh();
    else
        message (kDeleteTitle, projectchecks::cannotChangeFile (ProjectAction::kDelete, file, error));
}

//==============================================================================
// Progress windows

void ProjectView::openProgressWindow (const juce::String& title, const juce::String& text, bool hasCancelButton)
{
    auto& sequencer = m_sequencer;
    auto* window = new ProgressWindow (
        title, text, true, hasCancelButton, [&sequencer] { return sequencer.getRequestProgress(); },
        [&sequencer] { return sequencer.takeRequestFinished(); }, [&sequencer] { sequencer.requestCancel(); });
    addProgressWindow (window);
}

void ProjectView::addProgressWindow (ProgressWindow* window)
{
    m_progressWindows.removeIf ([] (const auto& w) { return w == nullptr; });
    m_progressWindows.add (window);
    window->launch();
}

ProgressWindow* ProjectView::getProgressWindow() const
{
    for (int i = m_progressWindows.size(); --i >= 0;)
        if (auto* window = m_progressWindows.getReference (i).get())
            return window;
    return nullptr;
}

void ProjectView::closeProgressWindows()
{
    // A window still open holds pointers into the sequencer, which may go
    // after the page: it closes with the page.
    for (auto& window : m_progressWindows)
        delete window.get();
    m_progressWindows.clear();
}

//==============================================================================
// Sequencer callbacks: they come on the sequencer's thread (or the message
// thread) and are done on the message thread.

void ProjectView::connectionChanged()
{
    if (infra::hop (m_taskBox, [this] { connectionChanged(); }))
        return;
    refresh();
}

void ProjectView::sendErrorOccurred (juce::uint8 dataType, eResult result)
{
    transportError (dataType, (int) result);
}

void ProjectView::receiveErrorOccurred (juce::uint8 dataType, eResult result)
{
    transportError (dataType, (int) result);
}

void ProjectView::transportError (juce::uint8 dataType, int result)
{
    if (dataType != HidSequenceManager::kImportProject && dataType != HidSequenceManager::kQueryExportProject
        && dataType != HidSequenceManager::kExportProject)
        return;
    if (infra::hop (m_taskBox, [this, dataType, result] { transportError (dataType, result); }))
        return;

    // An import of the run (perhaps of one that a disconnection ended already).
    if (dataType == HidSequenceManager::kImportProject && m_runImportPending)
        runImportOver ([why = communicationError (result)] (ProjectBackup& run) { run.importFailed (why); });
    else
        message ({}, communicationError (result));
}

void ProjectView::getProjectInfoResponsed (int result, bool changed)
{
    if (infra::hop (m_taskBox, [this, result, changed] { getProjectInfoResponsed (result, changed); }))
        return;

    if (result == HidSequenceManager::kResultOK)
    {
        FlashingMessage::getInstance()->setMessage ({});
        if (changed)
        {
            m_korvaList.refresh();
            repaint();
        }
    }
    else
    {
        FlashingMessage::getInstance()->setMessage (devicemessages::projectInfoFailure (result));
    }
}

void ProjectView::deleteProjectResponsed (int result)
{
    if (infra::hop (m_taskBox, [this, result] { deleteProjectResponsed (result); }))
        return;
    if (result != HidSequenceManager::kResultOK)
        message (kDeleteTitle, devicemessages::requestFailure (result));
}

void ProjectView::renameProjectResponsed (int result)
{
    if (infra::hop (m_taskBox, [this, result] { renameProjectResponsed (result); }))
        return;
    if (result != HidSequenceManager::kResultOK)
        message (kRenameTitle, devicemessages::requestFailure (result));
}

// A transfer's end. What failed on the computer's side is read on the
// sequencer's thread, in its call, before another transfer can replace it.
void ProjectView::importProjectDataResponsed (int result)
{
    importEnded (result, m_sequencer.getLocalFailure());
}

void ProjectView::importEnded (int result, const infra::FileFailure& local)
{
    if (infra::hop (m_taskBox, [this, result, local] { importEnded (result, local); }))
        return;

    if (m_runImportPending)
        runImportOver ([result, &local] (ProjectBackup& run) { run.importEnded (result, local); });
    else
        transferEnded (result == HidSequenceManager::kResultOK ? juce::String()
                                                                : devicemessages::importFailure (result, local),
                       true);
}

void ProjectView::transferEnded (const juce::String& failure, bool imported)
{
    if (infra::hop (m_taskBox, [this, failure, imported] { transferEnded (failure, imported); }))
        return;

    if (failure.isNotEmpty())
        message ({}, failure);
    else if (imported)
        m_pcList.refresh();
}

void ProjectView::queryExportProjectResponsed (int result)
{
    if (infra::hop (m_taskBox, [this, result] { queryExportProjectResponsed (result); }))
        return;

    if (result != HidSequenceManager::kResultOK)
        message ({}, devicemessages::roomCheckFailure (result));
}

void ProjectView::exportProjectDataResponsed (int result)
{
    // A file that could not be read was told of as it happened.
    if (result != HidSequenceManager::kResultOK && ! m_sequencer.getLocalFailure().failed())
        transferEnded (communicationError (result), false);
}

void ProjectView::readProjectFileErrorOccurred()
{
    infra::debugPrint ("readProjectFileErrorOccurred");
    if (const auto local = m_sequencer.getLocalFailure(); local.failed())
        transferEnded (devicemessages::cannotReadProject (local), false);
}

void ProjectView::deleteProjectRequestStarted()
{
    if (infra::hop (m_taskBox, [this] { deleteProjectRequestStarted(); }))
        return;
    openProgressWindow (kDeleteTitle, "Deleting...", false);
}

void ProjectView::renameProjectRequestStarted()
{
    if (infra::hop (m_taskBox, [this] { renameProjectRequestStarted(); }))
        return;
    openProgressWindow (kRenameTitle, "Renaming...", false);
}

void ProjectView::importProjectDataRequestStarted()
{
    if (infra::hop (m_taskBox, [this] { importProjectDataRequestStarted(); }))
        return;

    // The run has its one window. A cancel pressed before this import went
    // out could not reach it then.
    if (m_runImportPending)
    {
        if (m_runCancelled)
            m_sequencer.requestCancel();
        return;
    }
    openProgressWindow ({}, "Transferring...", true);
}

void ProjectView::exportProjectDataRequestStarted()
{
    if (infra::hop (m_taskBox, [this] { exportProjectDataRequestStarted(); }))
        return;
    openProgressWindow ({}, "Transferring...", true);
}

} // namespace korva
