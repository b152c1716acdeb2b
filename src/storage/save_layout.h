#pragma once

#include <cstdint>

namespace tarnwick {

// How saved files are laid out below the "download" folder. The numbers are stored values.
enum class SaveLayout : std::int32_t {
  Tree = 0,  // host and directories of the URL become nested folders
  Date = 1,  // one flat folder per local day, named "%Y%m%d"
};

}  // namespace tarnwick
