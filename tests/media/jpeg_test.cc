// JPEG images: the object layout, the data copied unchanged, and the frame
// header scan of jpg+.
#include "media.h"
#include "test_support.h"

namespace {

std::string jpeg(const std::string& name) { return test_data("jpeg/" + name); }

// Scans `bytes` as a JPEG file.
JpegFrame scan(const std::string& bytes) {
  write_file(scratch_path("scan.jpg"), bytes);
  std::FILE* file = std::fopen(scratch_path("scan.jpg").c_str(), "rb");
  JpegFrame frame{};
  try {
    frame = scan_jpeg_frame(file);
  } catch (...) {
    std::fclose(file);
    throw;
  }
  std::fclose(file);
  return frame;
}

// A frame header segment: SOFn, length, precision, height, width, components.
std::string frame_segment(int marker, int height, int width, int components) {
  std::string s = {'\xFF',
                   static_cast<char>(marker),
                   0,
                   8,
                   8,
                   static_cast<char>(height >> 8),
                   static_cast<char>(height),
                   static_cast<char>(width >> 8),
                   static_cast<char>(width),
                   static_cast<char>(components)};
  return s;
}

}  // namespace

TEST(Jpeg, ObjectLayout) {
  const std::string empty = jpeg("empty.jpg");
  CompileResult result = compile("<jpg 1 1 1 " + empty + " jpg 2 1 1 " + empty + " jpg 3 1 1 " +
                                 empty + " jpg 5 640 480 " + jpeg("photo-640x480.jpg") + ">");
  EXPECT_EQ(result.console, success_text());
  EXPECT_EQ(object_text(result.pdf, 30) + object_text(result.pdf, 31),
            crlf({"30 0 obj", "<< /Type /XObject /Subtype /Image /Name /Im5 /Width 640 /Height 480",
                  "/BitsPerComponent 8 /ColorSpace /DeviceRGB /Length 31 0 R /Filter /DCTDecode >>",
                  "stream"}) +
                read_file(jpeg("photo-640x480.jpg")) +
                crlf({"", "endstream", "endobj", "31 0 obj", "20934", "endobj"}));
  // An empty file: the stream line is followed directly by endstream.
  EXPECT_NE(object_text(result.pdf, 24).find(">>\r\nstream\r\nendstream\r\nendobj\r\n"),
            std::string::npos);
  EXPECT_EQ(object_text(result.pdf, 25), crlf({"25 0 obj", "0", "endobj"}));
}

// jpg+ reads the size of the first frame in file order, past thumbnails and
// decoy headers inside segments, and the colour space from its components.
TEST(Jpeg, SizeAndColourSpaceFromFile) {
  struct Sample {
    const char* name;
    int width, height;
    const char* colour_space;
  } samples[] = {
      {"photo-640x480.jpg", 640, 480, "/DeviceRGB"},
      {"small-200x100.jpg", 200, 100, "/DeviceRGB"},
      {"progressive-320x240.jpg", 320, 240, "/DeviceRGB"},
      {"arithmetic-300x200.jpg", 300, 200, "/DeviceRGB"},
      {"segments-256x192.jpg", 256, 192, "/DeviceRGB"},
      {"grey-240x180.jpg", 240, 180, "/DeviceGray"},
  };
  for (const Sample& sample : samples) {
    SCOPED_TRACE(sample.name);
    CompileResult result = compile("<jpg+ 4 " + jpeg(sample.name) + ">");
    ASSERT_EQ(result.console, success_text());
    EXPECT_EQ(run.image_width[4], sample.width);
    EXPECT_EQ(run.image_height[4], sample.height);
    std::string size = " /Width " + std::to_string(sample.width) + " /Height " +
                       std::to_string(sample.height) + "\r\n/BitsPerComponent 8 /ColorSpace " +
                       sample.colour_space + " /Length 25 0 R";
    EXPECT_NE(object_text(result.pdf, 24).find(size), std::string::npos);
    std::string data = stream_of(result.pdf, 24);
    EXPECT_EQ(data, read_file(jpeg(sample.name)) + "\r\n");
  }
}

