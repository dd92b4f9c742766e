// GIF images: the colour table and the LZW data re-packed from GIF to PDF
// bit order, checked against the samples' known streams, pixels and colours.
#include "media.h"
#include "test_support.h"

namespace {

// A PDF LZWDecode decoder (most significant bit first, EarlyChange 0),
// written here independently of the re-packer.
std::string lzw_decode(const std::string& data) {
  std::vector<std::string> table;
  auto reset = [&] {
    table.assign(258, "");
    for (int i = 0; i < 256; ++i) table[i] = std::string(1, static_cast<char>(i));
  };
  reset();
  std::string out, previous;
  size_t bit = 0;
  int width = 9;
  for (;;) {
    if (bit + width > data.size() * 8) break;
    int code = 0;
    for (int i = 0; i < width; ++i, ++bit)
      code = code << 1 | ((static_cast<unsigned char>(data[bit / 8]) >> (7 - bit % 8)) & 1);
    if (code == 256) {
      reset();
      previous.clear();
      width = 9;
      continue;
    }
    if (code == 257) break;
    std::string entry;
    if (code < static_cast<int>(table.size()))
      entry = table[code];
    else if (code == static_cast<int>(table.size()) && !previous.empty())
      entry = previous + previous[0];
    else
      return out + "(bad code " + std::to_string(code) + ")";
    out += entry;
    if (!previous.empty() && table.size() < 4096) table.push_back(previous + entry[0]);
    previous = entry;
    if (table.size() + 1 > (1u << width) && width < 12) ++width;
  }
  return out;
}

// The bytes of a PDF literal string body, escapes read.
std::string unescape(const std::string& body) {
  std::string bytes;
  for (size_t i = 0; i < body.size(); ++i) {
    if (body[i] != '\\') {
      bytes += body[i];
      continue;
    }
    char c = body[++i];
    bytes += c == 'n' ? '\n' : c == 'r' ? '\r' : c;
  }
  return bytes;
}

struct Embedded {
  CompileResult result;
  std::string dictionary, stream;
};

Embedded embed(const std::string& name, int width = 16, int height = 16, bool readers = false) {
  Embedded e;
  e.result = compile("<gif 7 " + std::to_string(width) + " " + std::to_string(height) + " " +
                         test_data("gif/" + name) + ">",
                     "doc", readers);
  std::string object = object_text(e.result.pdf, 24);
  e.dictionary = object.substr(0, object.find(">>\r\nstream\r\n"));
  e.stream = stream_of(e.result.pdf, 24);
  if (e.stream.size() >= 2) e.stream.resize(e.stream.size() - 2);  // the CR LF before endstream
  return e;
}

}  // namespace

// The worked example: codes 256 1 258 0 257 in the data 00 03 08 04 10 10
// come out as 80 00 60 40 08 08.
TEST(Gif, WorkedExample) {
  Embedded e = embed("tiny-2x2.gif", 2, 2, true);
  EXPECT_EQ(e.result.console, success_text());
  EXPECT_EQ(object_text(e.result.pdf, 24) + object_text(e.result.pdf, 25),
            crlf({"24 0 obj", "<< /Type /XObject /Subtype /Image /Name /Im7 /Width 2 /Height 2",
                  "/BitsPerComponent 8  /Length 25 0 R /Filter /LZWDecode /DecodeParms "
                  "<</EarlyChange 0>>",
                  "/ColorSpace [/Indexed /DeviceRGB 1 (\x14\x1eZ\xfa\xdc<)]>>", "stream"}) +
                std::string("\x80\x00\x60\x40\x08\x08", 6) +
                crlf({"", "endstream", "endobj", "25 0 obj", "6", "endobj"}));
}

// Line ends in the table are escaped, so readers keep a carriage return, and
// no escape counts in /Length.
TEST(Gif, PaletteEscapes) {
  Embedded e = embed("palette-escapes.gif", 32, 16);
  std::string table = e.dictionary.substr(e.dictionary.find("/DeviceRGB 15 (") + 15);
  const std::string start = "\\r\\n\\r\\n\\n\\n\\(\\)\\\\\\\\\\\\\\\\\\)\\(\\)\\r";
  EXPECT_EQ(table.substr(0, start.size()), start);
  EXPECT_EQ(table.find('\r'), std::string::npos);
  EXPECT_EQ(table.find('\n'), std::string::npos);
  EXPECT_NE(e.result.pdf.find("\r\n25 0 obj\r\n201\r\n"), std::string::npos);
}

