#include "engine/version.h"

namespace vs32 {
const char* Version() { return VS32_VERSION; }
}  // namespace vs32
