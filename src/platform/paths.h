// Where the program's data files are: beside the executable in a build tree,
// or in ../share/plexora beside its bin folder once installed.
#pragma once

#include <string>

namespace paths {

// Any thread. The folder holding the running executable, without a final
// '/'; empty when it cannot be found.
std::string program_dir();
// Any thread. The path of data file `name`: the copy beside the executable
// when there is one, else the installed one (which may not exist either).
std::string data_file(const std::string& name);

}  // namespace paths
