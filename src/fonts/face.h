// HarfBuzz's objects over a loaded font file, private to the fonts.
#pragma once

#include <hb.h>

#include "fonts.h"

struct LoadedFace {
  hb_blob_t* blob = nullptr;  // over Font::data, which never moves
  hb_face_t* face = nullptr;
  hb_font_t* font = nullptr;  // scaled to units per em
  ~LoadedFace() {
    hb_font_destroy(font);
    hb_face_destroy(face);
    hb_blob_destroy(blob);
  }
};

// Loads `font.data` (checked) into HarfBuzz as the face at `index`.
void attach_face(Font& font, unsigned index);
