#include "tools/korva/ToolFiles.h"

#include "core/infra/FileTools.h"

#include <iostream>

namespace korva
{

namespace tool
{

namespace
{

// Why the framework's file call that just failed did (cleared before it with
// FileTools::clearLastError), in the system's words.
juce::String systemReason (const juce::String& fallback)
{
    const int error = infra::FileTools::lastError();
    return error != 0 ? infra::FileTools::errorText (error).toLowerCase() : fallback;
}

} // namespace

juce::File fileFromArgument (const juce::String& path)
{
    return juce::File::getCurrentWorkingDirectory().getChildFile (path);
}

juce::String displayName (const juce::File& file)
{
    const juce::File cwd = juce::File::getCurrentWorkingDirectory();
    return file.isAChildOf (cwd) ? file.getRelativePathFrom (cwd) : file.getFullPathName();
}

int fail (const juce::String& subject, const juce::String& reason, int exitCode)
{
    return failLine ("korva: " + subject + ": " + reason, exitCode);
}

int failLine (const juce::String& line, int exitCode)
{
    std::cerr << line.replaceCharacters ("\r\n", "  ").toStdString() << std::endl;
    return exitCode;
}

bool readExactly (const juce::File& file, std::size_t expectedSize, const char* what, juce::MemoryBlock& data,
                  juce::String& reason)
{
    if (file.isDirectory())
    {
        reason = "is a folder, not a file";
        return false;
    }
    if (!file.existsAsFile())
    {
        reason = "no such file";
        return false;
    }
    const juce::int64 size = file.getSize();
    if (size != (juce::int64)expectedSize)
    {
        reason = "not " + juce::String (what) + ": " + juce::String (size) + " bytes instead of " +
                 juce::String ((juce::int64)expectedSize);
        return false;
    }
    infra::FileTools::clearLastError();
    if (!file.loadFileAsData (data) || data.getSize() != expectedSize)
    {
        reason = "cannot read the file (" + systemReason ("read error") + ")";
        return false;
    }
    return true;
}

bool writeThroughTemporary (const juce::File& target, const FileWriter& write, juce::String& reason)
{
    if (target.isDirectory())
    {
        reason = "is a folder, not a file";
        return false;
    }
    if (!target.getParentDirectory().isDirectory())
    {
        reason = "the folder " + displayName (target.getParentDirectory()) + " does not exist";
        return false;
    }

    juce::TemporaryFile temporary (target);
    if (!write (temporary.getFile(), reason))
        return false;
    if (!temporary.getFile().existsAsFile())
    {
        reason = "nothing was written";
        return false;
    }
    infra::FileTools::clearLastError();
    if (!temporary.overwriteTargetFileWithTemporary())
    {
        reason = "cannot replace the file (" + systemReason ("rename failed") + ")";
        return false;
    }
    return true;
}

bool writeBytes (const juce::File& target, const void* data, std::size_t size, juce::String& reason)
{
    return writeThroughTemporary (
        target,
        [data, size] (const juce::File& temporary, juce::String& why)
        {
            infra::FileTools::clearLastError();
            juce::FileOutputStream out (temporary);
            if (out.openedOk() && out.write (data, size))
            {
                out.flush();
                if (out.getStatus().wasOk())
                    return true;
            }
            why = "cannot write the file (" + systemReason ("write error") + ")";
            return false;
        },
        reason);
}

} // namespace tool

} // namespace korva
