// cardctl's private working folder: TMPDIR/cardctl-XXXXXX (mode 0700), where
// program texts pass on their way to or from a card. It goes at the end, on
// every signal that can be caught, and a folder a killed cardctl left behind
// (its lock no longer held) is removed at the next start.
#pragma once

#include <memory>
#include <string>

namespace card::cli {

// The folder for temporary files: TMPDIR, or /tmp.
std::string TemporaryDirectory();

class WorkFolder {
 public:
  // Makes the folder in TemporaryDirectory() and holds its lock; nullptr
  // with *error when it cannot.
  static std::unique_ptr<WorkFolder> Create(std::string* error);
  ~WorkFolder();
  WorkFolder(const WorkFolder&) = delete;
  WorkFolder& operator=(const WorkFolder&) = delete;

  const std::string& path() const { return path_; }
  // path/name, made (mode 0700) when missing.
  std::string Sub(const std::string& name) const;

 private:
  WorkFolder(std::string path, int lockFd) : path_(std::move(path)), lockFd_(lockFd) {}
  std::string path_;
  int lockFd_;
};

// Removes the folders cardctl-* in dir that belong to this user and that no
// running cardctl holds (a lock nobody holds, or no lock and older than a
// minute). Returns how many went.
int RemoveStaleWorkFolders(const std::string& dir);

// Removes path and everything below it without following links, using only
// calls that are safe in a signal handler. False when something stayed.
bool RemoveTree(const char* path);

// From now on every signal that would end the process removes folder first:
// the asynchronous ones (SIGINT, SIGTERM, SIGHUP, ...) are taken by a thread
// of their own, which waits for a SignalHold to end; faults (SIGSEGV, ...)
// clean up in their handler. SIGPIPE is ignored (a closed output is an
// error of the write). Call before any other thread starts; folder may be
// null (nothing to remove).
void InstallSignalCleanup(const WorkFolder* folder);

// While one lives, a terminating signal waits: a file being written whole
// is finished (or not started) before the process ends.
class SignalHold {
 public:
  SignalHold();
  ~SignalHold();
  SignalHold(const SignalHold&) = delete;
  SignalHold& operator=(const SignalHold&) = delete;
};

}  // namespace card::cli
