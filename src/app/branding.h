#pragma once
// The vendor's contact values, set at build time (CMake cache variables) so a vendor can
// brand a build without touching code. The defaults are neutral placeholders.

#ifndef QUILLON_WEB_ADDRESS
#define QUILLON_WEB_ADDRESS "https://quillon.example.com"
#endif

namespace quillon::branding {

inline constexpr const char* kProductVersion = "Quillon 2.0";
inline constexpr const char* kWebAddress = QUILLON_WEB_ADDRESS;

}  // namespace quillon::branding
