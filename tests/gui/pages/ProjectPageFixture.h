#pragma once

// The project page as its tests build it: a real sequencer whose transport
// is a KORVA at the level of whole messages (FakeKorva answers as the device
// would), the page's boxes and questions recorded instead of shown, and the
// data folder a folder of the test's own.

#include "core/projects/ProjectDataManager.h"
#include "core/settings/DirectorySetting.h"
#include "gui/pages/ProjectView.h"
#include "gui/widgets/FlashingMessage.h"
#include "tests/core/projects/ProjectFixtures.h"
#include "tests/support/MessageLevelKorva.h"
#include "tests/support/TestSupport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <functional>

namespace korva
{

namespace test
{
inline juce::MemoryBlock status (std::initializer_list<int> values)
{
    return bytesOf (values);
}

// The KORVA as far as the project page needs it: a project list, delete and
// rename, import of its projects block by block, and export into it. Answers
// on the transport's thread.
class FakeKorva
{
public:
    struct Project
    {
        int index;
        juce::String name;
        int patterns;
    };

    void setProjects (std::vector<Project> projects, int current = 0, int projectRoom = 10, int patternRoom = 1000)
    {
        std::lock_guard<std::mutex> lock (m_mutex);
        m_projects = std::move (projects);
        m_current = current;
        m_projectRoom = projectRoom;
        m_patternRoom = patternRoom;
    }

    // The status byte that ends a delete or rename (3 done, 2 busy, 0 refused).
    std::atomic<int> editStatus { 3 };
    // The answer to "is there room for this project?" (1 yes, 0 no, 2 busy).
    std::atomic<int> exportRoom { 1 };
    // While closed, the device holds back its answer to the block after the header.
    std::atomic<bool> gateOpen { true };
    // The import of this project is answered "busy".
    std::atomic<int> busyImport { -1 };
    std::atomic<juce::uint32> editEndTime { 0 };
    std::vector<juce::MemoryBlock> received; // export blocks, transport thread only until read after the end

    // Sees every message before it is answered, on the transport's thread
    // (set before the exchange starts).
    std::function<void (juce::uint8 type, const juce::MemoryBlock& payload)> onMessage;

    std::optional<juce::MemoryBlock> answer (juce::uint8 type, const juce::MemoryBlock& payload)
    {
        if (onMessage)
            onMessage (type, payload);
        const auto* p = static_cast<const juce::uint8*> (payload.getData());
        switch (type)
        {
            case HidSequenceManager::kProjectInfo: return projectInfoPayload();
            case HidSequenceManager::kDeleteProject:
            case HidSequenceManager::kRenameProject:
                editEndTime = juce::Time::getMillisecondCounter();
                return status ({ editStatus.load() });
            case HidSequenceManager::kImportProject: return importAnswer (p[0], p[1]);
            case HidSequenceManager::kQueryExportProject: return status ({ exportRoom.load() });
            case HidSequenceManager::kExportProject:
                if (payload.getSize() == 4096 && ProjectDataManager::isPatternBlock (payload))
                    waitForGate();
                received.push_back (payload);
                return status ({ 1 });
            default: return std::nullopt;
        }
    }

private:
    juce::MemoryBlock projectInfoPayload()
    {
        std::lock_guard<std::mutex> lock (m_mutex);
        std::vector<DeviceProject> listed;
        for (const auto& project : m_projects)
            listed.push_back ({ project.index, project.patterns, project.name.toRawUTF8() });
        return projectInfo (listed, m_projectRoom, m_patternRoom, m_current);
    }

    std::optional<juce::MemoryBlock> importAnswer (int index, int command)
    {
        if (command == 0x02) // abort: the device confirms
            return status ({ 1 });
        if (command == 0x00 && index == busyImport.load())
            return status ({ 2 });
        if (command == 0x00)
        {
            std::lock_guard<std::mutex> lock (m_mutex);
            m_sending.reset();
            for (const auto& project : m_projects)
                if (project.index == index)
                    m_sending = projectFile (project.name, project.patterns);
            m_nextBlock = 0;
        }
        if (command == 0x01 && m_nextBlock == 1)
            waitForGate();

        std::lock_guard<std::mutex> lock (m_mutex);
        if (m_nextBlock < (int) m_sending.getSize() / 4096)
            return juce::MemoryBlock (static_cast<const char*> (m_sending.getData()) + 4096 * m_nextBlock++, 4096);
        return status ({ 1 });
    }

