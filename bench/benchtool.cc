// Benchmark helper.
//
//   benchtool generate DIR JPEG   writes the benchmark inputs into DIR: text
//                                 documents, 50 JPEGs padded to about 200 KB
//                                 from the sample JPEG, a 2000 by 2000 GIF,
//                                 and for `image` ten opaque and ten
//                                 translucent 1200 by 900 PNGs and a GIF89a
//   benchtool measure RUNS CMD... runs CMD RUNS times, its standard output
//                                 discarded; prints the median wall time in
//                                 seconds and the peak resident memory in
//                                 KiB ("0.123456 3520")
//   benchtool spread RUNS CMD...  the same, printing the distribution of the
//                                 wall times in milliseconds: least, median,
//                                 90th and 99th percentiles, most
//
// Everything generated is the same on every run.
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

uint32_t random_state = 12345;
uint32_t next_random() {
  random_state = random_state * 1103515245u + 12345u;
  return random_state >> 8;
}

// Pages of up to 70 characters per line, each page ended by a form feed.
void write_text(const std::string& path, int pages, int lines) {
  static const char* words[] = {"the",      "quick",  "brown", "fox",     "jumps",  "over",
                                "lazy",     "dog",    "page",  "kestrin", "writes", "portable",
                                "document", "format", "text",  "by",      "hand",   "(and)",
                                "lines",    "of",     "one",   "pass",    "at",     "a"};
  std::ofstream out(path, std::ios::binary);
  std::string page;
  for (int p = 0; p < pages; ++p) {
    page.clear();
    for (int l = 0; l < lines; ++l) {
      size_t start = page.size();
      for (;;) {
        const char* word = words[next_random() % (sizeof words / sizeof *words)];
        size_t length = std::char_traits<char>::length(word);
        if (page.size() - start + length + 1 > 70) break;
        if (page.size() > start) page += ' ';
        page += word;
      }
      page += '\n';
    }
    page += '\f';
    out << page;
  }
}

std::string read_all(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

// The sample JPEG with APP15 segments after its SOI marker, up to `size`
// bytes; `seed` varies the filler, so every file differs.
std::string padded_jpeg(const std::string& jpeg, size_t size, int seed) {
  std::string out = jpeg.substr(0, 2);
  while (out.size() + jpeg.size() - 2 + 4 < size) {
    size_t body = std::min<size_t>(65533, size - (out.size() + jpeg.size() - 2) - 4);
    out += "\xFF\xEF";
    out += static_cast<char>((body + 2) >> 8);
    out += static_cast<char>((body + 2) & 0xFF);
    for (size_t i = 0; i < body; ++i) out += static_cast<char>((i * 31 + seed) & 0xFF);
  }
  return out + jpeg.substr(2);
}

// A GIF of width by height pixels in 256 colours: a global table, one image,
// minimum code size 8, LZW codes packed least significant bit first, a clear
// code before the decoder's table fills.
void write_gif(const std::string& path, int width, int height, bool transparent = false) {
  std::string gif = "GIF89a";
  auto word = [&](int v) {
    gif += static_cast<char>(v & 0xFF);
    gif += static_cast<char>(v >> 8);
  };
  word(width);
  word(height);
  gif += '\xF7';  // global table of 256 entries
  gif += '\0';
  gif += '\0';
  for (int i = 0; i < 256; ++i) {
    gif += static_cast<char>(i);
    gif += static_cast<char>((i * 7) & 0xFF);
    gif += static_cast<char>(255 - i);
  }
  // A graphic control extension with a transparent colour, as in most
  // GIF89a files.
  if (transparent) gif += std::string("!\xF9\x04\x01\x00\x00\x05\x00", 8);
  gif += ',';
  word(0);
  word(0);
  word(width);
  word(height);
  gif += '\0';
  gif += '\x08';

  std::string data;
  uint32_t bits = 0;
  int bit_count = 0, code_width = 9, next_code = 258;
  auto put = [&](int code) {
    bits |= static_cast<uint32_t>(code) << bit_count;
    bit_count += code_width;
    while (bit_count >= 8) {
      data += static_cast<char>(bits & 0xFF);
      bits >>= 8;
      bit_count -= 8;
    }
  };
  std::vector<uint16_t> table(4096 * 256, 0);  // (prefix code, byte) -> code
  put(256);
  int prefix = -1;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      // Smooth bands with some grain, as in a photograph reduced to 256 colours.
      int pixel = ((x / 7 + y / 5) + (next_random() % 4 == 0 ? next_random() % 3 : 0)) & 0xFF;
      if (prefix < 0) {
        prefix = pixel;
        continue;
      }
      uint16_t& entry = table[prefix * 256 + pixel];
      if (entry != 0) {
        prefix = entry;
        continue;
      }
      put(prefix);
      if (next_code < 4095) {
        entry = static_cast<uint16_t>(next_code++);
        if (next_code - 1 == (1 << code_width) && code_width < 12) ++code_width;
      } else {
        put(256);
        std::fill(table.begin(), table.end(), 0);
        next_code = 258;
        code_width = 9;
      }
      prefix = pixel;
    }
  }
  put(prefix);
  put(257);
  if (bit_count > 0) data += static_cast<char>(bits & 0xFF);
  for (size_t at = 0; at < data.size(); at += 255) {
    size_t length = std::min<size_t>(255, data.size() - at);
    gif += static_cast<char>(length);
    gif += data.substr(at, length);
  }
  gif += '\0';
  gif += ';';
  std::ofstream(path, std::ios::binary) << gif;
}

