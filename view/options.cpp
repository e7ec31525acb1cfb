#include "view/options.h"

#include "common/command_line.h"

namespace tav_view {

Options readCommandLine(int argc, char** argv) {
  Options options;
  // Status 1 means "some requests failed"; a command line that cannot be used is 2.
  tav::UsageOutput output(2);
  TCLAP::CmdLine parser("Explains the verdict on every answer; writes JUnit XML, HTML and JSON",
                        ' ', tav::kVersion, true);
  parser.setOutput(&output);
  // An output named by an empty text would be skipped in silence.
  tav::NonEmptyConstraint outputName("file");
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
                                     &outputName, parser);
  TCLAP::ValueArg<std::string> html("", "html", "Write an HTML page to this file", false, "",
                                    &outputName, parser);
  TCLAP::ValueArg<std::string> json("", "json", "Write every verdict as JSON to this file", false,
                                    "", &outputName, parser);
  TCLAP::ValueArg<std::string> baseline(
      "", "baseline",
      "Compare with an earlier run: its --json file or its report.json; marks new failures, "
      "fixed, still failing, new and gone requests",
      false, "", "file", parser);
  std::vector<std::string> failOnValues = {"new", "any"};
  TCLAP::ValuesConstraint<std::string> failOnConstraint(failOnValues);
  TCLAP::ValueArg<std::string> failOn(
      "", "fail-on",
      "Status 1 for any failure (any, the default), or only for new failures and requests that "
      "lost their answer against the baseline (new)",
      false, "any", &failOnConstraint, parser);
  TCLAP::SwitchArg quiet("q", "quiet", "Print only the totals line", parser);
  // A bad command line, --help and --version end the process inside the parser.
  tav::parseAs(parser, "tav-view", argc, argv);

  options.metadata = metadata.getValue();
  options.responses = responses.getValue();
  options.config = config.getValue();
  options.tasks = tasks.getValue();
  options.junit = junit.getValue();
  options.html = html.getValue();
  options.json = json.getValue();
  options.baseline = baseline.getValue();
  options.failOnNew = failOn.getValue() == "new";
  options.quiet = quiet.getValue();
  return options;
}

}  // namespace tav_view