    void waitForGate()
    {
        waitUntil ([this] { return gateOpen.load(); }, 10000);
    }

    std::mutex m_mutex;
    std::vector<Project> m_projects;
    int m_current = 0, m_projectRoom = 10, m_patternRoom = 1000;
    juce::MemoryBlock m_sending;
    int m_nextBlock = 0;
};

inline std::vector<juce::String> rowNames (const ProjectList& list)
{
    std::vector<juce::String> names;
    for (const auto& row : list.getRows())
        names.push_back (row.name);
    return names;
}

struct Page : ::testing::Test
{
    // The page asks for the device's list ten times a second here, not once.
    static constexpr int kPollPeriodMs = 100;

    TempFolder tmp;
    FakeKorva device; // answers on the transport's thread: outlives it
    HidSequenceManager sequencer;
    MessageLevelKorva korva { sequencer };
    RecordingListener events;
    std::unique_ptr<ProjectView> page;

    std::vector<std::pair<juce::String, juce::String>> boxes;
    // The texts of the boxes among them that carry the information icon, not the warning.
    std::vector<juce::String> informationBoxes;
    // The items of the last menu the page opened (text, enabled), and the
    // one the user picks from the next (none: the menu is dismissed).
    std::vector<std::pair<juce::String, bool>> menuShown;
    juce::String menuPick;
    std::vector<std::pair<juce::String, juce::String>> questions;
    bool confirmAnswer = true;
    std::function<juce::String (const juce::String&, bool)> renameAnswer;

    KorvaProjectList& korvaModel = *KorvaProjectList::getInstance();
    PcProjectList& pcModel = *PcProjectList::getInstance();
    ProjectDataManager& projects = *ProjectDataManager::getInstance();

    juce::File dataFolder() const { return tmp / "data"; }

    void SetUp() override
    {
        dataFolder().createDirectory();
        DirectorySettingManager::getInstance()->setDataDirectory (dataFolder().getFullPathName());
        projects.dataDirectory = [] { return DirectorySettingManager::getInstance()->getDataDirectoryFile(); };
        projects.currentProjectIndex = 0;
        korvaModel.clear();
        FlashingMessage::getInstance()->setMessage ({});

        device.setProjects ({ { 4, "Live", 2 }, { 9, "Demo", 0 }, { 2, "Ballad", 1 } }, 2, 12, 900);
        korva.answer = [this] (juce::uint8 type, const juce::MemoryBlock& payload) {
            return device.answer (type, payload);
        };
        sequencer.setTransport (&korva);
        sequencer.setProjectSide (&projects);
        sequencer.addListener (&events);

        page = std::make_unique<ProjectView> (sequencer);
        page->setBounds (0, 0, 815, 348);
        page->getPoll().setPeriod (kPollPeriodMs);
        page->showMessage = [this] (const juce::String& title, const juce::String& text) {
            boxes.emplace_back (title, text);
        };
        page->showInformation = [this] (const juce::String& title, const juce::String& text) {
            boxes.emplace_back (title, text);
            informationBoxes.push_back (text);
        };
        page->confirm = [this] (const juce::String& title, const juce::String& text) {
            questions.emplace_back (title, text);
            return confirmAnswer;
        };
        page->askForName = [this] (const juce::String& name, bool checkDevice) {
            return renameAnswer ? renameAnswer (name, checkDevice) : name;
        };
        page->showMenu = [this] (const juce::PopupMenu& menu, juce::Rectangle<int>, std::function<void (int)> chosen) {
            menuShown.clear();
            int picked = 0;
            for (juce::PopupMenu::MenuItemIterator it (menu); it.next();)
            {
                const auto& item = it.getItem();
                menuShown.push_back ({ item.text, item.isEnabled });
                if (item.text == menuPick && item.isEnabled)
                    picked = item.itemID;
            }
            // As the framework's menu does, after the click that opened it.
            juce::MessageManager::callAsync ([chosen, picked] { chosen (picked); });
        };
        page->onTransitioned (true);
    }

    void TearDown() override
    {
        device.gateOpen = true;
        page.reset();
        sequencer.removeListener (&events);
        sequencer.setTransport (nullptr); // a request still waiting is refused, not sent to a KORVA on its way out
        FlashingMessage::deleteInstance(); // the main content's to delete in the program
    }

