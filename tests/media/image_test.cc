// The image command: every sample drawn by mupdf at one pixel per point and
// compared with an independent decoding (Pillow's, stored beside the samples
// by make-samples.py, or the GIF samples' stored indices and colours), the
// path each kind takes, the catalogue version, and the refusals.
#include <sstream>

#include "media.h"
#include "test_support.h"

namespace {

struct Picture {
  int width = 0, height = 0;
  std::string rgb;  // width * height * 3 bytes
};

// A binary PPM (P6, maxval 255) as Pillow and mutool write it.
Picture read_ppm(const std::string& bytes) {
  Picture p;
  std::istringstream in(bytes);
  std::string magic;
  int maxval = 0;
  in >> magic >> p.width >> p.height >> maxval;
  in.get();
  if (magic != "P6" || maxval != 255) return Picture{};
  p.rgb = bytes.substr(static_cast<size_t>(in.tellg()));
  return p;
}

// The picture registered from `file`, placed at its natural size on a page
// of the same size, as mupdf draws it at 72 dpi.
Picture draw(const std::string& file, int width, int height, CompileResult* result) {
  *result = compile("<paper " + std::to_string(width) + " " + std::to_string(height) + " image 1 " +
                    file + "><pict+ 1 0 0 0 0>");
  std::string out;
  run_shell("mutool draw -q -r 72 -o '" + scratch_path("drawn.ppm") + "' '" + result->path + "'",
            &out);
  return read_ppm(read_file(scratch_path("drawn.ppm")));
}

// The largest difference of any sample.
int largest_difference(const Picture& a, const Picture& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return 999;
  int largest = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i)
    largest = std::max(largest, std::abs(static_cast<unsigned char>(a.rgb[i]) -
                                         static_cast<unsigned char>(b.rgb[i])));
  return largest;
}

bool have_mutool() { return run_shell("command -v mutool", nullptr) == 0; }

}  // namespace

// Each path of each kind: the marker names the path taken (copied PNG data
// carries the file's predictor with its own bit depth, decoded data 8 bits
// and the Up predictor; re-packed GIF data is LZW, decoded GIF data Flate).
TEST(Image, DrawsAsDecoded) {
  if (!have_mutool()) GTEST_SKIP() << "mutool not installed";
  struct Sample {
    const char* name;
    const char* marker;  // in the picture's dictionary
    int tolerance;       // alpha blending rounds; JPEG decoders differ a little
  } samples[] = {
      {"grey1.png", "/Colors 1 /BitsPerComponent 1", 0},
      {"grey2-key.png", "/Mask [3 3]", 0},
      {"grey8.png", "/DeviceGray /Length", 0},
      {"rgb8.png", "/Colors 3 /BitsPerComponent 8 /Columns 24", 0},
      {"rgb8-key.png", "/Mask [10 10 20 20 30 30]", 0},
      {"palette4.png", "/BitsPerComponent 4 /ColorSpace [/Indexed /DeviceRGB 15 <00FF00", 0},
      {"palette8-key.png", "/Mask [3 3]", 0},
      {"palette2-alpha.png", "/DeviceRGB /SMask 26 0 R", 1},
      {"grey-alpha8.png", "/DeviceGray /SMask 26 0 R", 1},
      {"rgba8.png", "/SMask 26 0 R", 1},
      {"rgba16.png", "/SMask 26 0 R", 1},
      {"rgb16.png", "/BitsPerComponent 8 /ColorSpace /DeviceRGB /Length", 0},
      {"grey16-key.png", "/SMask 26 0 R", 0},
      {"rgb8-interlaced.png", "/Colors 3 /BitsPerComponent 8", 0},
      {"palette1-interlaced.png", "/BitsPerComponent 8 /ColorSpace /DeviceRGB", 0},
      {"grey-alpha16-interlaced.png", "/SMask 26 0 R", 1},
      {"transparent.gif", "/Mask [5 5] /Length 25 0 R /Filter /LZWDecode", 0},
      {"interlaced.gif", "/Filter /FlateDecode", 0},
      {"min4.gif", "/Filter /FlateDecode", 0},
      {"animation.gif", "/Mask [0 0] /Length 25 0 R /Filter /FlateDecode", 0},
      {"exif1.jpg", "/DCTDecode", 0},
      {"exif2.jpg", "/DCTDecode", 0},
      {"exif3.jpg", "/DCTDecode", 0},
      {"exif4.jpg", "/DCTDecode", 0},
      {"exif5.jpg", "/Width 24 /Height 16", 0},
      {"exif6.jpg", "/Width 24 /Height 16", 0},
      {"exif7.jpg", "/Width 24 /Height 16", 0},
      {"exif8.jpg", "/Width 24 /Height 16", 0},
      {"grey.jpg", "/DeviceGray", 0},
      {"cmyk.jpg", "/DeviceCMYK /Decode [1 0 1 0 1 0 1 0]", 0},
  };
  for (const Sample& sample : samples) {
    SCOPED_TRACE(sample.name);
    std::string base = test_data(std::string("image/") + sample.name);
    Picture expected = read_ppm(read_file(base.substr(0, base.rfind('.')) + ".ppm"));
    CompileResult result;
    Picture drawn = draw(base, expected.width, expected.height, &result);
    ASSERT_EQ(result.console, success_text());
    EXPECT_NE(object_text(result.pdf, 24).find(sample.marker), std::string::npos)
        << object_text(result.pdf, 24).substr(0, 300);
    EXPECT_LE(largest_difference(drawn, expected), sample.tolerance);
    bool masked = result.pdf.find("/Mask [") != std::string::npos ||
                  result.pdf.find("/SMask") != std::string::npos;
    EXPECT_EQ(result.pdf.find("/Version /1.4\r\n") != std::string::npos, masked);
  }
}

