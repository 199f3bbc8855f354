#pragma once
// What a test can judge depends on the sanitizer it runs under: their allocators and
// shadow memory change what a process holds, and their allocators end the process
// where a throwing operator new would run out of memory.

#if defined(__SANITIZE_ADDRESS__)
#define TARVOK_TEST_ASAN 1
#endif
#if defined(__SANITIZE_THREAD__)
#define TARVOK_TEST_TSAN 1
#endif
#if defined(__has_feature)
#if __has_feature(address_sanitizer) && !defined(TARVOK_TEST_ASAN)
#define TARVOK_TEST_ASAN 1
#endif
#if __has_feature(thread_sanitizer) && !defined(TARVOK_TEST_TSAN)
#define TARVOK_TEST_TSAN 1
#endif
#endif

#include <chrono>
#include <thread>

#ifdef TARVOK_TEST_ASAN
extern "C" void __sanitizer_purge_allocator();
#endif

namespace tarvok::test {

#ifdef TARVOK_TEST_ASAN
inline constexpr bool kAddressSanitizer = true;
#else
inline constexpr bool kAddressSanitizer = false;
#endif
#ifdef TARVOK_TEST_TSAN
inline constexpr bool kThreadSanitizer = true;
#else
inline constexpr bool kThreadSanitizer = false;
#endif

// How long a wait may last before a test calls it a hang: a safety net, not a
// measurement. An unoptimised sanitizer build reads and parses an answer of 200 MB many
// times slower than the normal build, and more so on a machine shared with other builds.
inline constexpr std::chrono::seconds kHangLimit{kAddressSanitizer || kThreadSanitizer ? 300 : 60};

// Hands memory freed by the program back to the system before its resident size is
// read. AddressSanitizer keeps freed blocks in quarantine (up to 256 MB) to catch a
// late use, so without this the figure holds what was freed long ago.
inline void ReleaseFreedMemory() {
#ifdef TARVOK_TEST_ASAN
  __sanitizer_purge_allocator();
#endif
}

// ThreadSanitizer starts a thread of its own along with the first thread the process
// makes. A test that counts the process's threads before and after calls this first, so
// that thread is there on both sides of the count.
inline void StartSanitizerThreads() {
  if constexpr (kThreadSanitizer) std::thread([] {}).join();
}

}  // namespace tarvok::test
