// The font libraries (HarfBuzz and its subsetter, FriBidi, fontconfig) as
// the fonts call them. Where the build loads them late (the native program),
// each is opened at the first call into it, so that a document that embeds
// no font starts without loading them at all; elsewhere (the WebAssembly
// build) a call is the plain call.
#pragma once

#if KESTRIN_LATE_FONT_LIBRARIES

// The address of the function `name` (hb_subset_*: the subsetter, hb_*:
// HarfBuzz, fribidi_*: FriBidi, Fc*: fontconfig), its library opened at the
// first need and kept for the process. Throws std::runtime_error naming the
// library when it cannot be opened or lacks the function.
void* font_library_function(const char* name);

// FONT_CALL(hb_shape)(buffer, ...): the function, looked up once per place
// of call.
#define FONT_CALL(function)                                                      \
  ([] {                                                                          \
    static const auto address =                                                  \
        reinterpret_cast<decltype(&function)>(font_library_function(#function)); \
    return address;                                                              \
  }())

#else

#define FONT_CALL(function) function

#endif
