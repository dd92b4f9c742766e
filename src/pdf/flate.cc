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
//
// zlib's stream runs on a second thread where there are threads: each full
// buffer is copied into a small ring and deflated there, in order and with
// the flush modes the one thread would use, so the bytes are the same, while
// the caller composes (a picture: decodes) the next bytes. Nothing else
// writes to the file while it runs; flate_end waits for it.
#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <memory>
#include <vector>

#include "diagnostics.h"
#include "pdf.h"
#include "output_thread.h"

#ifndef __EMSCRIPTEN__  // the WebAssembly build has no threads
#define KESTRIN_FLATE_THREAD 1
#include <condition_variable>
#include <mutex>
#include <thread>
#endif

namespace {
// Deflates `size` plain bytes with `flush` as zlib's flush mode, giving what
// comes out, at most io_buffer_size bytes at a time, to `put`.
template <typename Put>
void deflate_chunk(z_stream& zs, const unsigned char* data, int size, int flush,
                   unsigned char* out, Put put) {
  zs.next_in = const_cast<unsigned char*>(data);
  zs.avail_in = static_cast<uInt>(size);
  do {
    zs.next_out = out;
    zs.avail_out = io_buffer_size;
    deflate(&zs, flush);
    put(out, static_cast<size_t>(io_buffer_size - zs.avail_out));
  } while (zs.avail_out == 0 || (flush == Z_FINISH && zs.avail_in > 0));
}

// A zlib stream at `level` ready for a new stream: made at the first use,
// reset after; `made` is the level it was made for, 0 for none.
void ready_zlib(z_stream& zs, int& made, int level) {
  if (made != level) {
    if (made != 0) deflateEnd(&zs);
    zs = z_stream{};
    made = 0;
    if (deflateInit(&zs, level) != Z_OK) fatal_error(72, msg_cant_write_output);
    made = level;
  } else if (deflateReset(&zs) != Z_OK) {
    fatal_error(72, msg_cant_write_output);
  }
}
}  // namespace

#if KESTRIN_FLATE_THREAD
constexpr int ring_chunks = 8;  // buffers the caller may be ahead of the compressor

// The second thread of a streaming stream and the ring it takes the chunks
// from: chunk n sits in slot n % ring_chunks from when the caller hands it
// until the worker has written its compressed bytes. The counters, the
// flags and the failure are guarded by `lock`. A caller that finds the ring
// full waits until half of it is free, so that the two threads wake each
// other seldom.
struct FlateWorker {
  std::thread thread;
  std::mutex lock;
  std::condition_variable has_chunk, has_room;
  int64_t handed, done;  // chunks given to the worker, chunks it has written
  bool closing;          // nothing more comes: write what was handed, then end
  bool worker_waits, caller_waits;
  bool failed;           // a write to the file failed
  int error_number;      // of the first failure
  int size[ring_chunks], flush[ring_chunks];
  unsigned char ring[ring_chunks][io_buffer_size];
  unsigned char out[io_buffer_size];
};
#endif

// The compressor's state, a part of the run record: made at the run's first
// Flate stream, kept for the rest of the run, freed with the record.
struct FlateStream {
  z_stream zs;
  bool active;
  bool streaming;  // the buffer filled once: zlib takes the rest
  bool finished;   // the last bytes went to zlib (flate_finish)
  bool threaded;   // zlib's stream runs on the worker
  int level;
  int zs_level;        // the level zs was made for, 0: not made
  int64_t start;       // file offset where the compressed bytes begin
  int64_t compressed;  // compressed bytes written so far (the worker's while it runs)
  libdeflate_compressor* whole;
  int whole_level;
  int64_t ended;  // streams ended so far
  unsigned char out[flate_whole_out_size];
  // A stream compressed into memory beside the channel's (flate_apart_*).
  z_stream apart;
  int apart_level, apart_made;
  bool apart_streaming;
  int apart_fill;
  std::vector<unsigned char> apart_bytes;
  unsigned char apart_buffer[io_buffer_size];
#if KESTRIN_FLATE_THREAD
  std::unique_ptr<FlateWorker> worker;
#endif
};

