// Flate compression inside the output channel. Between flate_begin and
// flate_end the channel's buffer is handed to zlib instead of the file each
// time it fills, so the writers above compose a stream's plain bytes as
// they always do, at the same cost per byte, and memory stays flat however
// long the stream is. bytes_written counts the plain bytes meanwhile and is
// set back to the file's true offset at the end.
#include <zlib.h>

#include <cerrno>

#include "diagnostics.h"
#include "pdf.h"

namespace {

struct FlateState {
  z_stream zs;
  bool active;
  int64_t start;       // file offset where the compressed bytes begin
  int64_t compressed;  // compressed bytes written so far
  unsigned char out[io_buffer_size];
};
FlateState flate;

// Deflates `size` plain bytes (with `flush` as zlib's flush mode) and writes
// what comes out straight to the file.
void deflate_into_file(unsigned char* data, int size, int flush) {
  flate.zs.next_in = data;
  flate.zs.avail_in = static_cast<uInt>(size);
  do {
    flate.zs.next_out = flate.out;
    flate.zs.avail_out = sizeof flate.out;
    deflate(&flate.zs, flush);
    size_t produced = sizeof flate.out - flate.zs.avail_out;
    if (produced > 0 && std::fwrite(flate.out, 1, produced, run.output_file.file) != produced)
      output_failed(errno);
    flate.compressed += static_cast<int64_t>(produced);
  } while (flate.zs.avail_out == 0 || (flush == Z_FINISH && flate.zs.avail_in > 0));
}

}  // namespace

bool flate_active() { return flate.active; }

void flate_begin(int level) {
  output_flush();  // what came before goes out as it is
  flate.zs = z_stream{};
  if (deflateInit(&flate.zs, level) != Z_OK) fatal_error(72, msg_cant_write_output);
  flate.active = true;
  flate.start = run.bytes_written;
  flate.compressed = 0;
}

void flate_write_buffer() {
  OutputStream& out = run.output_file;
  deflate_into_file(out.buffer, out.fill, Z_NO_FLUSH);
  out.fill = 0;
}

int64_t flate_end() {
  OutputStream& out = run.output_file;
  deflate_into_file(out.buffer, out.fill, Z_FINISH);
  out.fill = 0;
  deflateEnd(&flate.zs);
  flate.active = false;
  run.bytes_written = flate.start + flate.compressed;
  if (out.failed) fatal_error(72, msg_cant_write_output);
  return flate.compressed;
}

void flate_abandon() {
  if (!flate.active) return;
  deflateEnd(&flate.zs);
  flate.active = false;
}
