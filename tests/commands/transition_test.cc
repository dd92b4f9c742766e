// Slide transitions: each style and its parameters read back from the page
// objects with qpdf --json; the words a transition refuses.
#include "test_support.h"

namespace {

// The /Trans dictionary of each page as qpdf reads it, sorted keys, one
// line per page ("-" for none).
std::string transitions(const std::string& pdf) {
  std::string out;
  run_shell("qpdf --json --json-key=pages --json-key=qpdf '" + pdf +
                "' | python3 -c 'import json,sys\n"
                "d=json.load(sys.stdin); objects=d[\"qpdf\"][1]\n"
                "for p in d[\"pages\"]:\n"
                " t=objects[\"obj:\"+p[\"object\"]][\"value\"].get(\"/Trans\")\n"
                " print(\" \".join(k+\"=\"+str(t[k]) for k in sorted(t)) if t else \"-\")'",
            &out);
  return out;
}

}  // namespace

TEST(Transition, EveryStyleReadsBack) {
  if (run_shell("command -v qpdf && command -v python3", nullptr) != 0)
    GTEST_SKIP() << "qpdf or python3 not installed";
  CompileResult result = compile(
      "<fullscreen 5 transition dissolve 0.5>1\f<transition wipe 1 up>2\f"
      "<transition split 2 vertical out>3\f<transition blinds 1.25 horizontal>4\f"
      "<transition box 1 in>5\f<transition glitter 0.125 diagonal>6\f"
      "<transition wipe 60 left>7\f<transition none>8");
  ASSERT_EQ(result.console, success_text());
  EXPECT_EQ(transitions(result.path),
            "/D=0.5 /S=/Dissolve\n"
            "/D=1 /Di=90 /S=/Wipe\n"
            "/D=2 /Dm=/V /M=/O /S=/Split\n"
            "/D=1.25 /Dm=/H /S=/Blinds\n"
            "/D=1 /M=/I /S=/Box\n"
            "/D=0.125 /Di=315 /S=/Glitter\n"
            "/D=60 /Di=180 /S=/Wipe\n"
            "-\n");
}

TEST(Transition, RefusedWords) {
  const struct {
    const char* input;
    int code, message;
    const char* place;
  } cases[] = {
      {"<transition fade 1>", 131, msg_unknown_transition, ":1:13: "},
      {"<transition wipe 1 sideways>", 132, msg_unknown_transition_word, ":1:20: "},
      {"<transition split 1 horizontal up>", 132, msg_unknown_transition_word, ":1:32: "},
      {"<transition box 1.5.0 in>", 133, msg_error_reading_number, ":1:17: "},
      {"<transition box 0.0001 in>", 133, msg_error_reading_number, ":1:17: "},
      {"<transition box 61 in>", 134, msg_value_out_of_range, ":1:17: "},
  };
  for (const auto& c : cases) {
    std::string errors;
    compile_expecting_stop(c.input, 1, c.code, c.message, &errors);
    EXPECT_NE(errors.find(std::string(c.place) + "error: " + message_table[c.message]),
              std::string::npos)
        << errors;
  }
}