// Every accepted sample: the stream is the sample's PDF-order code stream,
// it decodes to the sample's pixels, and the table reads back as its colours.
TEST(Gif, AcceptedSamplesRepackExactly) {
  struct Sample {
    const char* name;
    int width, height, colours;
  } samples[] = {
      {"gif87a-256", 96, 64, 256},
      {"gif89a-256", 96, 64, 256},
      {"c16-min8", 40, 30, 16},
      {"c2-min8", 48, 16, 2},
      {"tiny-2x2", 2, 2, 2},
      {"clear-late", 128, 128, 256},
      {"early-clears", 96, 96, 256},
      {"no-initial-clear", 40, 30, 16},
      {"end-on-byte", 16, 16, 16},
      {"sub-blocks", 64, 48, 256},
      {"palette-escapes", 32, 16, 16},
      {"large-800x600", 800, 600, 256},
  };
  for (const Sample& sample : samples) {
    SCOPED_TRACE(sample.name);
    std::string base = std::string("gif/") + sample.name;
    Embedded e = embed(std::string(sample.name) + ".gif", sample.width, sample.height, true);
    ASSERT_EQ(e.result.console, success_text());
    EXPECT_EQ(e.stream, read_file(test_data(base + ".lzw")));
    EXPECT_EQ(lzw_decode(e.stream), read_file(test_data(base + ".idx")));
    EXPECT_NE(e.result.pdf.find("\r\n25 0 obj\r\n" + std::to_string(e.stream.size()) + "\r\n"),
              std::string::npos);
    std::string head = "/DeviceRGB " + std::to_string(sample.colours - 1) + " (";
    size_t table = e.dictionary.find(head);
    ASSERT_NE(table, std::string::npos);
    std::string body = e.dictionary.substr(table + head.size());
    body = body.substr(0, body.size() - 2);  // the closing ")]"
    EXPECT_EQ(unescape(body), read_file(test_data(base + ".pal")));
  }
}

// An end code that ends on a byte boundary gets no padding byte.
TEST(Gif, EndOnByteBoundaryNeedsNoPadding) {
  Embedded e = embed("end-on-byte.gif");
  EXPECT_EQ(e.stream.size(), 207u);
}

TEST(Gif, RefusedSamples) {
  struct Sample {
    const char* name;
    int code;
  } samples[] = {
      {"bad-signature", 51},    {"empty", 51},        {"no-global-table", 52},
      {"gce-before-image", 53}, {"trailer-only", 53}, {"interlaced", 54},
      {"local-table", 54},      {"c16-min4", 55},     {"deferred-clear", 56},
      {"junk-after-end", 56},   {"no-end-code", 56},  {"no-data", 56},
      {"truncated", 56},
  };
  for (const Sample& sample : samples) {
    compile_expecting_stop(
        "<gif 1 16 16 " + test_data(std::string("gif/") + sample.name + ".gif") + ">", 1,
        sample.code, msg_bad_gif);
  }
}

// The end of the file anywhere but the signature and the separator stops at
// once, and what was written of the data is only what the file held.
TEST(Gif, EndOfFileInsideHeaderOrData) {
  std::string whole = read_file(test_data("gif/c2-min8.gif"));
  std::string packed = read_file(test_data("gif/c2-min8.lzw"));
  struct Cut {
    size_t length;
    int code;
  } cuts[] = {{2, 51},
              {3, 56},
              {12, 56},
              {15, 56},
              {19, 53},
              {21, 56},
              {29, 56},
              {30, 56},
              {40, 56},
              {100, 56},
              {whole.size() - 3, 56}};
  for (const Cut& cut : cuts) {
    SCOPED_TRACE(cut.length);
    write_file(scratch_path("cut.gif"), whole.substr(0, cut.length));
    // What the stop leaves written, seen through a scratch output that is kept.
    feed("1 48 16 " + scratch_path("cut.gif") + ">");
    open_scratch_output();
    Stop stop = expect_stop(command_gif);
    EXPECT_EQ(stop.code, cut.code);
    EXPECT_EQ(stop.message, msg_bad_gif);
    std::string pdf = written_output();
    size_t stream = pdf.find(")]>>\r\nstream\r\n");
    if (cut.length < 19) {  // the table is incomplete
      EXPECT_EQ(stream, std::string::npos);
      continue;
    }
    std::string data = pdf.substr(stream + 14);
    EXPECT_EQ(data, packed.substr(0, data.size()));                 // a prefix of the true stream
    EXPECT_LE(data.size() + 31, std::max<size_t>(cut.length, 31));  // no byte past the end
  }
}

TEST(Gif, CommandChecks) {
  const std::string tiny = test_data("gif/tiny-2x2.gif");
  compile_expecting_stop("x<gif 1 2 2 " + tiny + ">", 1, 16, msg_not_in_page);
  compile_expecting_stop("<gif 10000 2 2 " + tiny + ">", 1, 17, msg_too_many_pictures);
  compile_expecting_stop("<gif -1 2 2 " + tiny + ">", 1, 17, msg_too_many_pictures);
  compile_expecting_stop("<gif 1 2 2 missing.gif>", 1, 50, msg_cant_open_external);
  compile_expecting_stop("<gif 1 2 2 " + scratch_dir() + ">", 1, 50, msg_cant_open_external);
  compile_expecting_stop("<gif 1 2 2 " + scratch_path("doc.pdf") + ">", 1, 71, msg_output_is_input);
  EXPECT_EQ(compile("<gif 9999 2 2 " + tiny + ">").console, success_text());
}
