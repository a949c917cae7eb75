#pragma once
// Stand-in with the transport's public types until the transport lands.
#include "infra/AsyncTask.h"
class HidDeviceManager
{
public:
    enum eResult
    {
        kSuccess = 0,
        kCanceled = 1,
        kSendStartWriteError = 2,
        kSendStartAckTimeout = 3,
        kSendDataWriteError = 4,
        kSendDataRejected = 5,
        kSendDataAckTimeout = 6,
        kRecvStartError = 7,
        kRecvStartAckWriteError = 8,
        kRecvDataTimeout = 9,
        kRecvAckWriteError = 10,
        kRecvChecksumError = 11
    };
    class IHidDeviceManagerListener : public infra::ExistenceConfirmable
    {
    public:
        virtual ~IHidDeviceManagerListener() = default;
        virtual void onHidConnected (juce::StringArray&) {}
        virtual void onHidDisconnected (juce::StringArray&) {}
        virtual void onHidSendCompleted (eResult) {}
        virtual void onHidRecvStarted() {}
        virtual void onHidRecvCompleted (eResult, juce::uint8, juce::MemoryBlock&) {}
    };
};
