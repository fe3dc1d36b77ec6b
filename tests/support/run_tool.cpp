#include "support/run_tool.h"

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <iterator>
#include <stdexcept>

namespace fs = std::filesystem;

namespace {

std::string FromEnvironment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

// Reports a failure between fork and exec, where only async-signal-safe calls
// may be made, on the captured standard error, and ends the child. A write
// that fails there has no one left to tell, so its result is only tested to
// keep the compiler's unused-result warning quiet.
[[noreturn]] void ChildFail(const char* what) {
  const int error = errno;
  static_cast<void>(write(STDERR_FILENO, what, std::strlen(what)) < 0);
  const char* reason = std::strerror(error);
  static_cast<void>(write(STDERR_FILENO, ": ", 2) < 0);
  static_cast<void>(write(STDERR_FILENO, reason, std::strlen(reason)) < 0);
  static_cast<void>(write(STDERR_FILENO, "\n", 1) < 0);
  _exit(127);
}

std::string ReadText(const std::string& path) {
  const std::optional<Bytes> bytes = ReadFileBytes(path);
  if (!bytes) {
    throw std::runtime_error("cannot read " + path);
  }
  return std::string(bytes->begin(), bytes->end());
}

}  // namespace

ScratchDir::ScratchDir() {
  const std::string parent = FromEnvironment("TMPDIR").empty() ? "/tmp" : FromEnvironment("TMPDIR");
  std::string pattern = parent + "/zefacut_test.XXXXXX";
  if (mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot create a scratch directory in " + parent);
  }
  base_ = pattern;
  work_ = base_ + "/work";
  fs::create_directory(work_);
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  fs::remove_all(base_, ignored);
}

const std::string& ProgramPath(Program program) {
  // Each program's path as built: the test support library is given both.
  constexpr const char* kZefacutPath = ZEFACUT_PATH;
  constexpr const char* kD88infoPath = D88INFO_PATH;
  const auto find = [](const char* variable, const char* built) {
    std::string chosen = FromEnvironment(variable);
    if (chosen.empty()) {
      chosen = built;
    }
    if (chosen.empty()) {
      throw std::logic_error(std::string("no program to run: set ") + variable);
    }
    // The program runs in its scratch directory: a relative path must not
    // depend on where it starts.
    return fs::absolute(chosen).string();
  };
  if (program == Program::kD88info) {
    static const std::string d88info = find("D88INFO_TEST_TOOL", kD88infoPath);
    return d88info;
  }
  static const std::string zefacut = find("ZEFACUT_TEST_TOOL", kZefacutPath);
  return zefacut;
}

const std::string& Launcher() {
  static const std::string launcher = FromEnvironment("ZEFACUT_TEST_LAUNCHER");
  return launcher;
}

bool HasFullDevice() {
  std::error_code error;
  return fs::is_character_file(kFullDevice, error);
}

