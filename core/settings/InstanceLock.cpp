#include "core/settings/InstanceLock.h"

#include "core/infra/UserFolders.h"

namespace korva
{

juce::File InstanceLock::defaultLockFile()
{
    return infra::UserFolders::applicationData()
        .getChildFile ("MELDRA")
        .getChildFile ("KORVA Manager")
        .getChildFile (".instance.lock");
}

} // namespace korva