    // The last message of this type the KORVA received.
    juce::MemoryBlock lastSent (juce::uint8 type) const
    {
        const auto sent = korva.sent();
        for (auto it = sent.rbegin(); it != sent.rend(); ++it)
            if (it->first == type)
                return it->second;
        return {};
    }

    void connect()
    {
        juce::StringArray ids { "KORVA" };
        sequencer.onHidConnected (ids);
        ASSERT_TRUE (runMessageLoopUntil ([&] { return page->getKorvaList().isEnabled(); }));
    }

    // Connects and waits for the page's poll to fill the device table.
    void connectAndList()
    {
        connect();
        ASSERT_TRUE (waitForKorvaList());
    }

    // The device's three projects, as the page shows them after its refresh (in name order).
    bool waitForKorvaList()
    {
        return runMessageLoopUntil (
            [&] {
                return rowNames (korvaModel) == std::vector<juce::String> { "Ballad", "Demo", "Live" }
                       && projects.currentProjectIndex.load() == 2;
            },
            4000);
    }

    void writeProject (const juce::String& fileName, const juce::String& name, int patterns)
    {
        const auto bytes = projectFile (name, patterns);
        ASSERT_TRUE ((dataFolder().getChildFile (fileName)).replaceWithData (bytes.getData(), bytes.getSize()));
    }

    bool waitForPcRows (const std::vector<juce::String>& names, int timeoutMs = 4000)
    {
        return runMessageLoopUntil ([&] { return rowNames (pcModel) == names; }, timeoutMs);
    }

    void selectKorva (const juce::String& name)
    {
        const auto names = rowNames (korvaModel);
        const auto it = std::find (names.begin(), names.end(), name);
        ASSERT_NE (it, names.end()) << name;
        page->getKorvaList().getTable().selectRow ((int) (it - names.begin()));
    }

    void selectPc (const juce::String& name)
    {
        const auto names = rowNames (pcModel);
        const auto it = std::find (names.begin(), names.end(), name);
        ASSERT_NE (it, names.end()) << name;
        page->getPcList().getTable().selectRow ((int) (it - names.begin()));
    }

    // A right-click on a table (its selected row, or below the rows), then
    // `item` picked from the menu; false when the menu had no such item enabled.
    bool pickFromMenu (ProjectTableModel& table, const juce::String& item)
    {
        menuPick = item;
        menuShown.clear();
        table.onMenu();
        if (! deliverPostedMessages())
            return false;
        return std::find (menuShown.begin(), menuShown.end(), std::make_pair (item, true)) != menuShown.end();
    }
    bool pickFromKorvaMenu (const juce::String& item) { return pickFromMenu (page->getKorvaList().getModel(), item); }
    bool pickFromPcMenu (const juce::String& item) { return pickFromMenu (page->getPcList().getModel(), item); }

    // The click is posted; it is done on return.
    void click (juce::Button& button)
    {
        button.triggerClick();
        ASSERT_TRUE (deliverPostedMessages());
    }

    bool waitForBox (int timeoutMs = 4000)
    {
        return runMessageLoopUntil ([&] { return ! boxes.empty(); }, timeoutMs);
    }

    bool waitForEvent (const std::string& event, int timeoutMs = 5000)
    {
        return runMessageLoopUntil ([&] { return events.has (event); }, timeoutMs);
    }

    juce::Array<juce::File> savedProjects() const
    {
        return dataFolder().findChildFiles (juce::File::findFiles, false, "*.prj");
    }

    // Counts the pixels of one colour in a part of the page.
    int countPixels (juce::Rectangle<int> area, juce::Colour colour)
    {
        return countPixelsWhere (area, [&] (juce::Colour c) { return c.getARGB() == colour.getARGB(); });
    }

    // Counts the pixels of text drawn in black (anti-aliased edges included).
    int countInk (juce::Rectangle<int> area)
    {
        return countPixelsWhere (area, [] (juce::Colour c) { return c.getBrightness() < 0.35f; });
    }

    int countPixelsWhere (juce::Rectangle<int> area, const std::function<bool (juce::Colour)>& test)
    {
        const auto image = page->createComponentSnapshot (area, false, 1.0f);
        int n = 0;
        for (int y = 0; y < image.getHeight(); ++y)
            for (int x = 0; x < image.getWidth(); ++x)
                n += test (image.getPixelAt (x, y));
        return n;
    }
};
} // namespace test

} // namespace korva
