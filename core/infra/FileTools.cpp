#include "core/infra/FileTools.h"

#include "core/infra/Diagnostics.h"

namespace korva
{

namespace infra
{

juce::String FileFailure::reason() const
{
    if (error == 0)
        return ownReason;
    return FileTools::errorText (error);
}

bool FileTools::createParents (const juce::File& dir, bool flag)
{
    const auto path = dir.getFullPathName();

    if (path.endsWith (":"))
        return false;

    if (!INFRA_VERIFY ("infra::FileTools::createParents", dir.getFullPathName().isNotEmpty()))
        return false;

    const auto parent = dir.getParentDirectory();
    if (parent != dir && !parent.isDirectory())
        createParents (parent, flag);

    return dir.createDirectory().wasOk() && dir.isDirectory();
}

bool FileTools::createAnyhow (const juce::File& file, bool flag)
{
    const auto parent = file.getParentDirectory();
    if (!parent.isDirectory() && !createParents (parent, flag))
        return false;

    if (file.getFileExtension().isNotEmpty())
    {
        if (file.existsAsFile() && !file.deleteFile())
            return false;
        return file.create().wasOk() && file.existsAsFile();
    }

    return file.createDirectory().wasOk() && file.isDirectory();
}

} // namespace infra

} // namespace korva
