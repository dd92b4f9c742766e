// Pictures as the readers draw them: a page with every kind of placement
// renders without complaint, and a GIF at natural size shows its colours.
#include "test_support.h"

namespace {

// Reads a binary PPM (P6) written by pdftoppm: width, height, RGB bytes.
struct Raster {
  int width = 0, height = 0;
  std::string rgb;
};

Raster read_ppm(const std::string& path) {
  std::string data = read_file(path);
  Raster raster;
  int max = 0, used = 0;
  if (std::sscanf(data.c_str(), "P6 %d %d %d%n", &raster.width, &raster.height, &max, &used) == 3)
    raster.rgb = data.substr(used + 1);
  return raster;
}

}  // namespace

TEST(Render, PicturesPlacedInSeveralWays) {
  const std::string jpeg = test_data("jpeg/"), gif = test_data("gif/");
  CompileResult result = compile(
      "<jpg+ 1 " + jpeg + "photo-640x480.jpg jpg+ 2 " + jpeg + "grey-240x180.jpg jpg+ 3 " + jpeg +
      "progressive-320x240.jpg jpg+ 4 " + jpeg + "segments-256x192.jpg gif 5 96 64 " + gif +
      "gif87a-256.gif gif 6 800 600 " + gif + "large-800x600.gif>" +
      "<pict+ 1 -297 -600 -400 -300 pict+ 2 20 20 0 0 pict+ 3 300 20 0 120>Pictures\n" +
      "<pict+ 4 -100 -100 -64 -64 pict+ 5 400 200 -96 64 pict 6>{q 160 0 0 120 400 650 cm /Im6 Do "
      "Q}");
  ASSERT_EQ(result.console, success_text());
  std::string out;
  EXPECT_EQ(run_shell("pdftoppm -r 30 -png '" + result.path + "' " + scratch_path("page"), &out),
            0);
  EXPECT_EQ(out, "");
}

// A GIF drawn at its natural size shows each pixel's palette colour: at 288
// dots per inch every picture pixel is a block of 4 by 4, whose centre is
// compared (at 72, poppler smooths the picture a little).
TEST(Render, GifColoursWhereThePictureStands) {
  const int left = 100, bottom = 200, width = 96, height = 64;
  CompileResult result =
      compile("<gif 1 96 64 " + test_data("gif/gif87a-256.gif") + ">" + "<pict+ 1 " +
              std::to_string(left) + " " + std::to_string(bottom) + " 0 0>");
  ASSERT_EQ(result.console, success_text());
  std::string indices = read_file(test_data("gif/gif87a-256.idx"));
  std::string palette = read_file(test_data("gif/gif87a-256.pal"));
  struct Renderer {
    std::string command;
    int scale;
  } renderers[] = {
      {"pdftoppm -r 288 -singlefile '" + result.path + "' " + scratch_path("poppler"), 4},
      {"mutool draw -q -r 72 -o " + scratch_path("poppler.ppm") + " '" + result.path + "'", 1},
  };
  for (const Renderer& renderer : renderers) {
    SCOPED_TRACE(renderer.command);
    std::string out;
    ASSERT_EQ(run_shell(renderer.command, &out), 0) << out;
    Raster page = read_ppm(scratch_path("poppler.ppm"));
    const int scale = renderer.scale;
    ASSERT_EQ(page.width, 595 * scale);
    int top = (842 - bottom - height) * scale, mismatches = 0;
    for (int row = 0; row < height; ++row) {
      for (int column = 0; column < width; ++column) {
        int index = static_cast<unsigned char>(indices[row * width + column]);
        size_t y = top + row * scale + scale / 2, x = (left + column) * scale + scale / 2;
        for (int c = 0; c < 3; ++c) {
          int drawn = static_cast<unsigned char>(page.rgb[3 * (y * page.width + x) + c]);
          int expected = static_cast<unsigned char>(palette[3 * index + c]);
          if (std::abs(drawn - expected) > 2) ++mismatches;
        }
      }
    }
    EXPECT_EQ(mismatches, 0);
  }
}
