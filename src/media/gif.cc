// GIF images, re-packed without decoding.
//
// GIF and PDF code an 8-bit alphabet with the same LZW code sequence: clear
// 256, end 257, codes of 9 to 12 bits whose width rises at the same points
// when PDF's EarlyChange is 0. They differ only in packing: GIF puts a code's
// least significant bit first, PDF its most significant bit. So the codes
// are read one by one, tracking the width as a decoder would, and written
// again in PDF order. No table is built; memory is a few integers.
//
// Accepted: a global colour table (2 to 256 entries) directly followed by
// the image, which has no local table, is not interlaced and has LZW minimum
// code size 8. Only the first image is read.
#include "diagnostics.h"
#include "input.h"
#include "media.h"
#include "pdf.h"

namespace {

constexpr int code_clear = 256;
constexpr int code_end = 257;
constexpr int max_code_width = 12;
constexpr int table_size = 1 << max_code_width;

// Thrown by a trial run of the re-packer where the real one would stop.
struct NotRepackable {};

struct GifReader {
  std::FILE* file;
  bool terminated;           // the terminator block has been read
  unsigned char block[255];  // the data of the current sub-block
  bool trial = false;        // a trial run: a fault throws NotRepackable
  int data_code = 56;        // the stop of a fault in the data, and its message
  int data_message = msg_bad_gif;

  // A byte of the file; the end of the file stops with `end_code`.
  int byte(int end_code) {
    int c = getc_unlocked(file);
    if (c == EOF) {
      check_external_read(file);
      fatal_error_at(end_code, msg_bad_gif, run.places.word);
    }
    return c;
  }

  void skip(int count) {
    while (count-- > 0) byte(56);
  }

  // A fault in the code stream.
  [[noreturn]] void fault() {
    if (trial) throw NotRepackable{};
    fatal_error_at(data_code, data_message, run.places.word);
  }

  // Reads the next sub-block whole into `block` and returns its size; 0 at
  // the terminator block and after it. A sub-block that the end of the file
  // cuts short stops the run before any of it is used.
  int read_block() {
    if (terminated) return 0;
    int c = getc_unlocked(file);
    if (c == EOF) fault();
    if (c == 0) {
      terminated = true;
      return 0;
    }
    if (std::fread(block, 1, c, file) != static_cast<size_t>(c)) {
      check_external_read(file);
      fault();
    }
    return c;
  }
};

// The colour table as the body of a literal string: "(", ")" and backslash
// get a backslash, and line ends are written as escapes so that a reader
// does not turn a carriage return into a line feed.
void write_colour_table(GifReader& gif, int entries) {
  for (int i = 0; i < 3 * entries; ++i) {
    int c = gif.byte(56);
    if (c == '(' || c == ')' || c == '\\' || c == '\n' || c == '\r') emit_raw_byte('\\');
    emit_raw_byte(c == '\n' ? 'n' : c == '\r' ? 'r' : c);
  }
}

// Re-packs the code stream; returns the number of bytes written. The bytes
// go straight into the output channel's buffer; a run that stops midway
// leaves those of them not yet counted out of the file. A trial run writes
// nothing and only finds whether the real one would succeed and give a
// picture every reader draws: it also refuses a first code (after a clear)
// that is not a colour, a code beyond the table, and data that ends before
// `pixels` colours. For that it keeps the length of each table entry's
// string.
template <bool trial>
int64_t repack_codes(GifReader& gif, uint64_t pixels = 0) {
  // The data bytes across sub-blocks; 0 once the terminator has been read.
  const unsigned char* next = gif.block;  // the next data byte
  const unsigned char* end = gif.block;   // the end of the current sub-block
  int64_t bytes_in = 0;                   // data bytes taken so far
  auto data_byte = [&]() -> uint32_t {
    if (next == end) {
      int size = gif.read_block();
      if (size == 0) return 0;
      next = gif.block;
      end = gif.block + size;
    }
    ++bytes_in;
    return *next++;
  };

  OutputStream& sink = run.output_file;
  unsigned char* at = sink.buffer + sink.fill;
  unsigned char* const sink_end = sink.buffer + io_buffer_size;
  int64_t bytes_out = 0;
  auto put = [&](uint32_t byte) {
    if (trial) {
      ++bytes_out;
      return;
    }
    if (at == sink_end) {
      sink.fill = io_buffer_size;
      output_flush();
      at = sink.buffer;
    }
    *at++ = static_cast<unsigned char>(byte);
    ++bytes_out;
  };

  uint32_t window = data_byte();  // the next input bits, oldest lowest
  window |= data_byte() << 8;
  window |= data_byte() << 16;
  if (bytes_in <= 0) gif.fault();

  int bit = 0;          // offset of the next code in the window
  int width = 9;        // bits of the next code
  int next_code = 257;  // the decoder's next table entry
  uint32_t out = 0;     // placed bits not yet written, the oldest at bit 23
  int fill = 23;        // bit of `out` that takes the next code's top bit
  // The trial's decoder: the string length of each entry, the code before.
  static uint16_t string_length[table_size];
  int previous = -1;
  uint64_t decoded = 0;
  for (;;) {
    ++next_code;
    int code = static_cast<int>(window >> bit) & ((1 << width) - 1);
    // Once the table is full only a clear or the end may follow: PDF's
    // filter has no codes for a table that stays full.
    if (next_code > table_size && code != code_clear && code != code_end) gif.fault();
    if (trial && code != code_clear && code != code_end) {
      if (previous < 0) {
        if (code > 255) gif.fault();  // nothing in the table yet
        decoded += 1;
      } else {
        const int entry = next_code - 1;  // the string this code adds
        if (code > entry) gif.fault();
        string_length[entry] =
            static_cast<uint16_t>((previous < 256 ? 1 : string_length[previous]) + 1);
        decoded += code < 256 ? 1 : string_length[code];
      }
      previous = code;
    }

    int advance = bit + width;
    bit = advance & 7;
    for (advance >>= 3; advance > 0; --advance) window = window >> 8 | data_byte() << 16;

    fill -= width;
    out |= static_cast<uint32_t>(code) << (fill + 1);
    while (fill < 16) {  // every complete byte goes out
      put(out >> 16 & 0xFF);
      out = (out & 0xFFFF) << 8;
      fill += 8;
    }

    if (code == code_clear) {
      next_code = 257;
      width = 9;
      previous = -1;
    } else if (code == code_end) {
      if (next != end) gif.fault();          // data left in the sub-block
      if (fill < 23) put(out >> 16 & 0xFF);  // the end code's last bits, padded
      if (trial && decoded < pixels) gif.fault();
      if (trial) return bytes_out;
      sink.fill = static_cast<int>(at - sink.buffer);
      run.bytes_written += bytes_out;
      if (bytes_out > 0) run.last_char_written = 0;
      return bytes_out;
    }
    if (next_code == 1 << width && width < max_code_width) ++width;
    if (bytes_out >= bytes_in) gif.fault();  // no end code
  }
}

}  // namespace

