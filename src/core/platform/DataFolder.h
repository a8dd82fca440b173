#pragma once
#include <string>

namespace spindle {

// The program's data folder: where the files Spindle loads but does not
// compile in (the FPGA player) are installed. Looked for next to the
// running program, as installed (<prefix>/bin/../share/spindle/firmware) and
// as built (a build folder's share/spindle/firmware, a few levels above the
// program), then at the folder the build was configured to install to.
// Returns the path of `fileName` in the first of them that holds it; when
// none does, its path in the install folder, so a message can say where it
// was expected.
std::string ProgramDataFile(const std::string& fileName);

// The folder of the running program (empty when it cannot be found).
std::string ProgramFolder();

}  // namespace spindle
