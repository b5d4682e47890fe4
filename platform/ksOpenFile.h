// Handing a file to the desktop to be opened with the application registered for it.
#pragma once
#include <string>

namespace ksplatform {

// Starts xdg-open with the file's absolute path as its one argument (no shell, so blanks
// and ";" stay part of the name, and a name starting with "-" is no option) and returns
// without waiting; the process is reaped when it ends. Its input and output are
// /dev/null, so a viewer that stays open holds no pipe of the caller's. Whether the
// opener exists or succeeds is not reported beyond the return value: true when it started.
bool OpenWithDesktop(const std::string& path);

}  // namespace ksplatform
