#include "app/MainContentComponent.h"

MainContentComponent::MainContentComponent()
{
    setSize (kWidth, kHeight);
}

MainContentComponent::~MainContentComponent() = default;

void MainContentComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (kBackground));
}
