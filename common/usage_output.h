// The usage text of every program: TCLAP's layout, but lines are wrapped only at blanks
// outside <...> and [...], so neither an option nor a value list such as
// <trace|debug|...> is split across lines; and a bad command line ends with the program's
// own status.
#pragma once

#include <tclap/CmdLine.h>

#include <ostream>
#include <string>

namespace tav {

class UsageOutput : public TCLAP::StdOutput {
 public:
  explicit UsageOutput(int status) : status_(status) {}
  void usage(TCLAP::CmdLineInterface& parser) override;
  void failure(TCLAP::CmdLineInterface& parser, TCLAP::ArgException& error) override;

 private:
  int status_;
};

// Writes the text in lines of at most 75 columns, the first indented by `indent` blanks and
// the others by `indent + hanging`; a unit longer than a line stands alone on its line.
void printWrapped(std::ostream& out, const std::string& text, std::size_t indent,
                  std::size_t hanging);

}  // namespace tav