namespace {

ToolResult RunOnce(Program which, const ScratchDir& dir, const std::vector<std::string>& args,
                   const RunOptions& options) {
  const std::string& path = ProgramPath(which);
  if (UnderLauncher() && (options.argv || options.fileSizeLimit)) {
    throw std::logic_error("a launcher passes on neither argument 0 nor a file-size limit");
  }
  const bool captureOut = !options.outTo && !options.outToClosedPipe;
  std::vector<std::string> argv;
  std::string program;
  if (options.argv) {
    argv = *options.argv;
    program = path;
  } else if (UnderLauncher()) {
    argv = {Launcher(), path};
    program = Launcher();
  } else {
    argv = {path};
    program = path;
  }
  if (!options.argv) {
    argv.insert(argv.end(), args.begin(), args.end());
  }
  // Everything the child needs is made before the fork.
  std::vector<char*> argPointers;
  argPointers.reserve(argv.size() + 1);
  std::transform(argv.begin(), argv.end(), std::back_inserter(argPointers),
                 [](std::string& arg) { return arg.data(); });
  argPointers.push_back(nullptr);
  const std::string outPath = options.outTo.value_or(dir.StdoutFile());
  const int outFlags =
      options.outTo ? O_WRONLY | O_CLOEXEC : O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
  const std::string errPath = dir.StderrFile();
  const std::string inPath = options.stdinFrom.value_or("/dev/null");
  const bool terminal = options.terminalOut || options.terminalErr || options.terminalIn;
  int master = -1;
  std::string slaveName;
  if (terminal) {
    master = posix_openpt(O_RDWR | O_NOCTTY);
    if (master < 0 || grantpt(master) != 0 || unlockpt(master) != 0 || ptsname(master) == nullptr) {
      throw std::runtime_error("cannot open a pseudo-terminal");
    }
    slaveName = ptsname(master);
  }

  // A pipe with no reader from the start, so that no write of the tool can
  // get through, however early.
  int closedPipe = -1;
  if (options.outToClosedPipe) {
    int ends[2];
    if (pipe(ends) != 0) {
      throw std::runtime_error("cannot make a pipe");
    }
    close(ends[0]);
    closedPipe = ends[1];
  }

  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    const int flags = O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC;
    const int err = open(errPath.c_str(), flags, 0644);
    if (err < 0 || dup2(err, STDERR_FILENO) < 0) {
      _exit(127);
    }
    const int out = closedPipe >= 0 ? closedPipe : open(outPath.c_str(), outFlags, 0644);
    if (out < 0 || dup2(out, STDOUT_FILENO) < 0) {
      ChildFail("cannot capture standard output");
    }
    if (closedPipe >= 0) {
      close(closedPipe);
    }
    // The tool starts with the signals as a shell leaves them.
    signal(SIGPIPE, SIG_DFL);
    const int in = open(inPath.c_str(), O_RDONLY | O_CLOEXEC);
    if (in < 0 || dup2(in, STDIN_FILENO) < 0) {
      ChildFail("cannot open standard input");
    }
    if (terminal) {
      const int slave = open(slaveName.c_str(), O_RDWR | O_NOCTTY);
      termios raw{};
      if (slave < 0 || tcgetattr(slave, &raw) != 0) {
        ChildFail("cannot open the terminal");
      }
      cfmakeraw(&raw);
      if (tcsetattr(slave, TCSANOW, &raw) != 0 ||
          (options.terminalOut && dup2(slave, STDOUT_FILENO) < 0) ||
          (options.terminalErr && dup2(slave, STDERR_FILENO) < 0) ||
          (options.terminalIn && dup2(slave, STDIN_FILENO) < 0)) {
        ChildFail("cannot attach the terminal");
      }
      close(slave);
      close(master);
    }
    if (options.locale) {
      if (unsetenv("LC_ALL") != 0 || unsetenv("LC_CTYPE") != 0 ||
          setenv("LANG", options.locale->c_str(), 1) != 0) {
        ChildFail("cannot set the locale");
      }
    }
    if (chdir(dir.Path().c_str()) != 0) {
      ChildFail("cannot enter the scratch directory");
    }
    if (options.fileSizeLimit) {
      // A write past the limit then fails with EFBIG instead of killing the
      // tool, as a full disk makes a write fail.
      signal(SIGXFSZ, SIG_IGN);
      const rlimit limit{*options.fileSizeLimit, *options.fileSizeLimit};
      if (setrlimit(RLIMIT_FSIZE, &limit) != 0) {
        ChildFail("cannot set the file-size limit");
      }
    }
    execvp(program.c_str(), argPointers.data());
    ChildFail("cannot run the program");
  }