namespace {

#if KESTRIN_FLATE_THREAD
void work(FlateStream* flate) {
  FlateWorker& w = *flate->worker;
  std::FILE* file = run.output_file.file;
  for (;;) {
    std::unique_lock<std::mutex> hold(w.lock);
    if (w.done == w.handed && !w.closing) {
      w.worker_waits = true;
      w.has_chunk.wait(hold, [&] { return w.done < w.handed || w.closing; });
      w.worker_waits = false;
    }
    if (w.done == w.handed) return;  // closing, and all handed is written
    const int slot = static_cast<int>(w.done % ring_chunks);
    const int size = w.size[slot], flush = w.flush[slot];
    hold.unlock();
    int error = 0;
    deflate_chunk(flate->zs, w.ring[slot], size, flush, w.out,
                  [&](const unsigned char* data, size_t n) {
                    if (n > 0 && std::fwrite(data, 1, n, file) != n && error == 0)
                      error = errno ? errno : EIO;
                    output_file_wrote(n);  // the caller writes nothing meanwhile
                    flate->compressed += static_cast<int64_t>(n);
                  });
    hold.lock();
    if (error != 0 && !w.failed) w.failed = true, w.error_number = error;
    ++w.done;
    const bool wake = w.caller_waits && w.handed - w.done <= ring_chunks / 2;
    hold.unlock();
    if (wake) w.has_room.notify_one();
  }
}

// Starts the worker for a streaming stream; false if no thread could be
// made, and the stream stays on this thread.
bool start_worker(FlateStream& flate) {
  if (!flate.worker) flate.worker.reset(new FlateWorker);  // the ring untouched until used
  FlateWorker& w = *flate.worker;
  w.handed = w.done = 0;
  w.closing = w.failed = w.worker_waits = w.caller_waits = false;
  w.error_number = 0;
  FlateStream* stream = &flate;
  return start_output_thread(w.thread, [stream] { work(stream); });
}

// Passes a write failure of the worker on to the channel.
void take_worker_failure(FlateWorker& w) {
  if (w.failed) output_failed(w.error_number);
  w.failed = false;
}

// Copies one chunk into the ring, waiting while the ring is full.
void hand_over(FlateStream& flate, const unsigned char* data, int size, int flush) {
  FlateWorker& w = *flate.worker;
  std::unique_lock<std::mutex> hold(w.lock);
  if (w.handed - w.done == ring_chunks) {
    w.caller_waits = true;
    w.has_room.wait(hold, [&] { return w.handed - w.done <= ring_chunks / 2; });
    w.caller_waits = false;
  }
  const int slot = static_cast<int>(w.handed % ring_chunks);
  hold.unlock();  // the slot is free: the worker reads only chunks handed
  std::memcpy(w.ring[slot], data, static_cast<size_t>(size));
  hold.lock();
  w.size[slot] = size;
  w.flush[slot] = flush;
  ++w.handed;
  take_worker_failure(w);
  const bool wake = w.worker_waits;
  hold.unlock();
  if (wake) w.has_chunk.notify_one();
}

// Waits until the worker has written every chunk handed to it and ends it.
void stop_worker(FlateStream& flate) {
  if (!flate.threaded) return;
  FlateWorker& w = *flate.worker;
  {
    std::lock_guard<std::mutex> hold(w.lock);
    w.closing = true;
  }
  w.has_chunk.notify_one();
  w.thread.join();
  flate.threaded = false;
}
#endif

void write_to_file(FlateStream& flate, const unsigned char* data, size_t size) {
  if (size > 0 && std::fwrite(data, 1, size, run.output_file.file) != size) output_failed(errno);
  output_file_wrote(size);
  flate.compressed += static_cast<int64_t>(size);
}

// Deflates `size` plain bytes (with `flush` as zlib's flush mode) on this
// thread and writes what comes out straight to the file.
void deflate_into_file(FlateStream& flate, unsigned char* data, int size, int flush) {
  deflate_chunk(flate.zs, data, size, flush, flate.out,
                [&](const unsigned char* bytes, size_t n) { write_to_file(flate, bytes, n); });
}

// Deflates one chunk of the stream, on the worker where it runs.
void deflate_piece(FlateStream& flate, unsigned char* data, int size, int flush) {
#if KESTRIN_FLATE_THREAD
  if (flate.threaded) return hand_over(flate, data, size, flush);
#endif
  deflate_into_file(flate, data, size, flush);
}

// One zlib stream serves every Flate stream of the run, reset for each: a
// fresh one per page would take and give back its memory every time.
void start_streaming(FlateStream& flate, bool threaded) {
  flate.start += queue_settle();  // the file written up to here
  ready_zlib(flate.zs, flate.zs_level, flate.level);
  flate.streaming = true;
#if KESTRIN_FLATE_THREAD
  flate.threaded = threaded && !run.host.one_thread && start_worker(flate);
#else
  (void)threaded;
#endif
}

libdeflate_compressor* whole_compressor(FlateStream& flate, int level) {
  if (!flate.whole || flate.whole_level != level) {
    if (flate.whole) libdeflate_free_compressor(flate.whole);
    flate.whole = libdeflate_alloc_compressor(level);
    flate.whole_level = level;
  }
  return flate.whole;
}

// The whole stream, still in the buffer, in one call; false if it did not fit.
bool compress_whole(FlateStream& flate, const unsigned char* data, int size) {
  libdeflate_compressor* whole = whole_compressor(flate, flate.level);
  if (!whole) return false;
  size_t size_out = libdeflate_zlib_compress(whole, data, size, flate.out, sizeof flate.out);
  if (size_out == 0) return false;
  write_to_file(flate, flate.out, size_out);
  return true;
}

FlateStream& flate_state() {
  if (!run.flate) run.flate.reset(new FlateStream{});
  return *run.flate;
}

}  // namespace

void FlateStreamDeleter::operator()(FlateStream* flate) const {
#if KESTRIN_FLATE_THREAD
  stop_worker(*flate);
#endif
  if (flate->zs_level != 0) deflateEnd(&flate->zs);
  if (flate->apart_made != 0) deflateEnd(&flate->apart);
  if (flate->whole) libdeflate_free_compressor(flate->whole);
  delete flate;
}

