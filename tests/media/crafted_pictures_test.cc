// Pictures made byte by byte (tests/support/crafted_pictures.cc): hostile
// sizes, many tiny structures, damaged data that must not pass as good,
// palettes and colour keys as every reader draws them, the limits, pipes and
// read errors, and the zlib stream of a picture longer than one buffer.
#include <zlib.h>

#include <cstdio>
#include <cstdlib>
#include <set>
#include <sstream>

#include "crafted_pictures.h"
#include "test_support.h"

namespace {

std::string sample_jpeg() { return read_file(test_data("jpeg/small-200x100.jpg")); }

// Writes `bytes` under `name` in the scratch folder; its path.
std::string scratch_picture(const std::string& name, const std::string& bytes) {
  std::string path = scratch_path(name);
  write_file(path, bytes);
  return path;
}

bool have(const char* tool) { return run_shell(std::string("command -v ") + tool, nullptr) == 0; }

}  // namespace

// Each crafted picture converts, or stops with its code and says why on
// standard error. The files stay in the scratch folder for the WebAssembly
// comparison of the documents kept.
TEST(CraftedPictures, ConvertOrStopAsTheyShould) {
  for (const CraftedPicture& c : crafted_pictures(sample_jpeg())) {
    SCOPED_TRACE(c.name);
    std::string path = scratch_picture(c.name, c.bytes), errors;
    if (c.code == 0) {
      CompileResult result = compile("<image 1 " + path + ">");
      ASSERT_EQ(result.console, success_text());
      EXPECT_NE(object_text(result.pdf, 24).find(c.says), std::string::npos)
          << object_text(result.pdf, 24).substr(0, 400);
    } else {
      compile_expecting_stop("<image 1 " + path + ">", 1, c.code, msg_image_damaged, &errors);
      EXPECT_NE(errors.find(path + ": damaged "), std::string::npos) << errors;
      EXPECT_NE(errors.find(c.says), std::string::npos) << errors;
    }
  }
}

// The pixel and memory limits of decoding, each reached exactly and exceeded
// by one; pictures copied without decoding know no pixel limit.
TEST(CraftedPictures, LimitsReachedExactly) {
  const std::string rgba = png_file(png_header(8, 8, 8, 6),
                                    png_chunk("IDAT", png_data(std::vector<std::string>(8, std::string(32, 'a')))));
  const std::string interlaced = png_file(
      png_header(4, 4, 8, 2, 1),
      png_chunk("IDAT", png_data({"abc", "abc", "abcabc", "abcabc", "abcabc", "abcabcabcabc",
                                  "abcabcabcabc"})));  // the passes' rows
  std::vector<int> indices(64, 3);
  GifImage gif{8, 8, std::string(768, '\x20'), "", 0, 0, 8, 8, 8,
               gif_codes(gif_literal_codes(indices, 8), 8)};
  const std::string gif_plain = gif_file(gif);
  gif.left = 1;  // placed on a screen of 9 x 8
  gif.screen_width = 9;
  const std::string gif_placed = gif_file(gif);
  const std::string grey = png_file(png_header(8, 8, 8, 0),
                                    png_chunk("IDAT", png_data(std::vector<std::string>(8, std::string(8, 'g')))));
  struct Case {
    const char* name;
    const std::string& bytes;
    uint64_t pixels, memory;  // the limits that it just reaches
  } cases[] = {
      // Row, the predictor's two rows, the alpha plane, libpng's two rows.
      {"rgba.png", rgba, 64, 32 + 64 + 64 + 2 * (64 + 128)},
      // The whole picture, the predictor's two rows, libpng's two rows.
      {"interlaced.png", interlaced, 16, 48 + 24 + 2 * (32 + 128)},
      // The image and the screen it is placed on.
      {"placed.gif", gif_placed, 72, 64 + 72},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string path = scratch_picture(c.name, c.bytes), errors;
    for (int over = 0; over < 2; ++over) {
      RunHost host;
      host.diagnostics_capture = &errors;
      host.max_decoded_pixels = c.pixels - (over == 1);
      host.max_decoded_bytes = c.memory;
      EXPECT_EQ(compile("<image 1 " + path + ">", "doc", true, host).console,
                over ? stop_text(1, 81, msg_image_damaged) : success_text());
      host.max_decoded_pixels = c.pixels;
      host.max_decoded_bytes = c.memory - (over == 1);
      EXPECT_EQ(compile("<image 1 " + path + ">", "doc", true, host).console,
                over ? stop_text(1, 81, msg_image_damaged) : success_text());
    }
  }
  RunHost tiny;
  tiny.max_decoded_pixels = 1;
  for (const std::string* copied : {&grey, &gif_plain})
    EXPECT_EQ(compile("<image 1 " + scratch_picture("copied", *copied) + ">", "doc", true, tiny)
                  .console,
              success_text());
}

