#include "cli_args.hpp"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "quant_outputs.hpp"

namespace vx::host::cli {

using quant::CurveModel;
using quant::Weighting;

namespace {

CliParse parse(const std::string& line) {
  std::vector<std::string> words;
  std::istringstream in(line);
  for (std::string w; in >> w;) words.push_back(w);
  const std::vector<std::string_view> views(words.begin(), words.end());
  return parse_command_line(views);
}

TEST(CliArgs, ChainOptionsInAnyOrderAndBothSpellings) {
  const CliParse p = parse(
      "chain f.mzML --mz 73 --rt=5.2 --rt-tol 0.25 --max-iter=50 --out docs --plot figs "
      "-j2 "
      "--library lib.so");
  ASSERT_EQ(p.error, "");
  const CliOptions& o = p.options;
  EXPECT_EQ(o.command, Command::kChain);
  EXPECT_EQ(o.inputs, std::vector<std::string>{"f.mzML"});
  EXPECT_EQ(o.mz, 73.0);
  EXPECT_EQ(o.rt, 5.2);
  EXPECT_EQ(o.defaults.rt_tol, 0.25);
  EXPECT_EQ(o.defaults.mz_tol, 0.5);
  EXPECT_EQ(o.defaults.max_iter, 50);
  EXPECT_FALSE(o.defaults.exact);
  EXPECT_EQ(o.out_dir, "docs");
  EXPECT_EQ(o.plot_dir, "figs");
  EXPECT_EQ(o.jobs, 2u);
  EXPECT_EQ(o.library, "lib.so");
}

TEST(CliArgs, BatchWithTargetsAndOutputs) {
  const CliParse p = parse(
      "--library x.so batch a.mzML dir 'g*.mzML' --targets t.tsv -j 3 --table out.tsv "
      "--jsonl out.jsonl --exact -q --no-progress --report r.html");
  ASSERT_EQ(p.error, "");
  const CliOptions& o = p.options;
  EXPECT_EQ(o.command, Command::kBatch);
  EXPECT_EQ(o.inputs.size(), 3u);
  EXPECT_EQ(o.targets_file, "t.tsv");
  EXPECT_EQ(o.jobs, 3u);
  EXPECT_EQ(o.table_path, "out.tsv");
  EXPECT_EQ(o.jsonl_path, "out.jsonl");
  EXPECT_EQ(o.report_path, "r.html");
  EXPECT_TRUE(o.defaults.exact);
  EXPECT_TRUE(o.quiet);
  EXPECT_EQ(o.progress_bar, false);
  EXPECT_EQ(o.library, "x.so");
}

TEST(CliArgs, HelpForEveryCommand) {
  struct Case {
    const char* line;
    const char* topic;
  };
  const Case cases[] = {{"--help", ""},
                        {"help", ""},
                        {"help chain", "chain"},
                        {"help batch", "batch"},
                        {"chain --help", "chain"},
                        {"batch -h", "batch"},
                        {"list --help", "list"},
                        {"run --help", "run"},
                        {"merge a.tsv --help", "merge"},
                        {"inputs data --help", "inputs"},
                        {"run OperationStepDemo -p x -h", "run"},
                        {"--version --help", ""}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const CliParse p = parse(c.line);
    ASSERT_EQ(p.error, "");
    EXPECT_EQ(p.options.command, Command::kHelp);
    EXPECT_EQ(p.options.help_topic, c.topic);
    EXPECT_FALSE(usage_text(p.options.help_topic).empty());
  }
}

TEST(CliArgs, BatchQuantitationOptions) {
  const CliParse p = parse(
      "batch a --targets t.tsv --samples s.csv --quant q.tsv --quant-jsonl q.jsonl "
      "--calibration c.tsv --calibration-jsonl c.jsonl --cal-plots cal --model quadratic "
      "--weighting 1/x2 --through-origin --blank-threshold 10 --response integrated_area "
      "--min-sn 3.5 --min-points 4 --deconvolve");
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.quant.response, quant::ResponseSource::kIntegratedArea);
  EXPECT_EQ(p.options.decisions.min_sn, 3.5);
  EXPECT_EQ(p.options.decisions.min_points, 4);
  EXPECT_TRUE(p.options.decisions.deconvolve);
  const QuantOptions& q = p.options.quant;
  EXPECT_EQ(q.samples_file, "s.csv");
  EXPECT_EQ(q.quant_jsonl_path, "q.jsonl");
  EXPECT_EQ(q.calibration_jsonl_path, "c.jsonl");
  EXPECT_EQ(q.plot_dir, "cal");
  EXPECT_EQ(q.calibration.model, CurveModel::kQuadratic);
  EXPECT_EQ(q.calibration.weighting, Weighting::kInverseX2);
  EXPECT_TRUE(q.calibration.through_origin);
  EXPECT_EQ(q.blank_threshold_percent, 10.0);
  const CliParse d = parse("batch a --targets t.tsv --calibration c.tsv");
  EXPECT_EQ(quant_settings(d.options.quant).istd_low_percent, 50.0);
  EXPECT_EQ(quant_settings(d.options.quant).istd_high_percent, 150.0);
  for (const char* line : {"batch a --targets t.tsv --quant q --istd-limits 70,130.5",
                           "merge p --targets t.tsv --quant q --istd-limits 70,130.5"}) {
    SCOPED_TRACE(line);
    const CliParse l = parse(line);
    ASSERT_EQ(l.error, "");
    EXPECT_EQ(quant_settings(l.options.quant).istd_low_percent, 70.0);
    EXPECT_EQ(quant_settings(l.options.quant).istd_high_percent, 130.5);
  }
  EXPECT_EQ(d.options.quant.calibration.weighting, Weighting::kInverseX);
  EXPECT_FALSE(d.options.quant.calibration.through_origin);
  EXPECT_TRUE(quantitation_requested(d.options));
  // A sample list and a report are enough: the report shows the quantitation.
  const CliParse r =
      parse("batch a --targets t.tsv --samples s.tsv --model quadratic --report r.html");
  ASSERT_EQ(r.error, "");
  EXPECT_TRUE(quantitation_requested(r.options));
  EXPECT_FALSE(
      quantitation_requested(parse("batch a --targets t.tsv --report r.html").options));
}

TEST(CliArgs, UsageErrors) {
  struct Case {
    const char* line;
    const char* says;
  };
  const Case cases[] = {
      {"", "no command"},
      {"frobnicate", "unknown command"},
      {"chain f.mzML --mz 73", "--mz and --rt"},
      {"chain f.mzML --rt 5", "--mz and --rt"},
      {"chain --mz 73 --rt 5", "exactly one file"},
      {"chain a b --mz 73 --rt 5", "exactly one file"},
      {"chain f --mz 73 --rt 5 --targets t.tsv", "either --targets"},
      {"chain f --mz abc --rt 5", "--mz needs a number"},
      {"chain f --mz 7,3 --rt 5", "--mz needs a number"},
      {"chain f --mz nan --rt 5", "--mz needs a number"},
      {"chain f --mz 73 --rt 5 --mz-tol -1", "0 or more"},
      {"chain f --mz 73 --rt 5 --rt-tol inf", "0 or more"},
      {"chain f --mz 73 --rt 5 --max-iter 0", "1 to 10000"},
      {"chain f --mz 73 --rt 5 --max-iter 2.5", "1 to 10000"},
      {"chain f --mz 73 --rt 5 --max-iter 10001", "1 to 10000"},
      {"chain f --mz 73 --rt 5 --exact --mz-tol 0.2", "exclude"},
      {"chain f --mz -73 --rt 5", "m/z must be a positive"},
      {"chain f --mz 73 --rt 5 --table t.tsv", "unknown option --table"},
      {"batch --targets t.tsv", "needs input files"},
      {"inputs", "needs input files"},
      {"inputs data --targets t.tsv", "unknown option --targets"},
      {"merge --table t.tsv", "needs part tables"},
      {"merge a.tsv --targets t.tsv --mz 3", "unknown option --mz"},
      {"merge a.tsv --report r.html", "need --targets"},
      {"merge a.tsv --samples s --quant q", "need --targets"},
      {"merge a.tsv --targets t --samples s --model linear", "quantitation options need --quant"},
      {"merge a.tsv --samples s", "identification in merge needs --targets"},
      {"merge a.tsv --rt-id-tol 0.2", "identification in merge needs --targets"},
      {"merge a.tsv --targets t --measurements m", "only serve the quantitation"},
      {"merge a.tsv --targets t --plot d", "only links the figures from --report"},
      {"merge a.tsv --targets t --quant q --measurements=",
       "--measurements needs a file"},
      {"merge a.tsv --table", "--table needs a file"},
      {"merge a.tsv --jsonl -", "both cannot go to standard output"},
      {"batch a --targets t.tsv -j -1", "thread count"},
      {"batch a --targets t.tsv -jx", "thread count"},
      {"batch a --targets", "--targets needs a file"},
      {"batch a --targets t.tsv --out d", "unknown option --out"},
      {"batch a --targets t.tsv --exact=yes", "takes no value"},
      {"batch a --targets t.tsv --jsonl -", "both cannot go to standard output"},
      {"list extra", "no arguments"},
      {"--bogus list", "unknown option"},
      {"list --mz 3", "unknown option"},
      {"help nosuch", "no help"},
      {"help chain batch", "unexpected argument 'batch'"},
      {"chain f --rt 5 --mz", "--mz needs a number"},
      {"chain f --mz 73 --rt 5 --plot=", "--plot needs a folder"},
      {"chain f --mz 73 --rt 5 --report", "--report needs a file"},
      {"chain f --mz 1e999 --rt 5", "--mz needs a number"},
      {"batch a --mz 73 --rt 5 --quiet=no", "--quiet takes no value"},
      {"batch a --mz 73 --rt 5 -qz", "unknown option -z"},
      {"--library", "--library needs a path"},
      {"run", "run needs a step name"},
      {"run OperationStepDemo -n inf", "-n needs a number"},
      {"run OperationStepDemo -o 65", "-o needs a slot count from 0 to 64"},
      {"run OperationStepDemo -p", "-p needs a text"},
      {"run OperationStepDemo extra", "unexpected argument 'extra'"},
      {"run OperationStepDemo --mz 3", "unknown option --mz"},
      {"batch a --targets t --quant q --model cubic",
       "--model needs linear or quadratic"},
      {"batch a --targets t --quant q --weighting 1/y",
       "--weighting needs none, 1/x or 1/x2"},
      {"batch a --targets t --quant q --blank-threshold -1", "a percentage of 0 or more"},
      {"batch a --targets t --quant q --response peak", "--response needs area, integrated_area"},
      {"batch a --targets t --response height", "quantitation options need --quant"},
      {"batch a --targets t --min-sn nan", "--min-sn needs a number of 0 or more"},
      {"chain f --mz 1 --rt 1 --min-points 0", "--min-points needs a whole number from 1"},
      {"merge p --min-sn 3", "unknown option --min-sn"},
      {"batch a --targets t --samples s.tsv --model linear", "quantitation options need --quant"},
      {"batch a --targets t --rt-id-tol -0.1", "--rt-id-tol needs a number of 0 or more"},
      {"chain f --targets t --ratio-tol many", "--ratio-tol needs a percentage of 0 or more"},
      {"batch a --targets t --through-origin", "quantitation options need --quant"},
      {"batch a --targets t --report r.html --model linear", "or --report with --samples"},
      {"chain f --targets t --quant q", "unknown option --quant"},
      {"batch a --targets t --istd-limits 150,50", "--istd-limits needs two percentages LO,HI"},
      {"batch a --targets t --istd-limits 80,80", "with 0 <= LO < HI"},
      {"batch a --targets t --istd-limits -10,150", "--istd-limits needs two percentages"},
      {"batch a --targets t --istd-limits 50", "--istd-limits needs two percentages"},
      {"merge p --istd-limits 50;150", "--istd-limits needs two percentages"},
      {"merge p --istd-limits 50,inf", "--istd-limits needs two percentages"},
      {"batch a --targets t --istd-limits fifty,150", "--istd-limits needs two percentages"},
      {"chain f --targets t --istd-limits 50,150", "unknown option --istd-limits"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    const CliParse p = parse(c.line);
    EXPECT_NE(p.error.find(c.says), std::string::npos) << p.error;
    EXPECT_EQ(p.error.find('\n'), std::string::npos) << p.error;
  }
}

// Whoever adds an option also documents it: each one a command accepts is in
// that command's help text.
TEST(CliArgs, HelpTextListsEveryOption) {
  for (const char* command : {"chain", "batch", "merge", "inputs", "list", "run"}) {
    SCOPED_TRACE(command);
    const std::string_view text = usage_text(command);
    for (const std::string& name : command_option_names(command)) {
      if (name == "--jobs" && std::string_view(command) == "chain") continue;  // as -j
      const bool listed = text.find(name + " ") != std::string_view::npos ||
                          text.find(name + ",") != std::string_view::npos;
      EXPECT_TRUE(listed) << name;
    }
  }
  EXPECT_FALSE(command_option_names("batch").empty());
}

TEST(CliArgs, VersionAndRunValuesInSlotOrder) {
  EXPECT_EQ(parse("--version").options.command, Command::kVersion);
  EXPECT_EQ(parse("list --version").options.command, Command::kVersion);
  const CliParse p = parse(
      "run OperationStepDemo -p addition -n 1 -I {} -n2 -i in.json -p x -o 1 -d out");
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.command, Command::kRun);
  const RunOptions& r = p.options.run;
  EXPECT_EQ(r.step, "OperationStepDemo");
  using S = StepArgument::Source;
  const auto summary = [](const std::vector<StepArgument>& v) {
    std::string s;
    for (const StepArgument& a : v) {
      s += a.source == S::kNumber ? "n:" + std::to_string(a.number)
           : a.source == S::kFile ? "f:" + a.text
                                  : "t:" + a.text;
      s += ' ';
    }
    return s;
  };
  EXPECT_EQ(summary(r.params), "t:addition n:1.000000 n:2.000000 t:x ");
  EXPECT_EQ(summary(r.inputs), "t:{} f:in.json ");
  EXPECT_EQ(r.outputs, 1u);
  EXPECT_EQ(r.out_dir, "out");
}

TEST(CliArgs, DoubleDashEndsOptions) {
  const CliParse p = parse("batch --mz 73 --rt 5 -- -odd.mzML --plot");
  ASSERT_EQ(p.error, "");
  EXPECT_EQ(p.options.inputs, (std::vector<std::string>{"-odd.mzML", "--plot"}));
  // Once the command is known, a command's name is just a file name.
  EXPECT_EQ(parse("batch list help --mz 73 --rt 5").options.inputs,
            (std::vector<std::string>{"list", "help"}));
  // Later values win, as they always have.
  EXPECT_EQ(parse("chain f --mz 73 --rt 5 --mz 74").options.mz, 74.0);
}

}  // namespace
}  // namespace vx::host::cli
