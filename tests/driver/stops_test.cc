// One table of the stops a document can reach: for each, an input and the
// line, code and message it must end with. Stops of the command line (codes
// 1, 2, 3, 68 and 72) are checked on the binary in command_line_test.cc.
//
// Not reachable, and so not here: code 5 (an outline item's page is always
// the page being composed, which is written before the tail) and code 8
// (10000 pages need 40000 object numbers; the object limit stops first).
#include <set>

#include "test_support.h"

namespace {

struct StopCase {
  const char* situation;
  std::string input;
  int line, code, message;
  std::string place;  // line:column of the cause, on standard error; "" for none
};

std::string repeat(const std::string& text, int count) {
  std::string out;
  for (int i = 0; i < count; ++i) out += text;
  return out;
}

std::string media(const std::string& name) { return test_data(name); }

// Pages with a head that shows %n, each different: one set of lines each.
std::string running_sets(int count) {
  std::string out;
  for (int i = 0; i < count; ++i)
    out += (i ? "\f<head left 5 9 [%n " : "<head left 5 9 [%n ") + std::to_string(i) + "]>x";
  return out;
}

// An action annotation whose store record holds 9 + count words.
std::string action_of(int count) { return "<action 0 0 9 9 0 <" + repeat("next ", count) + ">>"; }

std::vector<StopCase> stop_cases() {
  const std::string jpeg = media("jpeg/small-200x100.jpg"), gif = media("gif/tiny-2x2.gif");
  const std::string raw = media("sound/tone-8k-u8.raw");
  return {
      {"link to a page after the last", "x<link 0 0 9 9 0 2>", 1, 6, msg_bad_page_number, "1:18"},
      {"goto to page 0", "x<action 0 0 9 9 0 <goto 0 0 0 1 1>>", 1, 7, msg_bad_page_number, "1:26"},
      {"annotation numbers past the last object", repeat("x\f", 7487) + "x<text 0 0 1 1 []>", 1, 9,
       msg_too_many_objects, ""},
      {"raw block at the end of input", "[1 w\n", 2, 10, msg_unexpected_end, "1:1"},
      {"held-back block at the end of input", "x{1 w", 1, 11, msg_unexpected_end, "1:2"},
      {"held-back blocks past 1024 bytes", "x{" + std::string(1025, ' ') + "}", 1, 12,
       msg_too_many_pdf_commands, "1:2"},
      {"direct block at the end of input", "{1 w", 1, 13, msg_unexpected_end, "1:1"},
      {"jpg inside a page", "x<jpg 1 1 1 " + jpeg + ">", 1, 14, msg_not_in_page, "1:3"},
      {"jpg+ picture number 10000", "<jpg+ 10000 " + jpeg + ">", 1, 15, msg_too_many_pictures,
       "1:7"},
      {"gif inside a page", "x<gif 1 2 2 " + gif + ">", 1, 16, msg_not_in_page, "1:3"},
      {"gif picture number -1", "<gif -1 2 2 " + gif + ">", 1, 17, msg_too_many_pictures, "1:6"},
      {"sound inside a page", "x<sound 1 1 1 1 Raw " + raw + ">", 1, 18, msg_not_in_page, "1:3"},
      {"sound number 17", "<sound 17 1 1 1 Raw " + raw + ">", 1, 19, msg_too_many_sounds, "1:8"},
      {"paper after text", "x<paper 1 1>", 1, 20, msg_paper_before_text, "1:3"},
      {"inittext without its block", "<inittext >", 1, 21, msg_error_in_string, "1:11"},
      {"inittext over 1024 bytes", "<inittext [" + std::string(1025, ' ') + "]>", 1, 22,
       msg_inittext_too_long, "1:11"},
      {"placing picture 9999", "<pict 9999>", 1, 23, msg_too_many_pictures, "1:7"},
      {"placing a picture never read", "<pict+ 4 0 0 0 0>", 1, 24, msg_picture_not_read, "1:8"},
      {"outline item 10001", repeat("<outline 1 []>", 10001), 1, 25, msg_too_many_outlines,
       "1:140002"},
      {"outline level 10", "<outline 10 [x]>", 1, 26, msg_too_many_outline_levels, "1:10"},
      {"outline fillers past 10000", repeat("<outline 1 []>", 9998) + "<outline 4 []>", 1, 27,
       msg_too_many_outlines, "1:139974"},
      {"text before the page's stream", "<text 0 0 1 1 []>", 1, 28, msg_annotation_only_in_page,
       "1:2"},
      {"text annotation 257", "x" + repeat("<text 0 0 1 1 []>", 257), 1, 29,
       msg_too_many_annotations, "1:4355"},
      {"text record filling the store", "x" + action_of(4984) + "<text 0 0 1 1 []>", 1, 30,
       msg_too_many_parameters, "1:24944"},
      {"link before the page's stream", "<link 0 0 1 1 0 1>", 1, 31, msg_annotation_only_in_page,
       "1:2"},
      {"link annotation 257", "x" + repeat("<link 0 0 1 1 0 1>", 257), 1, 32,
       msg_too_many_annotations, "1:4611"},
      {"link to page 10000", "x<link 0 0 1 1 0 10000>", 1, 33, msg_too_many_pages, "1:18"},
      {"link record filling the store", "x" + action_of(4984) + "<link 0 0 1 1 0 1>", 1, 34,
       msg_too_many_parameters, "1:24944"},
      {"action before the page's stream", "<action 0 0 1 1 0 <next>>", 1, 35,
       msg_annotation_only_in_page, "1:2"},
      {"action annotation 257", "x" + repeat(action_of(1), 257), 1, 36, msg_too_many_annotations,
       "1:6659"},
      {"action list without its <", "x<action 0 0 1 1 0 [next]>", 1, 37, msg_error_in_string,
       "1:20"},
      {"action word ended by a bracket", "x<action 0 0 1 1 0 <next{>>", 1, 38, msg_error_in_string,
       "1:25"},
      {"url word ended by >", "x<action 0 0 1 1 0 <url>>", 1, 39, msg_error_in_string, "1:24"},
      {"exec word ended by >", "x<action 0 0 1 1 0 <exec>>", 1, 40, msg_error_in_string, "1:25"},
      {"unknown action word", "x<action 0 0 1 1 0 <open>>", 1, 41, msg_unknown_action, "1:21"},
      {"action list filling the store", "x" + action_of(4991), 1, 42, msg_too_many_parameters,
       "1:3"},
      {"action list without actions", "x<action 0 0 10 10 0 <>>", 1, 43, msg_no_action, "1:3"},
      {"unknown command", "<Rotate 90>", 1, 44, msg_unknown_command, "1:2"},
      {"title without its bracket", "<outline 1 {x}>", 1, 45, msg_error_in_string, "1:12"},
      {"title past the string pool", "<outline 1 [" + std::string(100001, 'a') + "]>", 1, 46,
       msg_text_buffer_too_small, "1:12"},
      {"url past the string pool",
       "x<outline 1 [" + std::string(99999, 'a') + "]><action 0 0 1 1 0 <url u>>", 1, 47,
       msg_text_buffer_too_small, "1:100038"},
      {"object 30000", repeat("x\f", 7488) + "x", 1, 48, msg_too_many_objects, "1:14977"},
      {"missing JPEG file", "<jpg 1 1 1 missing.jpg>", 1, 49, msg_cant_open_external, "1:12"},
      {"missing GIF file", "<gif 1 1 1 missing.gif>", 1, 50, msg_cant_open_external, "1:12"},
      {"GIF without signature", "<gif 1 1 1 " + media("gif/bad-signature.gif") + ">", 1, 51,
       msg_bad_gif, "1:12"},
      {"GIF without global table", "<gif 1 1 1 " + media("gif/no-global-table.gif") + ">", 1, 52,
       msg_bad_gif, "1:12"},
      {"GIF extension before the image", "<gif 1 1 1 " + media("gif/gce-before-image.gif") + ">", 1,
       53, msg_bad_gif, "1:12"},
      {"interlaced GIF", "<gif 1 1 1 " + media("gif/interlaced.gif") + ">", 1, 54, msg_bad_gif,
       "1:12"},
      {"GIF minimum code size 4", "<gif 1 1 1 " + media("gif/c16-min4.gif") + ">", 1, 55,
       msg_bad_gif, "1:12"},
      {"GIF data without end code", "<gif 1 1 1 " + media("gif/no-end-code.gif") + ">", 1, 56,
       msg_bad_gif, "1:12"},
      {"comment never closed", "<rotate *90>\n", 2, 57, msg_unexpected_end, "1:9"},
      {"word of 257 characters", "<" + std::string(257, 'w') + ">", 1, 58, msg_string_too_long,
       "1:2"},
      {"JPEG without frame header", "<jpg+ 1 " + media("jpeg/no-frame.jpg") + ">", 1, 58,
       msg_string_too_long, "1:9"},
      {"bracket instead of a number", "<rotate [>", 1, 59, msg_error_reading_number, "1:9"},
      {"bracket among the digits", "<rotate 9[>", 1, 60, msg_error_reading_number, "1:10"},
      {"plus sign", "<rotate +9>", 1, 61, msg_error_reading_number, "1:9"},
      {"end of input instead of a word", "<rotate 9 ", 1, 62, msg_unexpected_end, "1:1"},
      {"end of input instead of a number", "<rotate\n", 2, 63, msg_unexpected_end, "1:1"},
      {"end of input inside a title", "<outline 1 [x", 1, 64, msg_unexpected_end, "1:12"},
      {"end of input inside inittext", "<inittext [x", 1, 65, msg_unexpected_end, "1:11"},
      {"sound action number 17", "x<action 0 0 1 1 0 <sound 17>>", 1, 66, msg_too_many_sounds,
       "1:27"},
      {"sound action never read", "x<action 0 0 1 1 0 <sound 2>>", 1, 67, msg_sound_not_read,
       "1:27"},
      {"picture height 0 kept in proportion", "<jpg 1 9 0 " + jpeg + " pict+ 1 0 0 0 9>", 1, 69,
       msg_picture_size_zero, "1:" + std::to_string(13 + jpeg.size())},
      {"head text without its bracket", "<head left 5 9 {x}>", 1, 120, msg_error_in_string, "1:16"},
      {"end of input inside a head text", "<head left 5 9 [x", 1, 121, msg_unexpected_end, "1:16"},
      {"head text beyond winansi", "<encoding utf8 head left 5 9 [\xC5\x81]>", 1, 122,
       msg_not_in_winansi, "1:31"},
      {"head text of 257 bytes", "<foot left 5 9 [" + std::string(257, 'x') + "]>", 1, 123,
       msg_running_text_too_long, "1:16"},
      {"unknown position of a head", "<head middle 5 9 [x]>", 1, 124, msg_unknown_position, "1:7"},
      {"head font 15", "<head left 15 9 [x]>", 1, 125, msg_value_out_of_range, "1:12"},
      {"head size 0", "<foot right 5 0 [x]>", 1, 126, msg_value_out_of_range, "1:15"},
      {"page number -1", "<pagenumber -1>", 1, 127, msg_value_out_of_range, "1:13"},
      {"257 different heads with %n", running_sets(257), 1, 128, msg_too_many_running,
       "1:" + std::to_string(running_sets(257).size())},
      {"two verbatim files in one group", "<verbatim " + jpeg + " verbatim " + jpeg + ">", 1, 129,
       msg_verbatim_twice, "1:" + std::to_string(12 + jpeg.size())},
      {"missing verbatim file", "<verbatim missing.c>", 1, 130, msg_cant_open_external, "1:11"},
      {"unknown transition", "<transition fade 1>", 1, 131, msg_unknown_transition, "1:13"},
      {"unknown direction of a wipe", "<transition wipe 1 sideways>", 1, 132,
       msg_unknown_transition_word, "1:20"},
      {"transition seconds not a number", "<transition box x in>", 1, 133, msg_error_reading_number,
       "1:17"},
      {"transition of 61 seconds", "<transition box 61 in>", 1, 134, msg_value_out_of_range,
       "1:17"},
  };
}

}  // namespace

