// The program version. It is written once, as the project version in
// CMakeLists.txt, which passes it as the string literal VS32_VERSION; texts
// that carry it are joined at compile time ("Vs32RxC v" VS32_VERSION).
#pragma once

#include <string_view>

#ifndef VS32_VERSION
#error "VS32_VERSION is set from the project version in CMakeLists.txt"
#endif

namespace vs32 {

inline constexpr std::string_view kVersion = VS32_VERSION;

// Program version shown by --version and sent to the spot service.
const char* Version();

}  // namespace vs32
