// The options of listings: --plain and the layout it takes, and
// --encoding. Each option with a value takes it as the next argument or
// after "=": --size 9 or --size=9.
#include <cstdlib>
#include <cstring>
#include <string>

#include "options.h"

namespace {

struct Paper {
  const char* name;
  int width, height;  // points
};
const Paper papers[] = {
    {"a4", 595, 842},     {"a3", 842, 1191},    {"a5", 420, 595},
    {"letter", 612, 792}, {"legal", 612, 1008},
};

// The standard fonts by name, /F1 to /F14; Symbol and ZapfDingbats have no
// letters to list with.
const char* const font_names[] = {
    "Courier",          "Courier-Bold",   "Courier-Oblique",   "Courier-BoldOblique",
    "Helvetica",        "Helvetica-Bold", "Helvetica-Oblique", "Helvetica-BoldOblique",
    "Symbol",           "Times-Roman",    "Times-Bold",        "Times-Italic",
    "Times-BoldItalic", "ZapfDingbats",
};

bool same_word(const char* a, const char* b) { return strcasecmp(a, b) == 0; }

// A whole number from `low` to `high`, or -1.
int whole_number(const char* text, int low, int high) {
  char* end;
  long value = std::strtol(text, &end, 10);
  return *text && *end == 0 && value >= low && value <= high ? static_cast<int>(value) : -1;
}

bool read_font(const char* text, ListingOptions& listing) {
  int number = whole_number(text[0] == 'F' || text[0] == 'f' ? text + 1 : text, 1, 14);
  for (int i = 0; i < 14 && number < 0; ++i)
    if (same_word(text, font_names[i])) number = i + 1;
  if (number < 0 || number == 9 || number == 14) return false;
  listing.font = number;
  return true;
}

// A size in points with at most one decimal, 4 to 72.
bool read_size(const char* text, ListingOptions& listing) {
  const char* dot = std::strchr(text, '.');
  std::string whole = dot ? std::string(text, dot) : text;
  int points = whole_number(whole.c_str(), 4, 72), tenths = 0;
  if (dot) tenths = dot[1] && !dot[2] ? whole_number(dot + 1, 0, 9) : -1;
  if (points < 0 || tenths < 0 || points * 10 + tenths > 720) return false;
  listing.size_tenths = points * 10 + tenths;
  return true;
}

// A paper name, or WIDTHxHEIGHT in points.
bool read_paper(const char* text, ListingOptions& listing) {
  for (const Paper& paper : papers) {
    if (same_word(text, paper.name)) {
      listing.paper_width = paper.width;
      listing.paper_height = paper.height;
      return true;
    }
  }
  const char* times = std::strchr(text, 'x');
  if (!times) return false;
  int width = whole_number(std::string(text, times).c_str(), 72, 14400);
  int height = whole_number(times + 1, 72, 14400);
  if (width < 0 || height < 0) return false;
  listing.paper_width = width;
  listing.paper_height = height;
  return true;
}

struct ValueOption {
  const char* name;
  bool (*read)(const char* text, RunOptions& options);
  const char* accepted;  // what standard error says the option takes
};

const ValueOption value_options[] = {
    {"--font", [](const char* t, RunOptions& o) { return read_font(t, o.listing); },
     "a font name such as Courier-Bold or Times-Roman, or its number 1 to 14 (not 9 or 14)"},
    {"--size", [](const char* t, RunOptions& o) { return read_size(t, o.listing); },
     "a size in points from 4 to 72, such as 9 or 9.5"},
    {"--paper", [](const char* t, RunOptions& o) { return read_paper(t, o.listing); },
     "a4, a3, a5, letter, legal, or WIDTHxHEIGHT in points"},
    {"--columns",
     [](const char* t, RunOptions& o) {
       o.listing.columns = whole_number(t, 1, 2);
       return o.listing.columns > 0;
     },
     "1 or 2"},
    {"--encoding",
     [](const char* t, RunOptions& o) {
       o.utf8 = same_word(t, "utf8") || same_word(t, "utf-8");
       return o.utf8 || same_word(t, "winansi");
     },
     "utf8 or winansi"},
};

}  // namespace

int parse_listing_option(int count, const char* const* args, CommandLine& line) {
  const char* arg = args[0];
  if (!std::strcmp(arg, "--plain")) {
    line.options.listing.plain = true;
    return 1;
  }
  if (!std::strcmp(arg, "--line-numbers")) {
    line.options.listing.line_numbers = true;
    line.listing_layout = arg;
    return 1;
  }
  for (const ValueOption& option : value_options) {
    size_t length = std::strlen(option.name);
    if (std::strncmp(arg, option.name, length) != 0) continue;
    const char* value = nullptr;
    int taken = 1;
    if (arg[length] == '=') {
      value = arg + length + 1;
    } else if (arg[length] == 0 && count > 1) {
      value = args[1];
      taken = 2;
    } else if (arg[length] != 0) {
      continue;  // another option that begins the same way
    }
    if (!value || !option.read(value, line.options)) {
      line.problem = std::string(option.name) + (value ? std::string(" ") + value : "") + ": use " +
                     option.accepted;
      return -1;
    }
    if (std::strcmp(option.name, "--encoding") != 0) line.listing_layout = option.name;
    return taken;
  }
  return 0;
}
