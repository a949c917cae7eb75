#pragma once

// What the request sequencer asks of the project side: the list of the
// KORVA's projects and its room, the data folder an import is saved in, and
// the store of a project the KORVA pushes unasked. ProjectDataManager
// implements it. Called on the sequencer's thread.

#include "core/infra/FileTools.h"

namespace korva
{

class ProjectSide
{
public:
    // From the end of a project-info answer.
    struct DeviceRoom
    {
        int remainingProjects = -1;
        int remainingPatterns = -1;
        int currentProject = 0;
    };

    static constexpr const char* kNoDataFolder = "No data folder is chosen";

    virtual ~ProjectSide() = default;

    // A checked project-info answer: rebuilds the list of the KORVA's
    // projects and records its room. False, and nothing recorded, when the
    // answer equals the previous one byte for byte.
    virtual bool updateDeviceProjects (const juce::MemoryBlock& projectInfo, const DeviceRoom& room) = 0;

    // Creates, empty, the file an import is assembled in; a null file and
    // the failure when it cannot be.
    virtual juce::File beginImport (infra::FileFailure& failure) = 0;
    // Gives a finished import its name in the folder it was assembled in.
    // The project's file, or a null file and the failure (about the folder).
    virtual juce::File finishImport (const juce::File& assembled, infra::FileFailure& failure) = 0;

    // Stores a project the KORVA pushed (one 4096-byte block) in the data
    // folder; false when it could not be.
    virtual bool storePushedProject (const juce::MemoryBlock& block) = 0;
};

} // namespace korva
