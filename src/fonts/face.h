// HarfBuzz's objects over a loaded font file, private to the fonts.
#pragma once

#include <hb.h>

#include "fonts.h"
#include "libraries.h"

struct LoadedFace {
  hb_blob_t* blob = nullptr;  // over Font::data, which never moves
  hb_face_t* face = nullptr;
  hb_font_t* font = nullptr;  // scaled to units per em
  ~LoadedFace() {
    if (!blob) return;  // HarfBuzz could not be loaded: nothing was made
    FONT_CALL(hb_font_destroy)(font);
    FONT_CALL(hb_face_destroy)(face);
    FONT_CALL(hb_blob_destroy)(blob);
  }
};

// Loads `font.data` (checked) into HarfBuzz as the face at `index`.
void attach_face(Font& font, unsigned index);
