// Picture placement: `pict` lists a registered picture in the page's
// resources as /Im<number>; `pict+` also draws it with one self-contained
// operator group, "q w 0 0 h x y cm /Im<k> Do Q", written at once before the
// page's text object, or held back until after ET once text has begun.
//
// Size: 0 by 0 is the natural size (a unit per pixel); one of them 0 keeps
// the aspect ratio; both negative fits the picture into that box, keeping
// the aspect ratio; otherwise they stand (one negative mirrors). Position:
// x and y both negative give the centre, else the lower-left corner.
#include "commands.h"
#include "diagnostics.h"
#include "input.h"
#include "page.h"
#include "pdf.h"

namespace {

// Reads and checks the picture number and lists the picture on the page.
int32_t use_picture() {
  int32_t picture = read_number();
  if (picture < 0 || picture >= max_placeable)
    fatal_error_at(23, msg_too_many_pictures, run.places.word);
  if (run.image_object[picture] == 0) fatal_error_at(24, msg_picture_not_read, run.places.word);
  run.page_image_use[picture] = run.image_object[picture];
  if (run.page_image_high == 0 || picture < run.page_image_low) run.page_image_low = picture;
  if (picture >= run.page_image_high) run.page_image_high = picture + 1;
  return picture;
}

// a * b / divisor with the product in 64 bits, the result wrapped to 32.
int32_t scale(int32_t a, int32_t b, int32_t divisor) {
  if (divisor == 0) fatal_error_at(69, msg_picture_size_zero, run.places.command);
  return wrap32(int64_t{a} * b / divisor);
}

// "q a b c d e f" for a picture stored turned or mirrored (EXIF orientation
// 2 to 8): the matrix maps the stored picture's unit square so that it is
// seen upright in the box w by h at (x, y).
void put_turned_matrix(int orientation, int32_t w, int32_t h, int32_t x, int32_t y, char*& cursor) {
  const int32_t right = wrap_add(x, w), top = wrap_add(y, h);
  int32_t m[6];
  switch (orientation) {
    case 2: m[0] = wrap_neg(w), m[1] = 0, m[2] = 0, m[3] = h, m[4] = right, m[5] = y; break;
    case 3:
      m[0] = wrap_neg(w), m[1] = 0, m[2] = 0, m[3] = wrap_neg(h), m[4] = right, m[5] = top;
      break;
    case 4: m[0] = w, m[1] = 0, m[2] = 0, m[3] = wrap_neg(h), m[4] = x, m[5] = top; break;
    case 5:
      m[0] = 0, m[1] = wrap_neg(h), m[2] = wrap_neg(w), m[3] = 0, m[4] = right, m[5] = top;
      break;
    case 6: m[0] = 0, m[1] = wrap_neg(h), m[2] = w, m[3] = 0, m[4] = x, m[5] = top; break;
    case 7: m[0] = 0, m[1] = h, m[2] = w, m[3] = 0, m[4] = x, m[5] = y; break;
    default: m[0] = 0, m[1] = h, m[2] = wrap_neg(w), m[3] = 0, m[4] = right, m[5] = y; break;
  }
  builder_put_text("q", cursor);
  for (int32_t value : m) {
    builder_put_text(" ", cursor);
    builder_put_int(value, cursor);
  }
}

}  // namespace

void command_pict() { use_picture(); }

void command_pict_plus() {
  int32_t picture = use_picture();
  int32_t x = read_number(), y = read_number();
  int32_t w = read_number(), h = read_number();
  const int32_t pixels_w = run.image_width[picture], pixels_h = run.image_height[picture];

  if (w == 0 && h == 0) {
    w = pixels_w;
    h = pixels_h;
  } else if (w == 0) {
    w = scale(pixels_w, h, pixels_h);
  } else if (h == 0) {
    h = scale(pixels_h, w, pixels_w);
  } else if (w < 0 && h < 0) {  // fit into the box, ties fitting the width
    w = wrap_neg(w);
    h = wrap_neg(h);
    if (int64_t{pixels_h} * w > int64_t{pixels_w} * h)
      w = scale(pixels_w, h, pixels_h);
    else
      h = scale(pixels_h, w, pixels_w);
  }
  if (x < 0 && y < 0) {  // the centre, halves truncated toward zero
    x = wrap_sub(wrap_neg(x), w / 2);
    y = wrap_sub(wrap_neg(y), h / 2);
  }

  open_content_stream();
  int orientation = run.image_orientation[picture];
  // Room for six numbers of eleven characters and the words around them.
  int room = orientation == 0 ? 50 : 100;
  if (run.deferred_length + room >= max_pdfcmd)
    fatal_error_at(12, msg_too_many_pdf_commands, run.places.command);
  char* start = reinterpret_cast<char*>(run.deferred_buffer + run.deferred_length);
  char* cursor = start;
  if (orientation == 0) {
    builder_put_text("q ", cursor);
    builder_put_int(w, cursor);
    builder_put_text(" 0 0 ", cursor);
    builder_put_int(h, cursor);
    builder_put_text(" ", cursor);
    builder_put_int(x, cursor);
    builder_put_text(" ", cursor);
    builder_put_int(y, cursor);
  } else {
    put_turned_matrix(orientation, w, h, x, y, cursor);
  }
  builder_put_text(" cm /Im", cursor);
  builder_put_int(picture, cursor);
  builder_put_text(" Do Q\n", cursor);
  if (run.text_open)
    run.deferred_length += static_cast<int32_t>(cursor - start);
  else
    emit_text(start);
}