TEST(Stops, EveryReachableStop) {
  std::set<int> codes;
  for (const StopCase& c : stop_cases()) {
    SCOPED_TRACE(c.situation);
    RunHost host;
    std::string errors;
    std::vector<Diagnostic> records;
    host.diagnostics_capture = &errors;
    host.diagnostic_list = &records;
    CompileResult result = compile(c.input, "doc", true, host);
    std::string expected = stop_text(c.line, c.code, c.message);
    if (c.code == 44) expected = "Rotate" + expected;
    EXPECT_EQ(result.console, expected);
    EXPECT_EQ(result.status, 1);
    // Standard error ends with the stop at its cause; the record has the same place.
    if (c.place.empty()) {
      EXPECT_EQ(errors.find(": error: "), std::string::npos) << errors;
    } else {
      std::string located = ":" + c.place + ": error: " + message_table[c.message] + "\n";
      EXPECT_EQ(errors.substr(errors.size() - std::min(errors.size(), located.size())), located);
    }
    ASSERT_FALSE(records.empty());
    EXPECT_EQ(std::to_string(records.back().line) + ":" + std::to_string(records.back().column),
              c.place.empty() ? "0:0" : c.place);
    codes.insert(c.code);
  }
  // The stop with code 71 needs the output's own path; the command line
  // stops need the binary.
  compile_expecting_stop("<sound 1 1 1 1 Raw " + scratch_path("doc.pdf") + ">", 1, 71,
                         msg_output_is_input);
  codes.insert({71, 1, 2, 3, 68, 72});
  for (int code = 1; code <= 72; ++code) {
    if (code == 4 || code == 5 || code == 8 || code == 70)
      continue;  // success, unreachable, unused
    EXPECT_EQ(codes.count(code), 1u) << "no test reaches code " << code;
  }
  for (int code = 120; code <= 134; ++code)
    EXPECT_EQ(codes.count(code), 1u) << "no test reaches code " << code;
}