// Indices beyond the palette as greys, and colour keys on small indices, as
// mupdf, poppler and Ghostscript draw them: each pixel a square of 10
// points, whose centre is compared with what Pillow shows.
TEST(CraftedPictures, DrawnAsPillowShowsThem) {
  if (!have("mutool") || !have("pdftoppm") || !have("gs")) GTEST_SKIP() << "a renderer is missing";
  std::vector<CraftedPicture> all = crafted_pictures(sample_jpeg());
  auto bytes_of = [&](const std::string& name) {
    for (const CraftedPicture& c : all)
      if (c.name == name) return c.bytes;
    return std::string();
  };
  const char *red = "FF0000", *green = "00FF00", *blue = "0000FF", *white = "FFFFFF";
  struct Case {
    const char* name;
    std::vector<const char*> colours;  // left to right, the transparent ones white
  } cases[] = {
      {"palette-beyond.png", {red, green, blue, "030303", "C8C8C8"}},
      {"palette-beyond-interlaced.png", {red, green, blue, "030303", "C8C8C8"}},
      {"palette4-beyond.png", {red, green, blue, "030303", "0F0F0F"}},
      {"palette2-key2.png", {red, green, white, white}},
      {"palette2-key0.png", {white, green, blue, white}},
      {"palette4-key1.png", {red, white, blue, white}},
      {"palette1-key1.png", {red, white, red, white}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const int width = static_cast<int>(c.colours.size());
    std::string size = std::to_string(width * 10) + " 10";
    CompileResult result = compile("<paper " + size + " image 1 " +
                                   scratch_picture(c.name, bytes_of(c.name)) + "><pict+ 1 0 0 " +
                                   size + ">");
    ASSERT_EQ(result.console, success_text());
    const std::string drawn = scratch_path("drawn.ppm"), pdf = "'" + result.path + "'";
    for (const std::string& command :
         {"mutool draw -q -r 72 -o " + drawn + " " + pdf,
          "pdftoppm -r 72 -singlefile " + pdf + " " + drawn.substr(0, drawn.size() - 4),
          "gs -q -dNOPAUSE -dBATCH -sDEVICE=ppmraw -r72 -sOutputFile=" + drawn + " " + pdf}) {
      SCOPED_TRACE(command);
      std::string out;
      ASSERT_EQ(run_shell(command, &out), 0) << out;
      std::string ppm = read_file(drawn);
      for (size_t comment; (comment = ppm.find("\n#")) < 20;)  // Ghostscript's
        ppm.erase(comment, ppm.find('\n', comment + 1) - comment);
      int w = 0, h = 0, max = 0, used = 0;
      ASSERT_EQ(std::sscanf(ppm.c_str(), "P6 %d %d %d%n", &w, &h, &max, &used), 3);
      ASSERT_EQ(w, width * 10);
      for (int x = 0; x < width; ++x) {
        const unsigned char* pixel =
            reinterpret_cast<const unsigned char*>(ppm.data()) + used + 1 + 3 * (5 * w + 10 * x + 5);
        int expected = static_cast<int>(std::strtol(c.colours[x], nullptr, 16));
        for (int k = 0; k < 3; ++k)
          EXPECT_NEAR(pixel[k], (expected >> (16 - 8 * k)) & 0xFF, 2) << "pixel " << x;
      }
    }
  }
}

// A decoded picture whose streams outgrow the output buffer goes through
// zlib's streaming path: every byte must come out, the pixels unchanged.
// Noise, 290 rows of 1 + 150 x 3 bytes: the last 65254 bytes, compressed
// at the end, fill the output more than once.
TEST(CraftedPictures, DecodedStreamLongerThanOneBuffer) {
  const int width = 150, height = 290;
  std::vector<std::string> rows;
  std::string colours, alpha;
  uint32_t noise = 12345;
  for (int y = 0; y < height; ++y) {
    std::string row;
    for (int x = 0; x < width * 4; ++x) {
      noise = noise * 1103515245 + 12345;
      row += static_cast<char>(noise >> 23);
      (x % 4 == 3 ? alpha : colours) += row.back();
    }
    rows.push_back(row);
  }
  std::string path = scratch_picture(
      "noise.png", png_file(png_header(width, height, 8, 6), png_chunk("IDAT", png_data(rows, 1))));
  CompileResult result = compile("<image 1 " + path + ">");
  ASSERT_EQ(result.console, success_text());
  auto inflated = [&](int object, size_t size) {
    std::string stream = stream_of(result.pdf, object), out(size + 1, '\0');
    uLongf got = out.size();
    EXPECT_EQ(uncompress(reinterpret_cast<Bytef*>(&out[0]), &got,
                         reinterpret_cast<const Bytef*>(stream.data()), stream.size() - 2),
              Z_OK);
    out.resize(got);
    return out;
  };
  // The colour rows, each after its Up predictor byte: undone, the pixels.
  std::string predicted = inflated(24, height * (1 + width * 3)), undone;
  ASSERT_EQ(predicted.size(), static_cast<size_t>(height * (1 + width * 3)));
  for (int y = 0; y < height; ++y)
    for (int i = 0; i < width * 3; ++i)
      undone += static_cast<char>(predicted[y * (1 + width * 3) + 1 + i] +
                                  (y > 0 ? undone[(y - 1) * width * 3 + i] : 0));
  EXPECT_TRUE(undone == colours);
  EXPECT_TRUE(inflated(26, alpha.size()) == alpha);
}

// Decoded pictures whose streams outgrow the output buffer are deflated on a
// second thread: the same console text, standard error and PDF as on one,
// with and without -z, for pictures that convert and for one whose data ends
// midway; a write failure inside such a stream stops as it always has.
TEST(CraftedPictures, DecodedStreamsOnTwoThreadsAsOnOne) {
  uint32_t noise = 4242;
  auto noise_png = [&](int width, int height, int depth, int colour_type, int channels,
                       int interlace) {
    std::vector<std::string> rows;
    static const int start_x[] = {0, 4, 0, 2, 0, 1, 0}, start_y[] = {0, 0, 4, 0, 2, 0, 1},
                     step_x[] = {8, 8, 4, 4, 2, 2, 1}, step_y[] = {8, 8, 8, 4, 4, 2, 2};
    for (int pass = interlace ? 0 : 6; pass < 7; ++pass) {  // the seven passes, or all rows
      const bool whole = !interlace;
      const int columns = whole ? width : (width - start_x[pass] + step_x[pass] - 1) / step_x[pass];
      const int lines = whole ? height : (height - start_y[pass] + step_y[pass] - 1) / step_y[pass];
      for (int y = 0; y < lines; ++y) {
        std::string row;
        for (int x = 0; x < columns * channels * depth / 8; ++x) {
          noise = noise * 1103515245 + 12345;
          row += static_cast<char>(x % 7 == 0 ? noise >> 23 : y + x / 5);  // partly compressible
        }
        rows.push_back(row);
      }
    }
    return png_file(png_header(width, height, depth, colour_type, interlace),
                    png_chunk("IDAT", png_data(rows, 1)));
  };
  const std::string rgba = noise_png(300, 300, 8, 6, 4, 0);
  const std::string cut = rgba.substr(0, rgba.size() / 2 - 12);
  std::vector<int> indices(300 * 250);
  for (size_t i = 0; i < indices.size(); ++i) indices[i] = static_cast<int>(i * 7 % 251);
  const GifImage gif{300, 250, std::string(768, '\x40'), "", 0, 0, 300, 250, 8,
                     gif_codes(gif_literal_codes(indices, 8), 8)};
  std::string gif_interlaced = gif_file(gif);
  gif_interlaced[13 + 768 + 9] |= 0x40;  // the image descriptor's interlace flag
  struct Case {
    const char* name;
    std::string bytes;
    int code;  // the stop, 0 when it converts
  } cases[] = {
      {"rgba.png", rgba, 0},
      {"rgba-small-alpha.png", noise_png(150, 290, 8, 6, 4, 0), 0},
      {"grey-alpha.png", noise_png(400, 400, 8, 4, 2, 0), 0},
      {"rgba16-interlaced.png", noise_png(200, 200, 16, 6, 4, 1), 0},
      {"rgb16.png", noise_png(250, 200, 16, 2, 3, 0), 0},
      {"interlaced.gif", gif_interlaced, 0},
      {"cut.png", png_file(png_header(300, 300, 8, 6), png_chunk("IDAT", cut.substr(cut.find("IDAT") + 4))), 82},
  };
  std::string all;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = scratch_picture(c.name, c.bytes);
    const std::string doc = "<image 1 " + path + "><pict+ 1 0 0 0 0>";
    // Alone, and after the pictures before it in one document.
    const std::string after = all + doc;
    if (c.code == 0) all += "<image 2 " + path + "><pict+ 2 0 0 0 0>\f";
    for (const std::string& input : {doc, after}) {
      for (bool compress : {false, true}) {
        CompileResult by_thread[2];
        std::string errors[2];
        for (int one = 0; one < 2; ++one) {
          RunHost host;
          host.one_thread = one == 1;
          host.console_capture = &by_thread[one].console;
          host.diagnostics_capture = &errors[one];
          const std::string in = scratch_path("threads.txt"), out = scratch_path("threads.pdf");
          write_file(in, input);
          std::remove(out.c_str());
          std::vector<const char*> argv = {"kestrin", in.c_str(), out.c_str()};
          if (compress) argv.insert(argv.begin() + 1, "-z");
          by_thread[one].status = run_kestrin(static_cast<int>(argv.size()), argv.data(), host);
          by_thread[one].pdf = read_file(out);
        }
        EXPECT_EQ(by_thread[0].console,
                  c.code ? stop_text(1, c.code, msg_image_damaged) : success_text());
        EXPECT_EQ(by_thread[0].console, by_thread[1].console);
        EXPECT_EQ(errors[0], errors[1]);
        EXPECT_TRUE(by_thread[0].pdf == by_thread[1].pdf) << "compress " << compress;
      }
    }
  }
  // A file that may grow to 100 blocks: the colour stream passes that on the
  // worker, and the run stops as it does writing on one thread.
  write_file(scratch_path("limited.txt"), "<image 1 rgba.png><pict+ 1 0 0 0 0>");
  std::string out;
  run_shell("cd '" + scratch_dir() + "' && trap '' XFSZ && ulimit -f 100 && '" + KESTRIN_BINARY +
                "' limited.txt limited.pdf",
            &out);
  EXPECT_EQ(out, "kestrin: limited.pdf: File too large\n" + stop_text(1, 72, msg_cant_write_output));

  // The soft mask goes out in writes of its own (those to the PDF's
  // descriptor), as when it was compressed where it was written: the writes
  // after it keep their places, and a write that fails there names the line
  // it always named.
  if (run_shell("strace -f -e trace=none true", &out) != 0) return;
  write_file(scratch_path("mask.txt"), "<image 1 rgba.png><pict+ 1 0 0 0 0>" + std::string(3000, 'x'));
  run_shell("cd '" + scratch_dir() + "' && strace -f -qq -e trace=write -e signal=none -o writes '" +
                KESTRIN_BINARY + "' mask.txt mask.pdf >/dev/null 2>&1; " +
                "fd=$(grep -m1 '\"%PDF' writes | sed 's/.*write(\\([0-9]*\\),.*/\\1/'); " +
                "grep \"write($fd,\" writes | grep -o '= [0-9]*$'",
            &out);
  const std::string pdf = read_file(scratch_path("mask.pdf"));
  std::set<size_t> ends;
  size_t at = 0;
  std::istringstream sizes(out);
  for (std::string equals, size; sizes >> equals >> size;) ends.insert(at += std::stoul(size));
  const size_t begin = pdf.find("stream\r\n", pdf.find("/ColorSpace /DeviceGray")) + 8;
  EXPECT_TRUE(ends.count(begin) && ends.count(pdf.find("\r\nendstream", begin)))
      << "the mask's data at " << begin;
}

