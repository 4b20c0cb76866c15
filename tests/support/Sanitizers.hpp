#pragma once
// Whether the tests run under AddressSanitizer, for the few that it changes: their
// largest inputs are left to the other builds, and address-space limits do not apply.
// GCC defines __SANITIZE_ADDRESS__; clang before version 17 tells only through
// __has_feature.

#if defined(__SANITIZE_ADDRESS__)
#define MESHCODEC_ADDRESS_SANITIZER 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define MESHCODEC_ADDRESS_SANITIZER 1
#endif
#endif
#ifndef MESHCODEC_ADDRESS_SANITIZER
#define MESHCODEC_ADDRESS_SANITIZER 0
#endif