bool flate_active() { return run.flate && run.flate->active; }

void flate_begin(int level) {
  output_flush();  // what came before goes out as it is
  FlateStream& flate = flate_state();
  flate.active = true;
  flate.streaming = false;
  flate.finished = false;
  flate.level = level;
  flate.start = run.bytes_written;
  flate.compressed = 0;
}

void flate_write_buffer() {
  FlateStream& flate = *run.flate;
  OutputStream& out = run.output_file;
  if (!flate.streaming) start_streaming(flate, true);
  deflate_piece(flate, out.buffer, out.fill, Z_NO_FLUSH);
  out.fill = 0;
}

void flate_finish() {
  FlateStream& flate = *run.flate;
  OutputStream& out = run.output_file;
  if (!flate.streaming || flate.finished) return;
  deflate_piece(flate, out.buffer, out.fill, Z_FINISH);
  out.fill = 0;
  flate.finished = true;
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
  if (flate.streaming) {
    flate_finish();
  } else if (!compress_whole(flate, out.buffer, out.fill)) {
    start_streaming(flate, false);
    deflate_into_file(flate, out.buffer, out.fill, Z_FINISH);
  }
#if KESTRIN_FLATE_THREAD
  if (flate.threaded) {
    stop_worker(flate);
    take_worker_failure(*flate.worker);
  }
#endif
  out.fill = 0;
  flate.active = false;
  run.bytes_written = flate.start + flate.compressed;
  if (out.failed) fatal_error(72, msg_cant_write_output);
  return flate.compressed;
}

void flate_abandon() {
  if (!run.flate) return;
  FlateStream& flate = *run.flate;
#if KESTRIN_FLATE_THREAD
  if (flate.threaded) {  // what was handed is written, as the one thread would have
    stop_worker(flate);
    take_worker_failure(*flate.worker);
  }
#endif
  flate.active = false;
}

const unsigned char* flate_compress_small(const unsigned char* data, size_t size,
                                          size_t* compressed) {
  FlateStream& flate = flate_state();
  libdeflate_compressor* whole = whole_compressor(flate, compress_level);
  if (!whole) fatal_error(72, msg_cant_write_output);
  *compressed = libdeflate_zlib_compress(whole, data, size, flate.out, sizeof flate.out);
  if (*compressed == 0) fatal_error(72, msg_cant_write_output);
  return flate.out;
}

// --- A stream compressed into memory ----------------------------------------
//
// The same steps as a stream through the channel: the bytes gather in a
// buffer of the channel's size; the buffer goes to zlib when it is full and
// more bytes come; at the end a stream that never filled it is compressed
// whole by libdeflate, any other gets its last piece with Z_FINISH.

namespace {
void deflate_apart(FlateStream& flate, int flush) {
  deflate_chunk(flate.apart, flate.apart_buffer, flate.apart_fill, flush, flate.out,
                [&](const unsigned char* bytes, size_t n) {
                  flate.apart_bytes.insert(flate.apart_bytes.end(), bytes, bytes + n);
                });
  flate.apart_fill = 0;
}
}  // namespace

void flate_apart_begin(int level, uint64_t size) {
  FlateStream& flate = flate_state();
  flate.apart_level = level;
  flate.apart_streaming = false;
  flate.apart_fill = 0;
  flate.apart_bytes.clear();
  flate.apart_bytes.reserve(static_cast<size_t>(size + (size >> 12) + (size >> 14) + 64));
}

void flate_apart_put(const unsigned char* data, size_t size) {
  FlateStream& flate = *run.flate;
  while (size > 0) {
    if (flate.apart_fill == io_buffer_size) {
      if (!flate.apart_streaming) ready_zlib(flate.apart, flate.apart_made, flate.apart_level);
      flate.apart_streaming = true;
      deflate_apart(flate, Z_NO_FLUSH);
    }
    size_t part = std::min(size, static_cast<size_t>(io_buffer_size - flate.apart_fill));
    std::memcpy(flate.apart_buffer + flate.apart_fill, data, part);
    flate.apart_fill += static_cast<int>(part);
    data += part;
    size -= part;
  }
}

std::vector<unsigned char> flate_apart_end() {
  FlateStream& flate = *run.flate;
  if (!flate.apart_streaming) {
    libdeflate_compressor* whole = whole_compressor(flate, flate.apart_level);
    size_t size_out = whole ? libdeflate_zlib_compress(whole, flate.apart_buffer, flate.apart_fill,
                                                       flate.out, sizeof flate.out)
                            : 0;
    if (size_out != 0) {
      flate.apart_bytes.assign(flate.out, flate.out + size_out);
      flate.apart_fill = 0;
      return std::move(flate.apart_bytes);
    }
    ready_zlib(flate.apart, flate.apart_made, flate.apart_level);
  }
  deflate_apart(flate, Z_FINISH);
  return std::move(flate.apart_bytes);
}
