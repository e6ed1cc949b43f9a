#pragma once

// KIRO_API marks the exported class interface. Everything else is hidden.
#if defined(KIRO_STATIC_LINK)
#define KIRO_API
#elif defined(_WIN32)
#if defined(KIRO_BUILDING_LIBRARY)
#define KIRO_API __declspec(dllexport)
#else
#define KIRO_API __declspec(dllimport)
#endif
#else
#define KIRO_API __attribute__((visibility("default")))
#endif
