#include "fuzz_targets.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "diagnostics.h"
#include "driver.h"
#include "lsp.h"
#include "media.h"
#include "page.h"
#include "pdf.h"

namespace {

void copy_file(const std::string& from, const std::string& to) {
  std::ifstream in(from, std::ios::binary);
  std::ofstream out(to, std::ios::binary);
  out << in.rdbuf();
}

void write_bytes(const char* path, const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(path, "wb");
  if (!file) std::abort();
  if (size > 0) std::fwrite(data, 1, size, file);
  std::fclose(file);
}

}  // namespace

std::string enter_fuzz_directory(const std::string& media_dir) {
  static std::string dir;
  if (dir.empty()) {
    char name[] = "/tmp/kestrin-fuzz-XXXXXX";
    if (!mkdtemp(name)) std::abort();
    dir = name;
    copy_file(media_dir + "/jpeg/small-200x100.jpg", dir + "/a.jpg");
    copy_file(media_dir + "/jpeg/grey-240x180.jpg", dir + "/g.jpg");
    copy_file(media_dir + "/gif/tiny-2x2.gif", dir + "/a.gif");
    copy_file(media_dir + "/gif/c16-min8.gif", dir + "/b.gif");
    copy_file(media_dir + "/sound/tone-8k-u8.wav", dir + "/a.raw");
    // Fonts for <font>: small subsets that the font seeds hold too.
    copy_file(media_dir + "/../fuzz/corpus/font/dejavu-latin.ttf", dir + "/f.ttf");
    copy_file(media_dir + "/../fuzz/corpus/font/nimbus-cff.otf", dir + "/g.otf");
  }
  if (chdir(dir.c_str()) != 0) std::abort();
  return dir;
}

int fuzz_document(const uint8_t* data, size_t size) {
  std::string console, warnings;
  RunHost host;
  host.console_capture = &console;
  host.diagnostics_capture = &warnings;  // the warnings are read too
  RunOptions options;
  options.compress = size > 0 && (data[size - 1] & 1) != 0;  // the last byte chooses
  run_kestrin_on_text(data, size, "out.pdf", options, host);
  return 0;
}

int fuzz_gif(const uint8_t* data, size_t size) {
  write_bytes("fuzz.gif", data, size);
  reset_run_state();
  if (!output_open("/dev/null")) std::abort();
  try {
    gif_embed("fuzz.gif");
  } catch (const Stop&) {
  }
  output_close(true);
  return 0;
}

int fuzz_image(const uint8_t* data, size_t size) {
  write_bytes("fuzz.img", data, size);
  reset_run_state();
  run.host.max_decoded_bytes = uint64_t{1} << 22;  // 4 MB and 1 M pixels: a few milliseconds
  run.host.max_decoded_pixels = uint64_t{1} << 20;
  std::string errors;
  run.host.diagnostics_capture = &errors;
  if (!output_open("/dev/null")) std::abort();
  try {
    image_embed(1, "fuzz.img");
  } catch (const Stop&) {
  }
  output_close(true);
  reset_run_state();  // forgets the capture
  return 0;
}

int fuzz_font(const uint8_t* data, size_t size) {
  write_bytes("fuzz.ttf", data, size);
  static const char document[] =
      "<encoding utf8><font 15 fuzz.ttf><fallback 15><inittext [/F15 12 Tf 25 811 Td 14 TL]>"
      "Hello AVA fi \xC3\xA9" "e\xCC\x81 \xD7\xA9\xD7\x9C\xD7\x95\xD7\x9D "
      "\xD9\x85\xD8\xB1\xD8\xAD\xD8\xA8\xD8\xA7 "
      "\xE0\xA4\xA8\xE0\xA4\xAE\xE0\xA4\xB8\xE0\xA5\x8D\xE0\xA4\xA4\xE0\xA5\x87 "
      "\xE6\x97\xA5\xE6\x9C\xAC\n[/F5 12 Tf]\xC5\x81\xC3\xB3" "d\xC5\xBA";
  std::string console, errors;
  RunHost host;
  host.console_capture = &console;
  host.diagnostics_capture = &errors;
  run_kestrin_on_text(reinterpret_cast<const unsigned char*>(document), sizeof document - 1,
                      "out.pdf", RunOptions{}, host);
  return 0;
}

int fuzz_jpeg(const uint8_t* data, size_t size) {
  std::FILE* file =
      size > 0 ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : std::fopen("/dev/null", "rb");
  if (!file) std::abort();
  reset_run_state();
  try {
    scan_jpeg_frame(file);
  } catch (const Stop&) {
  }
  std::fclose(file);
  return 0;
}

int fuzz_operators(const uint8_t* data, size_t size) {
  reset_run_state();
  std::string warnings;
  run.host.diagnostics_capture = &warnings;
  // As the initial text state first, so that the page starts from it.
  for (BlockPlace place : {BlockPlace::inittext, BlockPlace::in_text, BlockPlace::before_text,
                           BlockPlace::held_back}) {
    if (place == BlockPlace::in_text) layout_begin_page();
    BlockCheck* block = block_check_begin();
    for (size_t i = 0; i < size; ++i) block_check_token(block, data[i]);
    block_check_end(block, place, 1);
  }
  reset_run_state();  // forgets the capture
  return 0;
}

int fuzz_lsp(const uint8_t* data, size_t size) {
  size_t sent = 0;
  LanguageServer server([&sent](const nlohmann::json& message) { sent += message.dump().size(); },
                        false);
  MessageReader reader;
  reader.append(reinterpret_cast<const char*>(data), size);
  std::string body;
  for (MessageReader::Result result; (result = reader.next(&body)) != MessageReader::need_more;) {
    server.handle(result == MessageReader::message ? body : "", 0);
    if (server.exited()) break;
  }
  server.run_due(INT64_MAX);
  return 0;
}