// A picture from a pipe is read through (as jpg+ reads one): the same PDF as
// from the file. A read error says so, with the system's reason.
TEST(CraftedPictures, PipesAndReadErrors) {
  for (const char* name : {"palette-beyond.png", "palette2-key2.png", "table-codes.gif"}) {
    SCOPED_TRACE(name);
    std::string bytes;
    for (const CraftedPicture& c : crafted_pictures(sample_jpeg()))
      if (c.name == name) bytes = c.bytes;
    std::string file = scratch_picture("piped", bytes), out;
    write_file(scratch_path("from-pipe.txt"), "<image 1 /dev/stdin><pict+ 1 0 0 0 0>");
    write_file(scratch_path("from-file.txt"), "<image 1 piped><pict+ 1 0 0 0 0>");
    std::string binary = std::string("'") + KESTRIN_BINARY + "'";
    ASSERT_EQ(run_shell("cd '" + scratch_dir() + "' && cat piped | " + binary +
                            " from-pipe.txt pipe.pdf && " + binary + " from-file.txt file.pdf",
                        &out),
              0)
        << out;
    EXPECT_TRUE(read_file(scratch_path("pipe.pdf")) == read_file(scratch_path("file.pdf")));
  }
  // By the binary: the WebAssembly build's file system has no /proc/self.
  write_file(scratch_path("mem.txt"), "<image 1 /proc/self/mem>");
  ProcessResult mem = run_binary({"mem.txt", "mem.pdf"});
  EXPECT_EQ(mem.out, stop_text(1, 74, msg_cant_read_external));
  EXPECT_EQ(mem.err,
            "kestrin: /proc/self/mem: Input/output error\nmem.txt:1:10: error: can't read external file\n");
}

