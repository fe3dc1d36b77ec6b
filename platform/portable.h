// The few calls whose standard-library form behaves differently on Windows,
// or that the standard library does not have.
#ifndef ZEFACUT_PLATFORM_PORTABLE_H
#define ZEFACUT_PLATFORM_PORTABLE_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

// Puts standard output and standard error in binary mode, so that the
// programs' messages leave as the exact bytes written ("\n" stays a single
// line feed on Windows too). Nothing to do elsewhere.
void UseBinaryStandardStreams();

// Paths are UTF-8 throughout the programs. On Windows they are opened through
// the system's Unicode interface, so that any name Explorer shows can be
// opened whatever the system code page.
std::FILE* OpenFile(const char* path, const char* mode);

// Moves a stream to a byte offset counted in 64 bits, and gives the length of
// the file a stream reads (-1 when it has none), images of 2 GiB or more
// included on Windows too.
bool SeekFile(std::FILE* stream, std::int64_t offset);
std::int64_t FileLength(std::FILE* stream);

// The program's arguments as UTF-8: on Windows from the Unicode command line
// (argv holds them in the system code page, where names outside it are
// lost); elsewhere argv as it is.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// True when the program's console window is its own: it was started from
// Explorer, for example by dropping files on it, and its window closes when
// it ends. Never elsewhere.
bool ConsoleIsOurs();

// Asks the user to press Enter, and waits for it.
void WaitForEnter(std::FILE* prompt);

// Removes a file; 0 on success.
int RemoveFile(const char* path);

// Gives the file `from` the name `to`, replacing a file of that name if there
// is one, in one step where the system allows it. 0 on success; otherwise -1
// with errno set.
int RenameReplacing(const char* from, const char* to);

// What makes a file the same file under any of its names: links, hard links
// and other spellings of its path all give one identity.
struct FileIdentity {
  std::uint64_t device = 0;
  std::uint64_t file = 0;
};
constexpr bool operator==(const FileIdentity& a, const FileIdentity& b) {
  return a.device == b.device && a.file == b.file;
}

// The identity of the file a path names (following links); nullopt when
// there is no such file or it cannot be examined.
std::optional<FileIdentity> IdentifyFile(const char* path);

// The random parts of temporary names: seeded once, when made, so that a
// name costs no system call.
class TemporaryNamer {
 public:
  TemporaryNamer();
  // Eight letters and digits.
  std::string Next();

 private:
  std::uint64_t state_;
};

// Creates a new file for binary writing beside `target` (in the same folder,
// so that a rename can give it the target's name), under a name of its own
// with a random part, never taking over an existing file. Returns a plain
// descriptor and sets `name`; -1 with errno set on failure.
int CreateTemporaryBeside(const std::string& target, std::string& name, TemporaryNamer& namer);

// Writes all `size` bytes to a descriptor; 0, or the system's error number.
int WriteAll(int descriptor, const unsigned char* data, std::size_t size);

// Closes a descriptor; 0, or the system's error number.
int CloseDescriptor(int descriptor);

// Where a standard stream goes, for choosing how to write text to it.
enum class StreamKind {
  File,            // a file or a pipe: bytes as they are
  Utf8Terminal,    // a terminal whose locale's character set is UTF-8
  OtherTerminal,   // any other terminal
  WindowsConsole,  // a Windows console, written through its Unicode interface
};
StreamKind KindOfStream(std::FILE* stream);

// Writes UTF-8 text to a Windows console through its Unicode interface,
// whatever its code page. False where the stream is no console.
bool WriteToConsole(std::FILE* stream, const std::string& utf8);

// Creates a folder and its parents; 0 on success, otherwise an errno value.
// `created`, when given, tells whether the folder itself is new.
int CreateFolders(const std::string& path, bool* created = nullptr);

#endif  // ZEFACUT_PLATFORM_PORTABLE_H
