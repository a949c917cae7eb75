#include "app/Application.h"

START_JUCE_APPLICATION (MELDRA_QX5_Application)
