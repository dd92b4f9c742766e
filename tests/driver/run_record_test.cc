// Many runs in one process, as the language server and the npm package make
// them: each must give the bytes, console text, standard error and status of
// a separate process, whatever ran before it.
#include "test_support.h"

namespace {

struct Document {
  const char* name;
  std::string text;
  std::vector<std::string> options;
};

struct Outcome {
  std::string pdf, console, errors;
  int status;
};

Outcome in_process(const Document& doc, const std::string& input, const std::string& output) {
  Outcome outcome;
  std::vector<const char*> argv{"kestrin"};
  for (const std::string& option : doc.options) argv.push_back(option.c_str());
  argv.push_back(input.c_str());
  argv.push_back(output.c_str());
  RunHost host;
  host.console_capture = &outcome.console;
  host.diagnostics_capture = &outcome.errors;
  std::remove(output.c_str());
  outcome.status = run_kestrin(static_cast<int>(argv.size()), argv.data(), host);
  outcome.pdf = read_file(output);
  return outcome;
}

}  // namespace

// Every part of the record is exercised: pictures of each kind and path,
// sounds, outlines, annotations, warnings, compressed streams, UTF-8 text,
// tabs and wrapping, and stops in the middle of a page, of a picture and of a
// compressed stream (which leave state behind that the next run must not see).
TEST(RunRecord, RunsInOneProcessMatchSeparateProcesses) {
  const std::string png = test_data("image/rgba8.png"), key = test_data("image/palette8-key.png");
  const std::string gif = test_data("gif/c16-min8.gif"), jpeg = test_data("jpeg/small-200x100.jpg");
  const std::string sound = test_data("sound/tone-8k-u8.raw");
  const std::vector<Document> documents = {
      {"pictures",
       "<image 1 " + png + " image 2 " + key + " jpg+ 3 " + jpeg + " gif 4 16 16 " + gif +
           ">Pictures<pict+ 1 0 0 0 0 pict+ 2 100 0 0 0 pict+ 3 -300 -400 -100 -100 pict+ 4 0 "
           "500 0 0>",
       {"-z"}},
      {"navigation",
       "<sound 5 8000 1 8 Raw " + sound + " fullscreen 4>\n<outline 1 [Eins] outline 2 [Zwei]>"
       "One<link 72 700 200 14 0 2 text 10 10 50 50 [Note] action 0 0 9 9 1 <sound 5 next>>\f"
       "<outline 1 [Drei]>Two",
       {}},
      {"warnings",
       "<lines 200>a\ttab" + std::string(100, '\n') + "[/F99 12 Tf] [1 0 0 rg Tff]" +
           std::string(200, 'w'),
       {}},
      {"text", "<encoding utf8 tabs 4 wrap 20>Grüße\taus Zürich " + std::string(500, 'x'),
       {"-z"}},
      {"stop in text", "<encoding utf8>Łódź", {}},
      {"stop in page", "<outline 1 [Open]>Text [/F1 12 Tf]<bogus 1>", {}},
      {"stop in picture", "<image 1 " + test_data("image/cut-data.png") + ">", {}},
      {"stop in stream", "<jpg+ 1 " + jpeg + ">" + std::string(100000, 'y') + "<pict 2>", {"-z"}},
      {"plain", "Hello\nWorld", {"--warnings-as-errors"}},
  };
  std::vector<Outcome> separate;
  for (const Document& doc : documents) {
    std::string input = scratch_path(std::string(doc.name) + ".txt");
    std::string output = scratch_path(std::string(doc.name) + ".pdf");
    write_file(input, doc.text);
    std::vector<std::string> args = doc.options;
    args.push_back(input);
    args.push_back(output);
    std::remove(output.c_str());
    ProcessResult process = run_binary(args);
    separate.push_back({read_file(output), process.out, process.err, process.status});
  }
  for (bool reverse : {false, true}) {
    for (size_t k = 0; k < documents.size(); ++k) {
      size_t i = reverse ? documents.size() - 1 - k : k;
      const Document& doc = documents[i];
      SCOPED_TRACE(std::string(doc.name) + (reverse ? ", reverse order" : ""));
      Outcome outcome = in_process(doc, scratch_path(std::string(doc.name) + ".txt"),
                                   scratch_path(std::string(doc.name) + ".pdf"));
      EXPECT_TRUE(outcome.pdf == separate[i].pdf) << "the documents differ";
      EXPECT_EQ(outcome.console, separate[i].console);
      EXPECT_EQ(outcome.errors, separate[i].errors);
      EXPECT_EQ(outcome.status, separate[i].status);
    }
  }
}

// The host's list receives every warning (also those standard error no
// longer shows) and the stop, with their lines and codes.
TEST(RunRecord, DiagnosticListHoldsWarningsAndStop) {
  std::vector<Diagnostic> list;
  RunHost host;
  std::string console, errors;
  host.console_capture = &console;
  host.diagnostics_capture = &errors;
  host.diagnostic_list = &list;
  const std::string text = "a\tb\nc\td\ne\tf\ng\th\n<bogus>";
  run_kestrin_on_text(reinterpret_cast<const unsigned char*>(text.data()), text.size(),
                      scratch_path("out.pdf").c_str(), RunOptions{}, host);
  ASSERT_EQ(list.size(), 5u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(list[i].severity, Diagnostic::warning);
    EXPECT_EQ(list[i].line, i + 1);
    EXPECT_EQ(list[i].code, warn_control_character);
  }
  EXPECT_EQ(list[4].severity, Diagnostic::error);
  EXPECT_EQ(list[4].line, 5);
  EXPECT_EQ(list[4].code, 44);
  EXPECT_EQ(list[4].text, message_table[msg_unknown_command]);
}
