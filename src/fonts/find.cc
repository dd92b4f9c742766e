// Finding font files: a font named in the input through fontconfig, and the
// metric-compatible Liberation faces that draw what the standard fonts lack.
// fontconfig is started only when a name is first looked up, so documents
// that name no font pay nothing for it. The Liberation faces are taken from
// one fixed directory, never looked for elsewhere: a document gives the same
// bytes on every machine that has the same font files.
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cctype>
#include <string>

#include "fonts.h"
#include "run_state.h"

// CMake says whether fontconfig is there; the WebAssembly build has none.
#ifndef KESTRIN_FONTCONFIG
#define KESTRIN_FONTCONFIG 0
#endif
#if KESTRIN_FONTCONFIG
#include <fontconfig/fontconfig.h>

#include "libraries.h"
#endif

namespace {

// The Liberation face and style of each standard font /F1 .. /F13 (none
// for Symbol and ZapfDingbats).
const char* const liberation_file[14] = {
    "LiberationMono-Regular.ttf",  "LiberationMono-Bold.ttf",
    "LiberationMono-Italic.ttf",   "LiberationMono-BoldItalic.ttf",
    "LiberationSans-Regular.ttf",  "LiberationSans-Bold.ttf",
    "LiberationSans-Italic.ttf",   "LiberationSans-BoldItalic.ttf",
    nullptr,                       "LiberationSerif-Regular.ttf",
    "LiberationSerif-Bold.ttf",    "LiberationSerif-Italic.ttf",
    "LiberationSerif-BoldItalic.ttf", nullptr,
};

#if KESTRIN_FONTCONFIG
// Names compared as people write them: case and blanks do not matter.
std::string folded(const std::string& name) {
  std::string out;
  for (char c : name)
    if (c != ' ' && c != '-' && c != '_')
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}
#endif

}  // namespace

std::string liberation_family(int number) {
  if (number < 1 || number > 13 || !liberation_file[number - 1]) return "";
  std::string file = liberation_file[number - 1];
  return "Liberation " + file.substr(10, file.find('-') - 10);
}

int16_t liberation_face(FontState& state, int number) {
  if (number < 1 || number > 13 || !liberation_file[number - 1]) return -1;
  int16_t& slot = state.liberation[number - 1];
  if (slot != 0) return slot > 0 ? static_cast<int16_t>(slot - 1) : -1;
  std::string path = std::string(run.host.fallback_font_folder) + "/" + liberation_file[number - 1];
  if (access(path.c_str(), R_OK) != 0) {
    slot = -1;
    if (std::vector<std::string>* absent = run.host.fallback_faces_absent)
      absent->push_back(liberation_file[number - 1]);
    return -1;
  }
  auto font = load_font_file(path, path);
  font->resource_name = "L" + std::to_string(number);
  state.fonts.push_back(std::move(font));
  slot = static_cast<int16_t>(state.fonts.size());
  return static_cast<int16_t>(slot - 1);
}

bool fontconfig_available() { return KESTRIN_FONTCONFIG != 0; }

std::string find_font_by_name(const std::string& name, std::string* reason) {
#if KESTRIN_FONTCONFIG
  // Made at the first name and kept for the process; given back at its
  // exit, with fontconfig's own caches.
  static FcConfig* config = nullptr;
  if (!config) {
    config = FONT_CALL(FcInitLoadConfigAndFonts)();
    if (config)
      std::atexit([] {
        FONT_CALL(FcConfigDestroy)(config);
        FONT_CALL(FcFini)();
      });
  }
  if (!config) {
    *reason = "fontconfig could not be started";
    return "";
  }
  // A face whose full name or family is the name given, in one of its
  // styles when the name says one ("DejaVu Sans:bold"); never a stand-in.
  FcPattern* pattern = FONT_CALL(FcNameParse)(reinterpret_cast<const FcChar8*>(name.c_str()));
  if (!pattern) {
    *reason = "\"" + name + "\" is not a font name fontconfig reads";
    return "";
  }
  FcChar8* wanted_family = nullptr;
  std::string family;
  if (FONT_CALL(FcPatternGetString)(pattern, FC_FAMILY, 0, &wanted_family) == FcResultMatch)
    family = reinterpret_cast<const char*>(wanted_family);
  FONT_CALL(FcConfigSubstitute)(config, pattern, FcMatchPattern);
  FONT_CALL(FcDefaultSubstitute)(pattern);
  std::string path;
  FcResult result;
  FcFontSet* candidates = FONT_CALL(FcFontSort)(config, pattern, FcFalse, nullptr, &result);
  for (int i = 0; candidates && i < candidates->nfont && path.empty(); ++i) {
    FcPattern* font = candidates->fonts[i];
    bool same = false;
    FcChar8* value = nullptr;
    for (int k = 0; FONT_CALL(FcPatternGetString)(font, FC_FAMILY, k, &value) == FcResultMatch; ++k)
      if (folded(reinterpret_cast<const char*>(value)) == folded(family)) same = true;
    for (int k = 0; FONT_CALL(FcPatternGetString)(font, FC_FULLNAME, k, &value) == FcResultMatch;
         ++k)
      if (folded(reinterpret_cast<const char*>(value)) == folded(name)) same = true;
    FcChar8* file = nullptr;
    int index = 0;
    FONT_CALL(FcPatternGetInteger)(font, FC_INDEX, 0, &index);
    if (same && index == 0 &&
        FONT_CALL(FcPatternGetString)(font, FC_FILE, 0, &file) == FcResultMatch)
      path = reinterpret_cast<const char*>(file);
  }
  if (candidates) FONT_CALL(FcFontSetDestroy)(candidates);
  FONT_CALL(FcPatternDestroy)(pattern);
  if (path.empty()) *reason = "fontconfig knows no font named \"" + name + "\"";
  return path;
#else
  *reason = "fonts are named by file here (no fontconfig): \"" + name + "\"";
  return "";
#endif
}
