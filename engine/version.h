#pragma once

namespace vs32 {
// Program version shown by --version and sent to the spot service.
const char* Version();
}  // namespace vs32
