#pragma once
// The few things that differ between systems, behind plain functions.
// Implementations: Platform_posix.cpp and Platform_win.cpp, chosen by CMake.

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>
#include <string_view>
#include <system_error>

namespace tarvok {

// The folder of the running executable, where settings, chats and counters live.
// Tests (and the app at start) may set it; the first call otherwise asks the system.
std::filesystem::path ProgramDir();
void SetProgramDir(const std::filesystem::path& ADir);

// The system's temporary folder.
std::filesystem::path TempDir();

// The root of the user's own data folders, where a program the user cannot write keeps
// its files per user: $XDG_DATA_HOME, else ~/.local/share (POSIX); %LOCALAPPDATA%
// (Windows). Empty when the environment names no absolute folder.
std::filesystem::path UserDataRoot();

// The system's legacy single-byte code page (Windows: the ANSI code page; elsewhere
// Windows-1251, the users' legacy encoding). Characters with no mapping become '?'.
std::string DecodeLegacyCodePage(std::string_view ABytes);
std::string EncodeLegacyCodePage(std::string_view AUtf8);

// A file path from UTF-8 text and back, on every system.
std::filesystem::path PathFromUtf8(std::string_view AUtf8);
std::string PathToUtf8(const std::filesystem::path& APath);

// The characters after which a path's file name starts: '/' on POSIX, where '\\' and ':' are
// ordinary name characters; '\\', '/' and the drive colon on Windows.
std::string_view PathSeparatorChars();

// Puts the written temporary file ATemp in the place of ATarget in one step. On Windows an
// existing target is replaced with ReplaceFileW, which keeps its creation time (the chat
// list is ordered by it); elsewhere it is a rename, which gives the file a new birth time.
void MoveFileOver(const std::filesystem::path& ATemp, const std::filesystem::path& ATarget, std::error_code& AError);

// The broken-down local time of AWhen; false when the system cannot give it.
bool LocalTimeOf(std::time_t AWhen, std::tm& ALocal);

// Opens an existing file for binary reading by its UTF-8 name; null when it cannot.
std::FILE* OpenFileForReading(const std::string& AUtf8Path);
// Creates a new file for binary writing, readable by its owner only where the system has
// such rights, never following a link someone put there; null (errno set) when it exists or cannot be made.
std::FILE* CreateNewPrivateFile(const std::filesystem::path& APath);
// Makes what was written to the file reach the disk; false (errno set) on failure. Some
// file systems report a full disk only here.
bool FlushFileToDisk(std::FILE* AFile);
// Starts writing the given range of the file to the disk without waiting for it, so that
// a flush at the end waits only for the last pieces; a hint that may do nothing.
void StartFileWriteBack(std::FILE* AFile, std::uint64_t AOffset, std::uint64_t ALength);

// Asks that the memory of a large buffer about to be written be backed by large pages
// where the system offers them on request (Linux's transparent huge pages): a few hundred
// megabytes of fresh memory then cost a few hundred page faults instead of a hundred
// thousand. A hint that may do nothing; the buffer's content is unchanged.
void AdviseLargePages(void* AData, std::size_t ASize);
// The size from which a buffer is worth that advice.
inline constexpr std::size_t kLargeBufferBytes = 4u << 20;

// Gives the memory the allocator holds free back to the system (glibc keeps freed pages
// in its heap, resident, for later allocations). Worth it after a burst of large
// temporaries; does nothing where the allocator offers no such call.
void ReturnFreeMemory();

// A number that grows with time, in milliseconds (GetTickCount's role).
unsigned long long TickCountMs();
// An id of the calling thread as a decimal number.
unsigned long long CurrentThreadIdNumber();
// This process's id, and whether a process of that id is running now.
unsigned long long CurrentProcessIdNumber();
bool ProcessIsRunning(unsigned long long APid);

}  // namespace tarvok