// The GIF samples that `gif` refuses, against their stored indices and
// colours: extensions first, interlaced, local or no global table, other
// code sizes, late clears, and streams without a clean end.
TEST(Image, GifSamplesGifRefuses) {
  if (!have_mutool()) GTEST_SKIP() << "mutool not installed";
  struct Sample {
    const char* name;
    int transparent;
    const char* marker;
  } samples[] = {
      {"gce-before-image", 0, "/Mask [0 0] /Length 25 0 R /Filter /LZWDecode"},
      {"local-table", -1, "/Filter /LZWDecode"},
      {"no-global-table", -1, "/Filter /LZWDecode"},
      {"interlaced", -1, "/Filter /FlateDecode"},
      {"c16-min4", -1, "/Filter /FlateDecode"},
      {"deferred-clear", -1, "/Filter /FlateDecode"},
      {"no-end-code", -1, "/Filter /FlateDecode"},
      {"junk-after-end", -1, "/Filter /FlateDecode"},
  };
  for (const Sample& sample : samples) {
    SCOPED_TRACE(sample.name);
    std::string base = test_data(std::string("gif/") + sample.name);
    std::string gif = read_file(base + ".gif"), indices = read_file(base + ".idx"),
                colours = read_file(base + ".pal");
    Picture expected;
    expected.width = static_cast<unsigned char>(gif[6]) | static_cast<unsigned char>(gif[7]) << 8;
    expected.height = static_cast<unsigned char>(gif[8]) | static_cast<unsigned char>(gif[9]) << 8;
    for (char index : indices) {
      int i = static_cast<unsigned char>(index);
      expected.rgb +=
          i == sample.transparent ? std::string("\xFF\xFF\xFF") : colours.substr(3 * i, 3);
    }
    CompileResult result;
    Picture drawn = draw(base + ".gif", expected.width, expected.height, &result);
    ASSERT_EQ(result.console, success_text());
    EXPECT_NE(object_text(result.pdf, 24).find(sample.marker), std::string::npos);
    EXPECT_EQ(largest_difference(drawn, expected), 0);
  }
}

// Copied PNG data is the file's IDAT data, unchanged, whatever the chunks;
// re-packed GIF data is what `gif` writes.
TEST(Image, PassThroughDataIsUnchanged) {
  CompileResult png = compile("<image 1 " + test_data("image/grey8.png") + ">", "png");
  std::string file = read_file(test_data("image/grey8.png")), idat;
  for (size_t at = 8; at + 8 <= file.size();) {
    size_t length = static_cast<unsigned char>(file[at]) << 24 |
                    static_cast<unsigned char>(file[at + 1]) << 16 |
                    static_cast<unsigned char>(file[at + 2]) << 8 |
                    static_cast<unsigned char>(file[at + 3]);
    if (file.compare(at + 4, 4, "IDAT") == 0) idat += file.substr(at + 8, length);
    at += 12 + length;
  }
  EXPECT_EQ(stream_of(png.pdf, 24), idat + "\r\n");
  const std::string tiny = test_data("gif/tiny-2x2.gif");
  EXPECT_EQ(stream_of(compile("<image 1 " + tiny + ">", "image").pdf, 24),
            stream_of(compile("<gif 1 2 2 " + tiny + ">", "gif").pdf, 24));
}

