# Warnings for our own code only; JUCE's sources keep their own settings.
add_library(korva_warnings INTERFACE)
target_compile_options(korva_warnings INTERFACE -Wall -Wextra)