// A PNG of width by height pixels, RGB or RGBA, 8 bits, not interlaced,
// each row with the Up filter: smooth bands with grain, and where there is
// alpha, a vignette from opaque in the middle to clear at the corners.
void write_png(const std::string& path, int width, int height, bool alpha, int seed) {
  auto be32 = [](std::string& s, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) s += static_cast<char>(v >> shift & 0xFF);
  };
  auto chunk = [&](std::string& png, const char* type, const std::string& data) {
    be32(png, static_cast<uint32_t>(data.size()));
    std::string body = type + data;
    png += body;
    be32(png, static_cast<uint32_t>(crc32(0, reinterpret_cast<const Bytef*>(body.data()),
                                          static_cast<uInt>(body.size()))));
  };
  const int channels = alpha ? 4 : 3;
  std::string raw, above(static_cast<size_t>(width) * channels, '\0'), row = above;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      int grain = static_cast<int>(next_random() % 9);
      unsigned char* p = reinterpret_cast<unsigned char*>(&row[static_cast<size_t>(x) * channels]);
      p[0] = static_cast<unsigned char>((x * 255 / width + grain + seed) & 0xFF);
      p[1] = static_cast<unsigned char>((y * 255 / height + grain) & 0xFF);
      p[2] = static_cast<unsigned char>(((x + y) / 8 + grain * 2) & 0xFF);
      if (alpha) {
        int dx = 2 * x - width, dy = 2 * y - height;
        double r = std::sqrt(double(dx) * dx / width / width + double(dy) * dy / height / height);
        p[3] = static_cast<unsigned char>(r >= 1.4 ? 0 : r <= 0.7 ? 255 : 255 * (1.4 - r) / 0.7);
      }
    }
    raw += '\2';
    for (size_t i = 0; i < row.size(); ++i) raw += static_cast<char>(row[i] - above[i]);
    above = row;
  }
  uLongf size = compressBound(static_cast<uLong>(raw.size()));
  std::string packed(size, '\0');
  compress2(reinterpret_cast<Bytef*>(&packed[0]), &size,
            reinterpret_cast<const Bytef*>(raw.data()), static_cast<uLong>(raw.size()), 6);
  packed.resize(size);
  std::string png = "\x89PNG\r\n\x1A\n", header;
  be32(header, static_cast<uint32_t>(width));
  be32(header, static_cast<uint32_t>(height));
  header += alpha ? std::string("\x08\x06\0\0\0", 5) : std::string("\x08\x02\0\0\0", 5);
  chunk(png, "IHDR", header);
  for (size_t at = 0; at < packed.size(); at += 65536) chunk(png, "IDAT", packed.substr(at, 65536));
  chunk(png, "IEND", "");
  std::ofstream(path, std::ios::binary) << png;
}

