// Opening the font libraries at their first use (see libraries.h). The
// names are the libraries' sonames, which CMake reads from the libraries it
// found. The WebAssembly build links them and has nothing here.
#include "libraries.h"

#if KESTRIN_LATE_FONT_LIBRARIES

#include <dlfcn.h>

#include <cstring>
#include <stdexcept>
#include <string>

namespace {

struct Library {
  const char* prefix;  // of the functions it holds
  const char* soname;
  void* handle;
};

// The subsetter before HarfBuzz, whose prefix is the shorter.
Library libraries[] = {
    {"hb_subset", KESTRIN_HARFBUZZ_SUBSET_SONAME, nullptr},
    {"hb_", KESTRIN_HARFBUZZ_SONAME, nullptr},
    {"fribidi_", KESTRIN_FRIBIDI_SONAME, nullptr},
    {"Fc", KESTRIN_FONTCONFIG_SONAME, nullptr},
};

}  // namespace

void* font_library_function(const char* name) {
  for (Library& library : libraries) {
    if (std::strncmp(name, library.prefix, std::strlen(library.prefix)) != 0) continue;
    if (!library.handle) library.handle = dlopen(library.soname, RTLD_NOW | RTLD_LOCAL);
    if (!library.handle) {
      const char* why = dlerror();
      throw std::runtime_error(std::string("cannot load the font library ") + library.soname +
                               ": " + (why ? why : "not found"));
    }
    if (void* address = dlsym(library.handle, name)) return address;
    throw std::runtime_error(std::string(library.soname) + " has no function " + name);
  }
  throw std::runtime_error(std::string("no font library holds ") + name);
}

#endif
