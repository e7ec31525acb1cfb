// The one way tav's programs write their outputs: every name is checked before anything is
// written (a folder, an output that is also an input or another output, stop the run), every
// regular file is written under a hidden random name beside its final target and renamed into
// place only when all of the set were written, and a rename that fails midway puts back what
// the earlier ones replaced. So a folder holds the complete old set or the complete new set,
// never a mix. Devices, FIFOs, sockets and the process's own descriptors are written through.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "common/output_target.h"

namespace tav {

class OutputSet {
 public:
  // Writes one output's content; a failed write shows in the stream's state or as a
  // std::system_error.
  using Write = std::function<void(std::FILE*)>;
  // Tells the user, in words, what is wrong with one name.
  using Report = std::function<void(const std::string& name, const std::string& reason)>;

  explicit OutputSet(Report report) : report_(std::move(report)) {}
  ~OutputSet();  // removes the temporary files of a set that was not committed
  OutputSet(const OutputSet&) = delete;
  OutputSet& operator=(const OutputSet&) = delete;

  // A file the program has read: no output may be the same file.
  void addInput(const std::string& name);
  void add(const std::string& name, Write write);
  void add(const std::string& name, std::string text);
  // A file of an earlier run that goes with the commit; it is left alone unless it is a
  // regular file (a link is never followed for it).
  void addRemoval(const std::string& name);

  // Checks every name, writes every output and puts the set in place. False after reporting
  // why; every regular file named is then as it was, though a device, FIFO, socket or
  // descriptor may have been written.
  bool commit();

 private:
  struct Output {
    std::string name;
    Write write;
    bool removal = false;
    OutputTarget target;
    std::string temporary;      // the new content until it is renamed into place
    std::string backup;         // the old content until the whole set is in place
    bool backupIsLink = false;  // the backup is a second name; the old file still stands
    bool placed = false;        // the new content (or, for a removal, nothing) is in place
  };

  class EndingSignals;
  static void endWithoutTemporaries(int signal);
  // The outputs of the set being committed, for the signal handler.
  static const std::vector<Output>* writing_;

  bool plan();
  bool checkIdentities();
  bool writeTemporary(Output& output);
  bool writeThrough(Output& output);
  bool writeStream(int fd, Output& output);
  bool makeBackup(Output& output);
  bool place();
  void restore();
  void discard();

  Report report_;
  std::vector<std::string> inputs_;
  std::vector<Output> outputs_;
};

}  // namespace tav