// The arithmetic-coding warning for every arithmetic frame header, the
// hierarchical ones (SOF13 to SOF15) too, from jpg's scan and from jpg+'s;
// none for a frame header after the first scan.
TEST(CraftedPictures, ArithmeticFrames) {
  const std::string soi("\xFF\xD8", 2), scan("\xFF\xDA\0\x02", 4), dhp("\xFF\xDE\0\x07xxxxx", 9);
  for (int marker = 0xC0; marker <= 0xCF; ++marker) {
    if (marker == 0xC4 || marker == 0xC8 || marker == 0xCC) continue;
    const bool arithmetic = marker >= 0xC9;
    const std::string frame = std::string("\xFF", 1) + static_cast<char>(marker) +
                              std::string("\0\x0B\x08\0\x08\0\x08\x01\x01\x11\0", 11);
    for (const std::string& before : {soi, soi + dhp, soi + scan}) {
      std::string path = scratch_picture("frame.jpg", before + frame + "\xFF\xD9");
      for (const char* command : {"jpg 1 8 8 ", "jpg+ 1 "}) {
        SCOPED_TRACE(std::string(command) + std::to_string(marker) + " after " + std::to_string(before.size()));
        std::string warnings;
        RunHost host;
        host.diagnostics_capture = &warnings;
        EXPECT_EQ(compile(std::string("<") + command + path + ">", "doc", false, host).console, success_text());
        bool warned = warnings.find("is an arithmetic-coded JPEG") != std::string::npos;
        EXPECT_EQ(warned, arithmetic && before != soi + scan) << warnings;
      }
    }
  }
}

// The GIF stop's text, as the users have always seen it.
TEST(CraftedPictures, GifMessageText) {
  std::string path = scratch_picture("bad.gif", "GIX89a");
  EXPECT_EQ(compile("<gif 1 2 2 " + path + ">").console,
            "\nerror in line 1 (51)  gif file not found or unsupported format (only 256 colors!)\n");
}

// Every crafted picture that fits libFuzzer's inputs seeds the image target
// as tests/fuzz/corpus/image/crafted-NAME; KESTRIN_WRITE_SEEDS=1 writes them.
TEST(CraftedPictures, SeedTheImageFuzzer) {
  const bool write = std::getenv("KESTRIN_WRITE_SEEDS") != nullptr;
  for (const CraftedPicture& c : crafted_pictures(sample_jpeg())) {
    if (c.bytes.size() > 8192) continue;
    std::string seed = std::string(KESTRIN_FUZZ_DIR) + "/corpus/image/crafted-" + c.name;
    if (write) write_file(seed, c.bytes);
    EXPECT_TRUE(read_file(seed) == c.bytes) << seed << " differs: make it with KESTRIN_WRITE_SEEDS=1";
  }
}
