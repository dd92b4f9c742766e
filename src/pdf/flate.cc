// Flate compression inside the output channel. Between flate_begin and
// flate_end the writers above compose a stream's plain bytes in the channel's
// buffer as they always do, at the same cost per byte; bytes_written counts
// the plain bytes meanwhile and is set back to the file's true offset at the
// end.
//
// A stream that fits the buffer (a page of text does, many times over) is
// compressed at its end in one call to libdeflate, about twice as fast as
// zlib at the same size. A longer one goes through zlib's stream instead,
// from the moment the buffer first fills, so memory stays flat however long
// the stream is. Either way the stream is one zlib stream.
#include <libdeflate.h>
#include <zlib.h>

#include <cerrno>

#include "diagnostics.h"
#include "pdf.h"

// The compressor's state, a part of the run record: made at the run's first
// Flate stream, kept for the rest of the run, freed with the record.
struct FlateStream {
  z_stream zs;
  bool active;
  bool streaming;  // the buffer filled once: zlib takes the rest
  int level;
  int zs_level;        // the level zs was made for, 0: not made
  int64_t start;       // file offset where the compressed bytes begin
  int64_t compressed;  // compressed bytes written so far
  libdeflate_compressor* whole;
  int whole_level;
  int64_t ended;  // streams ended so far
  unsigned char out[flate_whole_out_size];
};

void FlateStreamDeleter::operator()(FlateStream* flate) const {
  if (flate->zs_level != 0) deflateEnd(&flate->zs);
  if (flate->whole) libdeflate_free_compressor(flate->whole);
  delete flate;
}

namespace {

void write_to_file(FlateStream& flate, const unsigned char* data, size_t size) {
  if (size > 0 && std::fwrite(data, 1, size, run.output_file.file) != size) output_failed(errno);
  output_file_wrote(size);
  flate.compressed += static_cast<int64_t>(size);
}

// Deflates `size` plain bytes (with `flush` as zlib's flush mode) and writes
// what comes out straight to the file.
void deflate_into_file(FlateStream& flate, unsigned char* data, int size, int flush) {
  flate.zs.next_in = data;
  flate.zs.avail_in = static_cast<uInt>(size);
  do {
    flate.zs.next_out = flate.out;
    flate.zs.avail_out = io_buffer_size;
    deflate(&flate.zs, flush);
    write_to_file(flate, flate.out, io_buffer_size - flate.zs.avail_out);
  } while (flate.zs.avail_out == 0 || (flush == Z_FINISH && flate.zs.avail_in > 0));
}

// One zlib stream serves every Flate stream of the run, reset for each: a
// fresh one per page would take and give back its memory every time.
void start_streaming(FlateStream& flate) {
  flate.start += queue_settle();  // the file written up to here
  if (flate.zs_level != flate.level) {
    if (flate.zs_level != 0) deflateEnd(&flate.zs);
    flate.zs = z_stream{};
    flate.zs_level = 0;
    if (deflateInit(&flate.zs, flate.level) != Z_OK) fatal_error(72, msg_cant_write_output);
    flate.zs_level = flate.level;
  } else if (deflateReset(&flate.zs) != Z_OK) {
    fatal_error(72, msg_cant_write_output);
  }
  flate.streaming = true;
}

// The whole stream, still in the buffer, in one call; false if it did not fit.
bool compress_whole(FlateStream& flate, const unsigned char* data, int size) {
  if (!flate.whole || flate.whole_level != flate.level) {
    if (flate.whole) libdeflate_free_compressor(flate.whole);
    flate.whole = libdeflate_alloc_compressor(flate.level);
    flate.whole_level = flate.level;
    if (!flate.whole) return false;
  }
  size_t size_out = libdeflate_zlib_compress(flate.whole, data, size, flate.out, sizeof flate.out);
  if (size_out == 0) return false;
  write_to_file(flate, flate.out, size_out);
  return true;
}

}  // namespace

bool flate_active() { return run.flate && run.flate->active; }

void flate_begin(int level) {
  output_flush();  // what came before goes out as it is
  if (!run.flate) run.flate.reset(new FlateStream{});
  FlateStream& flate = *run.flate;
  flate.active = true;
  flate.streaming = false;
  flate.level = level;
  flate.start = run.bytes_written;
  flate.compressed = 0;
}

void flate_write_buffer() {
  FlateStream& flate = *run.flate;
  OutputStream& out = run.output_file;
  if (!flate.streaming) start_streaming(flate);
  deflate_into_file(flate, out.buffer, out.fill, Z_NO_FLUSH);
  out.fill = 0;
}

int64_t flate_end() {
  FlateStream& flate = *run.flate;
  OutputStream& out = run.output_file;
  // The first stream is compressed here: a document of one page starts no
  // thread.
  if (!flate.streaming) {
    if (flate.ended++ > 0 && queue_take_stream(out.buffer, out.fill, flate.level)) {
      out.fill = 0;
      flate.active = false;
      return flate_length_pending;
    }
    flate.start += queue_settle();  // compressed here: what is queued goes first
  }
  if (flate.streaming || !compress_whole(flate, out.buffer, out.fill)) {
    if (!flate.streaming) start_streaming(flate);
    deflate_into_file(flate, out.buffer, out.fill, Z_FINISH);
  }
  out.fill = 0;
  flate.active = false;
  run.bytes_written = flate.start + flate.compressed;
  if (out.failed) fatal_error(72, msg_cant_write_output);
  return flate.compressed;
}

void flate_abandon() {
  if (run.flate) run.flate->active = false;
}

const unsigned char* flate_compress_small(const unsigned char* data, size_t size,
                                          size_t* compressed) {
  if (!run.flate) run.flate.reset(new FlateStream{});
  FlateStream& flate = *run.flate;
  if (!flate.whole || flate.whole_level != compress_level) {
    if (flate.whole) libdeflate_free_compressor(flate.whole);
    flate.whole = libdeflate_alloc_compressor(compress_level);
    flate.whole_level = compress_level;
    if (!flate.whole) fatal_error(72, msg_cant_write_output);
  }
  *compressed = libdeflate_zlib_compress(flate.whole, data, size, flate.out, sizeof flate.out);
  if (*compressed == 0) fatal_error(72, msg_cant_write_output);
  return flate.out;
}
