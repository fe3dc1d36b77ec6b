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

// A file being written beside its target (in the same folder, so that a
// rename can give it the target's name). Where the system can, it has no
// name at all until it is whole; otherwise, and between its link and its
// rename, its name is ".TARGET.PID-RANDOM.zefacut-tmp" ("TARGET.PID-..."
// on Windows): the process id lets a later run tell a temporary of a run
// that ended without removing it (killed outright, or the power gone).
struct TemporaryFile {
  int descriptor = -1;
  // Its name beside the target; empty while it has none.
  std::string name;
};

// Opens a new temporary file for binary writing beside `target`, never
// taking over an existing file; 0, or the system's error number. From here
// until PlaceTemporary or DiscardTemporary, a signal that ends the program
// removes it (see RemoveTemporaryOnSignals).
int OpenTemporaryBeside(const std::string& target, TemporaryFile& file, TemporaryNamer& namer);

// Closes a whole temporary file and gives it the target's name, replacing a
// file of that name; 0, or the system's error number, and then nothing of it
// is left. `targetIsLikelyNew` (a folder the run made) lets a file with no
// name take the target's name in one link, with no rename after it.
int PlaceTemporary(TemporaryFile& file, const std::string& target, TemporaryNamer& namer,
                   bool targetIsLikelyNew = false);

// Closes a temporary file and removes it.
void DiscardTemporary(TemporaryFile& file);

// Removes from `folder` (empty for the current one, otherwise ending in a
// separator) the temporary files of runs that are no longer alive. A process
// that now has the id of a dead run keeps its files until it ends too.
void RemoveStaleTemporaries(const std::string& folder);

// Makes the signals that end the program by default (hangup, interrupt,
// quit, terminate and the like) remove the temporary file being written
// before the program ends of them as it would have. Signals the program was
// started with ignored stay ignored. Nothing on Windows, where a later run
// removes what is left.
void RemoveTemporaryOnSignals();

// Makes a write to a closed pipe fail with EPIPE, as any lost write fails,
// instead of ending the program. Nothing on Windows, which has no SIGPIPE.
void IgnoreBrokenPipe();

// True when `path` names a regular file that its owner may not write (mode
// 444, say; the read-only attribute on Windows): a file someone protected,
// whoever runs the program.
bool IsReadOnlyFile(const std::string& path);

// What one look at a path tells: the file's identity when something is
// there, and whether it is a regular file its owner protected (as
// IsReadOnlyFile). One stat where the system allows.
struct FileFacts {
  std::optional<FileIdentity> identity;
  bool readOnly = false;
};
FileFacts FactsOf(const std::string& path);

// A file for reading and writing that no one else sees: in the folder for
// temporary files (TMPDIR, or the system's), with no name or one removed at
// once (deleted when closed, on Windows), so that nothing of it is left
// however the program ends. For bytes unpacked or piped in that are too many
// to hold in memory. Null with `error` set when none can be made; ENOSYS
// where the system has no files (the web page).
std::FILE* OpenScratchFile(int& error);

// Writes all `size` bytes to a descriptor; 0, or the system's error number.
int WriteAll(int descriptor, const unsigned char* data, std::size_t size);

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
