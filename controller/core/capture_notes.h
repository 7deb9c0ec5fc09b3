// The settings a captured picture carries with it: one "name: value" line per setting,
// so that a picture found on a stick months later still says how it was taken.
#pragma once

#include <string>

std::string capture_settings_notes();