int64_t gif_embed(const char* path) {
  FileCloser file{open_external_file(path, 50)};
  GifReader gif{file.file, false, {}};
  if (gif.byte(51) != 'G' || gif.byte(51) != 'I' || gif.byte(51) != 'F')
    fatal_error_at(51, msg_bad_gif, run.places.word);
  gif.skip(7);  // version, logical screen width and height
  int packed = gif.byte(56);
  if ((packed & 0x80) == 0)
    fatal_error_at(52, msg_bad_gif, run.places.word);  // no global colour table
  int entries = 2 << (packed & 7);
  emit_int(entries - 1);
  emit_text(" (");
  gif.skip(2);  // background colour, aspect ratio
  write_colour_table(gif, entries);
  emit_text(")]>>\nstream\n");

  if (gif.byte(53) != ',')
    fatal_error_at(53, msg_bad_gif, run.places.word);  // an extension, the trailer
  gif.skip(8);                                         // image position and size
  if (gif.byte(56) & 0xC0)
    fatal_error_at(54, msg_bad_gif, run.places.word);  // local table, interlaced
  if (gif.byte(56) != 8) fatal_error_at(55, msg_bad_gif, run.places.word);  // LZW minimum code size
  return repack_codes<false>(gif);
}

bool gif_codes_repackable(std::FILE* file, uint64_t pixels) {
  GifReader gif{file, false, {}};
  gif.trial = true;
  try {
    repack_codes<true>(gif, pixels);
  } catch (const NotRepackable&) {
    return false;
  }
  return true;
}

int64_t gif_repack_codes(std::FILE* file, int fault_code, int fault_message) {
  GifReader gif{file, false, {}};
  gif.data_code = fault_code;
  gif.data_message = fault_message;
  return repack_codes<false>(gif);
}

void command_gif() {
  if (run.stream_open) fatal_error_at(16, msg_not_in_page, run.places.command);
  int32_t picture = read_picture_number(17);
  begin_image_object(picture);
  write_image_size(picture, nullptr);
  emit_text("\n/BitsPerComponent 8  /Length ");
  emit_int(run.next_object);
  emit_text(
      " 0 R /Filter /LZWDecode /DecodeParms <</EarlyChange 0>>\n/ColorSpace [/Indexed /DeviceRGB ");
  char path[word_buffer_size];
  read_word(path);
  int64_t length = gif_embed(path);
  end_stream_object(length);
}
