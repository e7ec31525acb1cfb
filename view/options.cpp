#include "view/options.h"

#include "common/command_line.h"

namespace tav_view {

Options readCommandLine(int argc, char** argv) {
  Options options;
  TCLAP::CmdLine parser(
      "tav-view: explains the verdict on every recorded answer, as a terminal summary and, on "
      "request, JUnit XML, an HTML page and JSON",
      ' ', tav::kVersion, true);
  try {
    TCLAP::ValueArg<std::string> metadata("m", "metadata", "Path to the json file with metadata",
                                          true, "", "file", parser);
    TCLAP::ValueArg<std::string> responses("r", "responses", "Path to the json file with responses",
                                           true, "", "file", parser);
    TCLAP::ValueArg<std::string> config("c", "config", "Path to the report configuration", true, "",
                                        "file", parser);
    TCLAP::ValueArg<std::string> tasks("t", "tasks",
                                       "Path to the tasks file: adds users, URLs and auth types",
                                       false, "", "file", parser);
    TCLAP::ValueArg<std::string> junit("", "junit", "Write JUnit XML to this file", false, "",
                                       "file", parser);
    TCLAP::ValueArg<std::string> html("", "html", "Write an HTML page to this file", false, "",
                                      "file", parser);
    TCLAP::ValueArg<std::string> json("", "json", "Write every verdict as JSON to this file", false,
                                      "", "file", parser);
    TCLAP::SwitchArg quiet("q", "quiet", "Print only the totals line", parser);
    parser.parse(argc, argv);

    options.metadata = metadata.getValue();
    options.responses = responses.getValue();
    options.config = config.getValue();
    options.tasks = tasks.getValue();
    options.junit = junit.getValue();
    options.html = html.getValue();
    options.json = json.getValue();
    options.quiet = quiet.getValue();
  } catch (const TCLAP::ArgException& error) {
    tav::reportArgumentError(parser, error);
    options.ok = false;
  }
  return options;
}

}  // namespace tav_view