// The registered size is the picture as seen, and the placement turns it:
// EXIF 6 stored 24 by 16 is placed as 16 by 24. Registering the number
// again with another command forgets the turn.
TEST(Image, OrientationInPlacement) {
  const std::string turned = test_data("image/exif6.jpg");
  CompileResult result = compile("<image 1 " + turned + "><pict+ 1 10 20 0 0>");
  EXPECT_NE(stream_of(result.pdf, 26).find("q 0 -24 16 0 10 44 cm /Im1 Do Q"), std::string::npos);
  result = compile("<image 1 " + turned + " jpg+ 1 " + turned + "><pict+ 1 10 20 0 0>");
  EXPECT_NE(stream_of(result.pdf, 28).find("q 24 0 0 16 10 20 cm /Im1 Do Q"), std::string::npos);
  result = compile("<image 1 " + turned + ">x<pict+ 1 -50 -60 -100 -100>");
  EXPECT_NE(stream_of(result.pdf, 26).find("q 0 -100 66 0 17 110 cm /Im1 Do Q"), std::string::npos);
}

TEST(Image, Refusals) {
  struct Case {
    std::string file;
    int code, message;
    const char* says;  // on standard error
  } cases[] = {
      {test_data("image/picture.bmp"), 80, msg_image_kind, "a BMP file (by its first bytes)"},
      {test_data("image/picture.tiff"), 80, msg_image_kind, "a TIFF file"},
      {test_data("image/picture.webp"), 80, msg_image_kind, "a WebP file"},
      {test_data("image/notes.txt"), 80, msg_image_kind, "a text file"},
      {test_data("gif/empty.gif"), 80, msg_image_kind, "an empty file"},
      {test_data("gif/bad-signature.gif"), 80, msg_image_kind, "an unknown kind of file"},
      {test_data("jpeg/no-frame.jpg"), 81, msg_image_damaged, "damaged JPEG file: the file ends"},
      {test_data("image/cut-header.png"), 81, msg_image_damaged, "damaged PNG file: no header"},
      {test_data("image/cut-data.png"), 82, msg_image_damaged, "in the picture data"},
      {test_data("image/cut-data-interlaced.png"), 81, msg_image_damaged, "damaged PNG file"},
      {test_data("image/no-image.gif"), 81, msg_image_damaged, "no image in the file"},
      {test_data("gif/trailer-only.gif"), 81, msg_image_damaged, "no image"},
      {test_data("gif/no-data.gif"), 81, msg_image_damaged, "no pixels"},
      {test_data("gif/truncated.gif"), 81, msg_image_damaged, "ends before the image does"},
      {"missing.png", 79, msg_cant_open_external, ""},
      {scratch_dir(), 79, msg_cant_open_external, ""},
      {scratch_path("doc.pdf"), 71, msg_output_is_input, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file);
    std::string errors;
    compile_expecting_stop("<image 3 " + c.file + ">", 1, c.code, c.message, &errors);
    EXPECT_NE(errors.find(c.says), std::string::npos) << errors;
    if (*c.says) {
      EXPECT_NE(errors.find(c.file), std::string::npos) << errors;
    }
  }
  const std::string png = test_data("image/rgb8.png");
  compile_expecting_stop("x<image 1 " + png + ">", 1, 77, msg_not_in_page);
  compile_expecting_stop("<image 10000 " + png + ">", 1, 78, msg_too_many_pictures);
  compile_expecting_stop("<image -1 " + png + ">", 1, 78, msg_too_many_pictures);
  EXPECT_EQ(compile("<image 9999 " + png + ">").console, success_text());
}

TEST(Image, KindNames) {
  struct Case {
    std::string bytes;
    const char* kind;
  } cases[] = {
      {"\xFF\xD8\xFF\xE0", "JPEG"},
      {"\x89PNG\r\n\x1A\n", "PNG"},
      {"GIF87a", "GIF"},
      {"GIF89a", "GIF"},
      {"BM6\x01", "BMP"},
      {std::string("II*\0", 4), "TIFF"},
      {std::string("MM\0*", 4), "TIFF"},
      {std::string("RIFF\x10\0\0\0WEBPVP8 ", 16), "WebP"},
      {std::string("\0\0\0\x18"
                   "ftypheic",
                   12),
       "HEIC"},
      {std::string("\0\0\0\x1C"
                   "ftypavif",
                   12),
       "AVIF"},
      {"%PDF-1.4\n", "PDF"},
      {"Hello,\nworld\n", "text"},
      {"<?xml version", "SVG or XML text"},
      {"", "empty"},
      {std::string("\x01\x02\x03\0", 4), "unknown"},
  };
  for (const Case& c : cases)
    EXPECT_STREQ(
        picture_kind_name(reinterpret_cast<const unsigned char*>(c.bytes.data()), c.bytes.size()),
        c.kind)
        << c.bytes;
}

