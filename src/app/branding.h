#pragma once
// The vendor's contact values, set at build time (CMake cache variables) so a vendor can
// brand a build without touching code. The defaults are neutral placeholders.

#ifndef QUILLON_VERSION
#error "QUILLON_VERSION and QUILLON_VERSION_SHORT come from the build (quillon_app's definitions)"
#endif

#include "app/language.h"
#ifndef QUILLON_WEB_ADDRESS
#define QUILLON_WEB_ADDRESS "https://quillon.example.com"
#endif
#ifndef QUILLON_SERVICE_LABEL
#define QUILLON_SERVICE_LABEL "在线客服:"
#endif
#ifndef QUILLON_SERVICE_LABEL_EN
#define QUILLON_SERVICE_LABEL_EN "Online customer service:"
#endif
#ifndef QUILLON_SERVICE_NUMBER
#define QUILLON_SERVICE_NUMBER "000000"
#endif
#ifndef QUILLON_SUPPORT_TELEPHONE
#define QUILLON_SUPPORT_TELEPHONE "000-0000000"
#endif

namespace quillon::branding {

// The version, from the build (project(VERSION) in CMake): QUILLON_VERSION is "2.0.0", the
// caption shows major and minor, "Quillon 2.0".
inline constexpr const char* kVersion = QUILLON_VERSION;
inline constexpr const char* kProductVersion = "Quillon " QUILLON_VERSION_SHORT;
inline constexpr const char* kProductName = "Quillon";
inline constexpr const char* kWebAddress = QUILLON_WEB_ADDRESS;
// The customer-service label names the instant-messaging service; the number follows it.
inline constexpr TText kServiceLabel{QUILLON_SERVICE_LABEL, QUILLON_SERVICE_LABEL_EN};
inline constexpr const char* kServiceNumber = QUILLON_SERVICE_NUMBER;
inline constexpr const char* kSupportTelephone = QUILLON_SUPPORT_TELEPHONE;

}  // namespace quillon::branding
