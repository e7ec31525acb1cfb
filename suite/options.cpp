#include "suite/options.h"

#include <fmt/format.h>

#include <limits>

#include "common/command_line.h"

namespace tav_suite {

namespace {

// TCLAP takes the first argument as the program name it prints in the usage.
std::vector<std::string> withName(const char* subcommand, const std::vector<std::string>& args) {
  std::vector<std::string> all = {fmt::format("tav-suite {}", subcommand)};
  all.insert(all.end(), args.begin(), args.end());
  return all;
}

}  // namespace

std::string topLevelUsage() {
  return fmt::format(
      "tav-suite {}: writes, checks, splits, merges and reruns the files of a tav suite.\n"
      "\n"
      "USAGE: tav-suite SUBCOMMAND [OPTIONS]   (tav-suite SUBCOMMAND --help for its options)\n"
      "\n"
      "  gen DESCRIPTION --out DIR    write DIR/tasks.json, metadata.json and config.json\n"
      "  check -t TASKS -m METADATA [-c CONFIG] [-o OUTDIR] [-d LOGDIR]\n"
      "        [--cacert FILE] [--capath DIR]\n"
      "                               find mistakes in a suite before a run\n"
      "  split -t TASKS [-m METADATA] --shards N --out DIR\n"
      "                               write DIR/tasks-1.json ... tasks-N.json, whole tasks\n"
      "  merge [--over BASE] -o RESPONSES R1 R2 ...\n"
      "                               join the responses files of the shards; with --over,\n"
      "                               their answers replace BASE's of the same ids\n"
      "  rerun -t TASKS -m METADATA [-c CONFIG] -r REPORT --out DIR\n"
      "                               write the suite of only the requests REPORT failed\n"
      "\n"
      "Exit status: 0 success, 1 a bad command line, check errors or a failed write, 2 an input\n"
      "file that cannot be used.\n",
      tav::kVersion);
}

GenOptions readGenCommandLine(const std::vector<std::string>& args) {
  tav::UsageOutput usage(1);
  TCLAP::CmdLine parser(
      "Writes the suite of a description: one task per user label, one request per user label, "
      "object and auth type. Request uuids read {auth}-{user}-{label}-{object}, the label's ':' "
      "written as '_', e.g. basic-daemon-1_1-bad_3_7. Labels only in the plain form: a decimal "
      "level 0 to 255, a colon, a hexadecimal mask of at most 32 bits with an optional 0x; a "
      "range must hold its minimum, codes lie from 100 to 599.",
      ' ', tav::kVersion, true);
  parser.setOutput(&usage);
  tav::NonEmptyConstraint folderName("DIR");
  TCLAP::UnlabeledValueArg<std::string> description(
      "description", "The description (JSON) of users, objects and report", true, "", "DESCRIPTION",
      parser);
  TCLAP::ValueArg<std::string> out("", "out", "The folder to write the suite into", true, "",
                                   &folderName, parser);
  std::vector<std::string> all = withName("gen", args);
  parser.parse(all);
  return GenOptions{description.getValue(), out.getValue()};
}

CheckOptions readCheckCommandLine(const std::vector<std::string>& args) {
  tav::UsageOutput usage(1);
  TCLAP::CmdLine parser(
      "Checks a suite before a run and prints one line per finding, \"error: ...\" or "
      "\"warning: ...\", naming the task by index and user; findings about many requests of a "
      "task make one line. Checks of what a task user may read and write need root and are "
      "skipped otherwise. Exit status 1 when there is an error.",
      ' ', tav::kVersion, true);
  parser.setOutput(&usage);
  TCLAP::ValueArg<std::string> tasks("t", "tasks", "The tasks file of tav-req", true, "", "file",
                                     parser);
  TCLAP::ValueArg<std::string> metadata("m", "metadata", "The metadata file of tav-rep", true, "",
                                        "file", parser);
  TCLAP::ValueArg<std::string> config("c", "config", "The report configuration of tav-rep", false,
                                      "", "file", parser);
  TCLAP::ValueArg<std::string> outputDir(
      "o", "output-dir", "The output folder tav-req will write into", false, "", "dir", parser);
  TCLAP::ValueArg<std::string> logDir("d", "log-dir", "The log folder tav-req will write into",
                                      false, "", "dir", parser);
  tav::ExistingFileConstraint fileConstraint;
  tav::ExistingDirectoryConstraint directoryConstraint;
  TCLAP::ValueArg<std::string> caFile(
      "", "cacert",
      "The CA file tav-req will be given: every task user with https requests must be able to "
      "read it",
      false, "", &fileConstraint, parser);
  TCLAP::ValueArg<std::string> caPath(
      "", "capath",
      "The CA folder tav-req will be given: every task user with https requests must be able "
      "to search it and read its certificates",
      false, "", &directoryConstraint, parser);
  std::vector<std::string> all = withName("check", args);
  parser.parse(all);
  return CheckOptions{tasks.getValue(),     metadata.getValue(), config.getValue(),
                      outputDir.getValue(), logDir.getValue(),   caFile.getValue(),
                      caPath.getValue()};
}

SplitOptions readSplitCommandLine(const std::vector<std::string>& args) {
  tav::UsageOutput usage(1);
  TCLAP::CmdLine parser(
      "Splits a tasks file into N shards of whole tasks, balanced by request count: "
      "DIR/tasks-1.json ... DIR/tasks-N.json; with --metadata also DIR/metadata-1.json ... "
      "DIR/metadata-N.json, the entries of each shard's requests, so each machine can check "
      "its shard; metadata that lacks a request's uuid is refused. Shards of an earlier split "
      "beyond N are removed, and so are its metadata files when --metadata is not given.",
      ' ', tav::kVersion, true);
  parser.setOutput(&usage);
  // Read as text: TCLAP reads "-1" into an unsigned as 4294967295.
  tav::CountConstraint shardCount(1, std::numeric_limits<unsigned>::max());
  tav::NonEmptyConstraint folderName("DIR");
  TCLAP::ValueArg<std::string> tasks("t", "tasks", "The tasks file to split", true, "", "file",
                                     parser);
  TCLAP::ValueArg<std::string> metadata("m", "metadata", "The suite's metadata file to split",
                                        false, "", "file", parser);
  TCLAP::ValueArg<std::string> shards("n", "shards",
                                      "The number of shards, at least 1 and at most the number "
                                      "of tasks",
                                      true, "", &shardCount, parser);
  TCLAP::ValueArg<std::string> out("", "out", "The folder to write the shards into", true, "",
                                   &folderName, parser);
  std::vector<std::string> all = withName("split", args);
  parser.parse(all);
  return SplitOptions{tasks.getValue(), metadata.getValue(),
                      static_cast<unsigned>(std::stoul(shards.getValue())), out.getValue()};
}

MergeOptions readMergeCommandLine(const std::vector<std::string>& args) {
  tav::UsageOutput usage(1);
  TCLAP::CmdLine parser(
      "Joins the responses.json files of the shards of one suite into one; an answer tav-rep "
      "would refuse, or a uuid in two of them, is an error.",
      ' ', tav::kVersion, true);
  parser.setOutput(&usage);
  tav::NonEmptyConstraint fileName("file");
  TCLAP::ValueArg<std::string> output("o", "output", "The joined responses file to write", true, "",
                                      &fileName, parser);
  TCLAP::ValueArg<std::string> over(
      "", "over",
      "A full run's responses file: the given files' answers replace its answers of the same "
      "ids, its others are kept, its empty-id entries of failed transfers dropped",
      false, "", &fileName, parser);
  TCLAP::UnlabeledMultiArg<std::string> inputs("responses", "The responses files of the shards",
                                               true, "RESPONSES", parser);
  std::vector<std::string> all = withName("merge", args);
  parser.parse(all);
  return MergeOptions{output.getValue(), inputs.getValue(), over.getValue()};
}

RerunOptions readRerunCommandLine(const std::vector<std::string>& args) {
  tav::UsageOutput usage(1);
  TCLAP::CmdLine parser(
      "Writes the suite of only the requests a report failed: DIR/tasks.json (each task with a "
      "failed request keeps its user, label and environment and only those requests, in their "
      "order), DIR/metadata.json (their entries) and, with --config, a copy as "
      "DIR/config.json. The report is tav-rep's report.json or tav-view's --json file. When "
      "nothing failed, says so and writes nothing.",
      ' ', tav::kVersion, true);
  parser.setOutput(&usage);
  tav::NonEmptyConstraint folderName("DIR");
  TCLAP::ValueArg<std::string> tasks("t", "tasks", "The tasks file of the run", true, "", "file",
                                     parser);
  TCLAP::ValueArg<std::string> metadata("m", "metadata", "The metadata file of the run", true, "",
                                        "file", parser);
  TCLAP::ValueArg<std::string> config("c", "config", "The report configuration, copied", false, "",
                                      "file", parser);
  TCLAP::ValueArg<std::string> report(
      "r", "report", "The run's report.json or tav-view --json file", true, "", "file", parser);
  TCLAP::ValueArg<std::string> out("", "out", "The folder to write the rerun suite into", true, "",
                                   &folderName, parser);
  std::vector<std::string> all = withName("rerun", args);
  parser.parse(all);
  return RerunOptions{tasks.getValue(), metadata.getValue(), config.getValue(), report.getValue(),
                      out.getValue()};
}

}  // namespace tav_suite
