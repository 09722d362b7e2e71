#pragma once
// The report mode of the demo: the device command layer alone, printed.

namespace demo {

// argv[0] is "--report"; the report's own options follow. Returns the exit code.
int RunReport(int argc, char** argv);

}  // namespace demo
