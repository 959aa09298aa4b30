// Calling convention and visibility macros for code that crosses a module
// boundary. Interface methods and exported entry points use the Windows
// stdcall convention on 32-bit x86; elsewhere the platform's default applies.
#pragma once

#if defined(__i386__) || defined(_M_IX86)
#define CV_STDCALL __attribute__((stdcall))
#else
#define CV_STDCALL
#endif

#if defined(_WIN32)
#define CV_EXPORT __declspec(dllexport)
#define CV_IMPORT __declspec(dllimport)
#else
#define CV_EXPORT __attribute__((visibility("default")))
#define CV_IMPORT
#endif

// Functions of the platform library. On POSIX the backend is a shared library
// that the plug-in and its host both load, so its state exists once per
// process; on Windows the backend is linked into each module statically and
// the shared state lives in the system's own libraries.
#if defined(_WIN32) || !defined(CV_PLATFORM_SHARED)
#define CV_PLATFORM_API
#elif defined(CV_PLATFORM_BUILDING)
#define CV_PLATFORM_API CV_EXPORT
#else
#define CV_PLATFORM_API CV_IMPORT
#endif

namespace corvane::platform {
// The operating system family the module is built for: 'W' for Windows,
// 'L' for the POSIX systems (where runtimes are shared objects, not DLLs).
#if defined(_WIN32)
inline constexpr char kOsTypeLetter = 'W';
#else
inline constexpr char kOsTypeLetter = 'L';
#endif
}  // namespace corvane::platform