// A document registering and placing each file, one per page.
void write_picture_document(const std::string& path, const std::vector<std::string>& files,
                            const char* command) {
  std::ofstream doc(path, std::ios::binary);
  int i = 0;
  for (const std::string& name : files) {
    ++i;
    doc << (i > 1 ? "\f" : "") << "<" << command << " " << i << " " << name << ">Picture " << i
        << "<pict+ " << i << " -297 -421 -500 -700>";
  }
}

int generate(const std::string& dir, const std::string& jpeg_path) {
  write_text(dir + "/large.txt", 7000, 60);
  write_text(dir + "/medium.txt", 933, 60);
  std::ofstream(dir + "/empty.txt", std::ios::binary);

  std::string jpeg = read_all(jpeg_path);
  std::ofstream doc(dir + "/jpegs.txt", std::ios::binary);
  for (int i = 1; i <= 50; ++i) {
    std::string name = "photo" + std::to_string(i) + ".jpg";
    std::ofstream(dir + "/" + name, std::ios::binary) << padded_jpeg(jpeg, 200000, i);
    doc << (i > 1 ? "\f" : "") << "<jpg+ " << i << " " << name << ">Photo " << i << "<pict+ " << i
        << " -297 -421 -500 -700>";
  }
  write_gif(dir + "/big2000.gif", 2000, 2000);

  // The image command on the same JPEGs, on opaque and on translucent PNGs,
  // and on a GIF89a with a transparent colour.
  std::vector<std::string> jpegs, opaque, translucent;
  for (int i = 1; i <= 50; ++i) jpegs.push_back("photo" + std::to_string(i) + ".jpg");
  write_picture_document(dir + "/image-jpegs.txt", jpegs, "image");
  for (int i = 1; i <= 10; ++i) {
    opaque.push_back("opaque" + std::to_string(i) + ".png");
    write_png(dir + "/" + opaque.back(), 1200, 900, false, i);
    translucent.push_back("alpha" + std::to_string(i) + ".png");
    write_png(dir + "/" + translucent.back(), 1200, 900, true, i);
  }
  write_picture_document(dir + "/pngs.txt", opaque, "image");
  write_picture_document(dir + "/alpha-pngs.txt", translucent, "image");
  write_gif(dir + "/gif89a.gif", 2000, 2000, true);
  write_picture_document(dir + "/gif89a.txt", {"gif89a.gif"}, "image");
  return 0;
}

int measure(int runs, char** command, bool spread) {
  std::vector<double> seconds;
  long peak_kib = 0;
  for (int r = 0; r < runs; ++r) {
    auto start = std::chrono::steady_clock::now();
    pid_t child = fork();
    if (child == 0) {
      std::freopen("/dev/null", "w", stdout);  // the console line is not measured
      execvp(command[0], command);
      _exit(127);
    }
    int status = 0;
    struct rusage usage {};
    wait4(child, &status, 0, &usage);
    auto end = std::chrono::steady_clock::now();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
      std::fprintf(stderr, "benchtool: %s failed\n", command[0]);
      return 1;
    }
    seconds.push_back(std::chrono::duration<double>(end - start).count());
    peak_kib = std::max(peak_kib, usage.ru_maxrss);
  }
  std::sort(seconds.begin(), seconds.end());
  if (spread) {
    auto at = [&](double share) { return 1000 * seconds[static_cast<size_t>(share * (runs - 1))]; };
    std::printf("%.2f %.2f %.2f %.2f %.2f\n", at(0), at(0.5), at(0.9), at(0.99), at(1));
    return 0;
  }
  std::printf("%.6f %ld\n", seconds[seconds.size() / 2], peak_kib);
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  std::string mode = argc > 1 ? argv[1] : "";
  if (mode == "generate" && argc == 4) return generate(argv[2], argv[3]);
  bool spread = mode == "spread";
  if ((mode == "measure" || spread) && argc > 3 && std::atoi(argv[2]) > 0)
    return measure(std::atoi(argv[2]), argv + 3, spread);
  std::fprintf(stderr,
               "usage: benchtool generate DIR JPEG | benchtool measure|spread RUNS COMMAND...\n");
  return 2;
}