TEST(Jpeg, FrameScanMarkers) {
  const std::string soi = "\xFF\xD8";
  // Fill bytes, stuffed zeros, restart markers and TEM stand alone.
  JpegFrame frame = scan(soi + "junk\xFF\x00\xFF\xD3\xFF\x01\xFF\xFF\xFF" +
                         frame_segment(0xC2, 300, 401, 3).substr(1));
  EXPECT_EQ(frame.height, 300);
  EXPECT_EQ(frame.width, 401);
  // DHT (C4), JPG (C8) and DAC (CC) are segments with a length, skipped whole.
  frame = scan(soi + "\xFF\xC4" + std::string("\x00\x05\xFF\xC0\x01", 5) + "\xFF\xC8" +
               std::string("\x00\x02", 2) + "\xFF\xCC" + std::string("\x00\x02", 2) +
               frame_segment(0xCF, 7, 9, 1));
  EXPECT_EQ(frame.width, 9);
  EXPECT_EQ(frame.components, 1);
  // An Adobe APP14 segment before a four-component frame.
  frame = scan(soi + "\xFF\xEE" + std::string("\x00\x0E", 2) + "Adobe" + std::string(7, '\x01') +
               frame_segment(0xC0, 10, 20, 4));
  EXPECT_EQ(frame.components, 4);
  EXPECT_TRUE(frame.adobe);
  // A segment length below 2 skips nothing.
  frame = scan(soi + "\xFF\xE1" + std::string("\x00\x01", 2) + frame_segment(0xC1, 1, 2, 3));
  EXPECT_EQ(frame.width, 2);
}

TEST(Jpeg, FrameScanEndOfFile) {
  std::string header = "\xFF\xD8" + frame_segment(0xC0, 10, 20, 3);
  for (size_t length : {size_t(0), size_t(3), size_t(8), header.size() - 1}) {
    Stop stop = expect_stop([&] { scan(header.substr(0, length)); });
    EXPECT_EQ(stop.code, 58) << length;
    EXPECT_EQ(stop.message, msg_string_too_long);
  }
}

// A CMYK JPEG after an Adobe segment is declared inverted, as Adobe writes it.
TEST(Jpeg, CmykDeclaration) {
  std::string soi = "\xFF\xD8";
  write_file(scratch_path("cmyk.jpg"), soi + frame_segment(0xC0, 10, 20, 4));
  write_file(scratch_path("adobe.jpg"), soi + "\xFF\xEE" + std::string("\x00\x07", 2) + "Adobe" +
                                            frame_segment(0xC0, 10, 20, 4));
  CompileResult result =
      compile("<jpg+ 1 " + scratch_path("cmyk.jpg") + " jpg+ 2 " + scratch_path("adobe.jpg") + ">",
              "doc", false);
  EXPECT_NE(object_text(result.pdf, 24).find("/ColorSpace /DeviceCMYK /Length 25 0 R"),
            std::string::npos);
  EXPECT_NE(object_text(result.pdf, 26)
                .find("/ColorSpace /DeviceCMYK /Decode [1 0 1 0 1 0 1 0] /Length 27 0 R"),
            std::string::npos);
}

TEST(Jpeg, CommandStops) {
  const std::string photo = jpeg("photo-640x480.jpg");
  compile_expecting_stop("<jpg+ 1 " + jpeg("no-frame.jpg") + ">", 1, 58, msg_string_too_long);
  compile_expecting_stop("<jpg+ 1 " + jpeg("empty.jpg") + ">", 1, 58, msg_string_too_long);
  compile_expecting_stop("text\n<jpg 1 2 3 " + photo + ">", 2, 14, msg_not_in_page);
  compile_expecting_stop("{1 w}<jpg+ 1 " + photo + ">", 1, 14, msg_not_in_page);
  compile_expecting_stop("<jpg 10000 1 1 " + photo + ">", 1, 15, msg_too_many_pictures);
  compile_expecting_stop("<jpg+ -1 " + photo + ">", 1, 15, msg_too_many_pictures);
  compile_expecting_stop("<jpg 1 1 1 missing.jpg>", 1, 49, msg_cant_open_external);
  compile_expecting_stop("<jpg+ 1 missing.jpg>", 1, 49, msg_cant_open_external);
  compile_expecting_stop("<jpg+ 1 " + scratch_dir() + ">", 1, 49, msg_cant_open_external);
  compile_expecting_stop("<jpg 1 1 1 " + scratch_path("doc.pdf") + ">", 1, 71, msg_output_is_input);
  // Right after a form feed the next page has not begun: accepted.
  CompileResult result = compile("text\f<jpg 9999 0 -5 " + photo + ">");
  EXPECT_EQ(result.console, success_text());
  EXPECT_NE(result.pdf.find("/Name /Im9999 /Width 0 /Height -5\r\n"), std::string::npos);
}