// Both byte orders; anything malformed is upright.
TEST(Image, ExifOrientation) {
  auto body = [](bool big, int value) {
    char v = static_cast<char>(value);
    std::string tiff = big ? std::string("MM\0*\0\0\0\x08", 8) : std::string("II*\0\x08\0\0\0", 8);
    std::string directory = big ? std::string(
                                      "\0\x01"
                                      "\x01\x12"
                                      "\0\x03"
                                      "\0\0\0\x01",
                                      10) +
                                      '\0' + v + std::string(2, '\0')
                                : std::string(
                                      "\x01\0"
                                      "\x12\x01"
                                      "\x03\0"
                                      "\x01\0\0\0",
                                      10) +
                                      v + std::string(3, '\0');
    return std::string("Exif\0\0", 6) + tiff + directory;
  };
  auto orientation = [](const std::string& bytes) {
    return exif_orientation(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
  };
  EXPECT_EQ(orientation(body(true, 6)), 6);
  EXPECT_EQ(orientation(body(false, 8)), 8);
  EXPECT_EQ(orientation(body(false, 9)), 1);
  std::string whole = body(true, 3);
  EXPECT_EQ(orientation(whole), 3);
  for (size_t cut = 0; cut < whole.size() - 2; ++cut)
    EXPECT_EQ(orientation(whole.substr(0, cut)), 1);
}

// The value as Pillow reads it, whatever its type: the first of any numeric
// type when it is a whole number from 1 to 8; values of over 4 bytes where
// the entry points. Big-endian: type, count, then the value field.
TEST(Image, ExifOrientationOfEveryType) {
  struct Case {
    int type, count;
    std::string value;  // the 4-byte field, or the bytes it points to
    int expected;
  } cases[] = {
      {3, 1, std::string("\0\x06\0\0", 4), 6},           // SHORT
      {4, 1, std::string("\0\0\0\x06", 4), 6},           // LONG
      {8, 1, std::string("\0\x07\0\0", 4), 7},           // SSHORT
      {9, 1, std::string("\0\0\0\x05", 4), 5},           // SLONG
      {9, 1, std::string("\xFF\xFF\xFF\xFA", 4), 1},     // SLONG -6
      {4, 1, std::string("\0\x01\0\x06", 4), 1},         // LONG 65542
      {3, 2, std::string("\0\x08\0\x03", 4), 8},         // SHORT, two values
      {3, 3, std::string("\0\x02\0\x06\0\x06", 6), 2},   // SHORT, three: where it points
      {4, 2, std::string("\0\0\0\x04\0\0\0\x01", 8), 4},  // LONG, two
      {5, 1, std::string("\0\0\0\x0C\0\0\0\x02", 8), 6},  // RATIONAL 12/2
      {5, 1, std::string("\0\0\0\x0D\0\0\0\x02", 8), 1},  // RATIONAL 13/2
      {5, 1, std::string("\0\0\0\x06\0\0\0\0", 8), 1},    // RATIONAL 6/0
      {10, 1, std::string("\xFF\xFF\xFF\xFA\xFF\xFF\xFF\xFF", 8), 6},  // SRATIONAL -6/-1
      {11, 1, std::string("\x40\xC0\0\0", 4), 6},         // FLOAT 6.0
      {11, 1, std::string("\x40\xD0\0\0", 4), 1},         // FLOAT 6.5
      {12, 1, std::string("\x40\x18\0\0\0\0\0\0", 8), 6},  // DOUBLE 6.0
      {1, 1, std::string("\x06\0\0\0", 4), 1},           // BYTE
      {7, 1, std::string("\x06\0\0\0", 4), 1},           // UNDEFINED
      {2, 2, std::string("6\0\0\0", 4), 1},               // ASCII
      {3, 0, std::string(4, '\0'), 1},                     // no value
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.type) + " x " + std::to_string(c.count));
    const bool inline_value = c.value.size() <= 4;
    std::string entry = std::string("\x01\x12\0", 3) + static_cast<char>(c.type) +
                        std::string("\0\0\0", 3) + static_cast<char>(c.count) +
                        (inline_value ? c.value : std::string("\0\0\0\x1A", 4));
    std::string bytes = std::string("Exif\0\0MM\0*\0\0\0\x08\0\x01", 16) + entry +
                        std::string(4, '\0') + (inline_value ? "" : c.value);
    EXPECT_EQ(exif_orientation(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size()),
              c.expected);
  }
}
