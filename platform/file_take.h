// Taking the whole content of a spool file that producers append to, and
// emptying it, without losing what a producer writes meanwhile.
//
// The file is held under both kinds of Linux lock (an open-file-description
// record lock, which conflicts with fcntl/lockf locks, and a flock lock, so
// that producers using either fcntl, lockf or flock(1) wait) while it is
// read to its end and truncated on the same descriptor.
// A producer that takes no lock can still lose a document written between
// the last read and the truncation; one that writes a new file and renames
// it over the spool file never loses anything (the old file is emptied, the
// new one is left alone).
#pragma once

#include <chrono>
#include <string>

namespace qm {

struct TakenFile {
  bool read = false;     // false: not opened, not read, or still locked (error says why)
  bool emptied = false;  // false with read: the content stays and is taken again next time
  std::string content;
  std::string error;
};

// Waits at most `lockWait` for the locks; a file still locked after that is
// not read at all (a producer is writing: half a document is worse than
// none). A file that can be read but not written is read and not emptied.
TakenFile TakeFileContent(const std::string& path,
                          std::chrono::milliseconds lockWait = std::chrono::milliseconds(2000));

}  // namespace qm
