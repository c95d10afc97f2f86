#ifndef KORVA_PLATFORM_EXECUTABLE_FOLDER_H_
#define KORVA_PLATFORM_EXECUTABLE_FOLDER_H_

#include <string>

namespace Korva {

// The folder of the running program's file as an absolute path, without a
// trailing slash; "" when the system does not name the file (never a
// relative folder, which would be the current one).
std::string ExecutableFolder();

}  // namespace Korva

#endif  // KORVA_PLATFORM_EXECUTABLE_FOLDER_H_