  if (closedPipe >= 0) {
    close(closedPipe);
  }
  if (options.signal) {
    const long micro = options.signalAfterMicroseconds;
    timespec delay{static_cast<time_t>(micro / 1000000), (micro % 1000000) * 1000};
    while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
    }
    // A tool that has ended already is not reaped yet: the signal reaches no
    // other process.
    kill(pid, *options.signal);
  }
  std::string received;
  if (terminal) {
    // Read until every holder of the terminal's other end has closed it.
    char buffer[4096];
    for (;;) {
      const ssize_t got = read(master, buffer, sizeof buffer);
      if (got > 0) {
        received.append(buffer, static_cast<std::size_t>(got));
      } else if (got < 0 && errno == EINTR) {
        continue;
      } else {
        break;
      }
    }
    close(master);
  }
  int waitStatus = 0;
  while (waitpid(pid, &waitStatus, 0) < 0) {
    if (errno != EINTR) {
      throw std::runtime_error("waitpid failed");
    }
  }
  ToolResult result;
  result.status = WIFEXITED(waitStatus) ? WEXITSTATUS(waitStatus) : 128 + WTERMSIG(waitStatus);
  result.out = captureOut ? ReadText(outPath) : std::string();
  result.err = ReadText(errPath);
  result.terminal = received;
  return result;
}

}  // namespace

ToolResult RunProgram(Program which, const ScratchDir& dir, const std::vector<std::string>& args,
                      const RunOptions& options) {
  ToolResult result = RunOnce(which, dir, args, options);
  // Now and then wine fails to start a program on a busy machine and exits 1
  // without a word. Both tools say why whenever they end with status 1, so
  // such a silent run is wine's, and is tried again.
  for (int retry = 0; retry < 2 && UnderLauncher() && result.status == 1 && result.out.empty() &&
                      result.err.empty() && result.terminal.empty();
       ++retry) {
    std::fprintf(stderr, "note: %s ended silently with status 1 under %s; run again\n",
                 ProgramPath(which).c_str(), Launcher().c_str());
    result = RunOnce(which, dir, args, options);
  }
  return result;
}

int EndedProcessId() {
  std::fflush(nullptr);
  const pid_t pid = fork();
  if (pid < 0) {
    throw std::runtime_error("fork failed");
  }
  if (pid == 0) {
    _exit(0);
  }
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) {
      throw std::runtime_error("waitpid failed");
    }
  }
  return static_cast<int>(pid);
}

std::set<std::string> EntriesIn(const std::string& dir) {
  std::set<std::string> names;
  for (const fs::directory_entry& entry : fs::directory_iterator(dir)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

::testing::AssertionResult FileHolds(const std::string& path, const Bytes& expected) {
  const std::optional<Bytes> actual = ReadFileBytes(path);
  if (!actual) {
    return ::testing::AssertionFailure() << path << " is not a readable file";
  }
  std::size_t at = 0;
  while (at < actual->size() && at < expected.size() && (*actual)[at] == expected[at]) {
    ++at;
  }
  if (at == actual->size() && at == expected.size()) {
    return ::testing::AssertionSuccess();
  }
  auto failure = ::testing::AssertionFailure();
  failure << path << " holds " << actual->size() << " bytes, " << expected.size() << " expected; ";
  if (at < actual->size() && at < expected.size()) {
    failure << "they first differ at byte " << at;
  } else {
    failure << "the shorter is a prefix of the longer";
  }
  return failure;
}

Bytes Slice(const Bytes& bytes, std::size_t from, std::size_t length) {
  if (from > bytes.size() || length > bytes.size() - from) {
    throw std::out_of_range("slice outside the bytes");
  }
  const auto begin = bytes.begin() + static_cast<std::ptrdiff_t>(from);
  return Bytes(begin, begin + static_cast<std::ptrdiff_t>(length));
}

std::string NotOnDiskWarning(const ExpectedCut& cut) {
  return std::string("warning: ") + cut.name + ": not written: sector " +
         std::to_string(cut.track / 2) + " " + std::to_string(cut.track % 2) + " " +
         std::to_string(cut.r) + " 3 of track " + std::to_string(cut.track) +
         " is not on the disk\n";
}

std::string NotOnDiskWarnings(int index) {
  std::string warnings;
  for (const ExpectedCut& cut : kKinds[index].cuts) {
    warnings += NotOnDiskWarning(cut);
  }
  return warnings;
}
