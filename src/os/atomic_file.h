#pragma once
// Writes a whole file or nothing. The bytes go to a temporary file in the target's own
// folder; Commit flushes it to disk and renames it over the target in one step. Until
// Commit succeeds the target is untouched, and a writer that is destroyed without a
// successful Commit (an error, an exception on the way) removes its temporary file, so a
// failure never leaves a partial file behind nor destroys the old one.
//
// The temporary file has no name while it is written (O_TMPFILE) and gets one only in
// Commit, just before the rename, so a writer that is killed leaves nothing. Where the
// file system cannot make unnamed files it is a hidden ".NAME.lq-PID-N.tmp"; such files
// left by a killed writer are removed by the next writer into that folder.
//
// A target that is a symbolic link is written through: the file the link leads to is
// replaced and the link stays.
//
// A target that exists but must not be replaced is refused before anything is written:
// one that is read-only (its owner has no write permission: the read-only attribute of
// the folder listing) or that is not a regular file. This keeps "saving over a read-only
// file fails" true even for a user whose folder permissions would allow the rename.
//
// One writer is used by one thread at a time. Errors are thrown as TAtomicFileError,
// which says which step failed so that the caller can word its own message.
#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>

class TAtomicFileError : public std::runtime_error {
 public:
  enum class TStep {
    Create,   // the temporary file could not be made (folder missing, not writable, ...)
    Write,    // writing or flushing the temporary file failed (disk full, size limit, ...)
    Replace,  // the target exists and may not, or could not, be replaced
  };
  TAtomicFileError(TStep step, int errorNumber, const std::string& message)
      : std::runtime_error(message), Step(step), ErrorNumber(errorNumber) {}
  TStep Step;
  int ErrorNumber;  // the errno of the failing call; 0 for a refusal of our own
};

class TAtomicFile {
 public:
  // Checks the target and creates the temporary file beside it, with the target's
  // permissions when it exists (0666 less the umask otherwise), or exactly fileMode when
  // that is given (not negative). Throws Replace or Create.
  explicit TAtomicFile(const std::string& targetName, int fileMode = -1);
  // Removes the temporary file unless Commit succeeded.
  ~TAtomicFile();
  TAtomicFile(const TAtomicFile&) = delete;
  TAtomicFile& operator=(const TAtomicFile&) = delete;

  // Appends bytes (buffered). Throws Write.
  void Write(const void* data, size_t size);
  void Write(std::string_view text) { Write(text.data(), text.size()); }

  // How Commit treats the disk. Durable waits until the file and its new name are on the
  // disk; Scratch does not, for a file written anew at every start of the program, where
  // losing it in a crash costs nothing (readers still see the old or the new file whole).
  enum class TDurability { Durable, Scratch };

  // Writes what is buffered, syncs the file (when Durable), closes it and renames it over
  // the target. Throws Write or Replace; after a throw the temporary file is gone and the
  // target is as it was. Call at most once.
  void Commit(TDurability durability = TDurability::Durable);

  // The file replaced: the name given, or the file its links lead to.
  const std::string& TargetName() const { return Target; }

 private:
  void CreateNamedTemp(TAtomicFileError::TStep failStep);
  bool NameUnnamedFile();
  void Flush();
  void Discard() noexcept;

  std::string Target;
  std::string Folder;    // the target's folder
  std::string TempName;  // the temporary file's name once it has one
  int Fd = -1;
  bool Unnamed = false;  // Fd is an O_TMPFILE file, named only in Commit
  bool Committed = false;
  std::string Buffer;  // bytes not yet handed to the file
};
