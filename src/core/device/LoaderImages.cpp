// The built-in loader programs as LoaderRecord tables, generated at build
// time from firmware/loader/ (see firmware/CMakeLists.txt).
#include "device/LoaderImages.h"

namespace spindle {

#include "FxEepromLoader.inc"
#include "Fx2EepromLoader.inc"

}  // namespace spindle
