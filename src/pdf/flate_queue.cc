// Flate streams compressed on a second thread. A stream that fits the
// channel's buffer is handed over at its end instead of being compressed
// there: the composing goes on with the next page while a worker compresses,
// and when the queue is full the composing thread compresses the oldest
// waiting stream itself rather than wait. The worker writes every piece to
// the file in the order the channel took it, so the file holds the bytes the
// channel would have written itself.
//
// While pieces wait, bytes_written counts a stream's plain bytes and nothing
// for the digits of its length (a hole the worker fills). The offsets of the
// objects begun meanwhile are put right when the queue settles: before a
// stream that zlib streams to the file, before the cross-reference table,
// near the largest offset the table can hold, and at the end of the run.
// A failed write stops the run as the channel would have stopped it, naming
// the line the channel stood at when it took the piece.
#include <csignal>

#include "diagnostics.h"
#include "pdf.h"
#include "output_thread.h"

#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
// No threads: every stream is compressed where it ends.
struct FlateQueue {};
void FlateQueueDeleter::operator()(FlateQueue* queue) const { delete queue; }
bool queue_take_stream(const unsigned char*, int, int) { return false; }
void queue_raw(const unsigned char*, int) {}
void queue_length_hole() {}
void queue_object_begun(int32_t) {}
int64_t queue_settle() { return 0; }
bool queue_finish(int64_t*) { return false; }
#else

#include <libdeflate.h>
#include <pthread.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int piece_count = 16;  // pieces in flight: memory stays flat
constexpr int level_count = 13;  // libdeflate's levels 0 .. 12
constexpr int max_digits = 20;   // of a stream's length

enum class PieceState : int8_t { filling, waiting, claimed, packed };

// Bytes written as they are, then perhaps a stream compressed before it is
// written; each with the line a failed write names.
struct Piece {
  bool has_raw = false;  // raw or a hole, even when empty
  std::vector<unsigned char> raw;
  int hole_at = -1;  // where in raw the previous stream's length goes, -1: nowhere
  int64_t raw_line = 0;
  bool has_stream = false;
  std::vector<unsigned char> plain;
  int level = 0;
  int64_t stream_line = 0;
  int32_t job = -1;  // the stream's index among the streams since the last settle; -1: none
  PieceState state = PieceState::filling;
  std::vector<unsigned char> packed;
  size_t packed_size = 0;
};

}  // namespace

struct FlateQueue {
  std::mutex mutex;
  std::condition_variable wake_worker, wake_main;
  std::thread worker;
  std::FILE* file;
  bool sync;  // not --no-sync: the disk's writeback is started as the file grows
  // The output's counts of src/pdf/output_file.cc, the worker's while
  // pieces wait (the composing thread writes nothing to the file then).
  int64_t file_bytes = 0, writeback_from = 0;
  Piece pieces[piece_count];
  // Pieces head .. tail - 1 are the worker's to write; pieces[tail] is being
  // filled once open is set.
  uint64_t head = 0, tail = 0;
  uint64_t written = 0;  // the pieces before it are in the file
  bool open = false;
  bool quit = false;     // the worker ends once everything is written
  bool abandon = false;  // the worker ends at once, writing nothing more
  bool failed = false;   // a write failed: nothing after it is written
  int64_t failed_line = 0;
  int failed_errno = 0;
  libdeflate_compressor* compressors[2][level_count] = {};  // the composing thread's, the worker's

  // The composing thread's own record since the last settle: each stream's
  // plain and compressed size, the breakpoints of bytes_written (stream * 2
  // at a stream's end, + 1 at its length), and each object begun with the
  // breakpoints before it.
  std::vector<int64_t> job_plain, job_packed;
  std::vector<int32_t> breaks;
  std::vector<std::pair<int32_t, int32_t>> objects;
  int64_t growth = 0;  // the most the file can be longer than bytes_written
  int hole_at = -1;    // in the channel's buffer
  int64_t last_packed = 0;  // the last stream's compressed size, once settled
  bool off = false;    // near the largest offset: no more streams this run
};

namespace {

int digit_count(uint64_t value) {
  int digits = 1;
  while (value >= 10) value /= 10, ++digits;
  return digits;
}

bool write_all(std::FILE* file, const unsigned char* data, size_t size) {
  return size == 0 || std::fwrite(data, 1, size, file) == size;
}

// The worker's output: pieces collected into one write of up to
// batch_size bytes, fewer calls than the channel makes, with the line each
// part names should its write fail.
constexpr size_t batch_size = 1 << 16;

struct Batch {
  std::vector<unsigned char> bytes;
  std::vector<std::pair<size_t, int64_t>> parts;  // end in bytes, line
  size_t last_packed = 0;  // the last stream's compressed size, for its length
  bool failed = false;

  void add(const unsigned char* data, size_t size, int64_t line) {
    if (size == 0) return;
    bytes.insert(bytes.end(), data, data + size);
    parts.emplace_back(bytes.size(), line);
  }

  void add_piece(const Piece& piece) {
    size_t at = piece.hole_at >= 0 ? static_cast<size_t>(piece.hole_at) : piece.raw.size();
    add(piece.raw.data(), at, piece.raw_line);
    if (piece.hole_at >= 0) {
      char digits[max_digits + 1];
      int length = std::snprintf(digits, sizeof digits, "%zu", last_packed);
      add(reinterpret_cast<unsigned char*>(digits), static_cast<size_t>(length), piece.raw_line);
      add(piece.raw.data() + at, piece.raw.size() - at, piece.raw_line);
    }
    if (!piece.has_stream) return;
    add(piece.packed.data(), piece.packed_size, piece.stream_line);
    last_packed = piece.packed_size;
  }

  // Writes the bytes; a failure is named by the part whose bytes did not
  // all reach the file, and nothing after it is written.
  void write(FlateQueue& queue, std::unique_lock<std::mutex>& lock) {
    size_t written = failed ? bytes.size() : std::fwrite(bytes.data(), 1, bytes.size(), queue.file);
    int error = errno;
    if (written < bytes.size()) {
      size_t part = 0;
      while (parts[part].first <= written) ++part;
      lock.lock();
      failed = queue.failed = true;
      queue.failed_line = parts[part].second;
      queue.failed_errno = error;
      lock.unlock();
    }
    file_wrote(fileno(queue.file), queue.sync, queue.file_bytes, queue.writeback_from, written);
    bytes.clear();
    parts.clear();
  }
};

void compress_piece(FlateQueue& queue, Piece& piece, int thread) {
  piece.packed_size = libdeflate_zlib_compress(queue.compressors[thread][piece.level],
                                               piece.plain.data(), piece.plain.size(),
                                               piece.packed.data(), piece.packed.size());
}

// The oldest stream no thread has taken, now taken; null when none waits.
Piece* claim(FlateQueue& queue) {
  for (uint64_t i = queue.head; i < queue.tail; ++i) {
    Piece& piece = queue.pieces[i % piece_count];
    if (piece.has_stream && piece.state == PieceState::waiting) {
      piece.state = PieceState::claimed;
      return &piece;
    }
  }
  return nullptr;
}

// Compresses the stream `piece` holds, the lock released meanwhile.
void compress_claimed(FlateQueue& queue, Piece& piece, std::unique_lock<std::mutex>& lock,
                      int thread) {
  lock.unlock();
  compress_piece(queue, piece, thread);
  lock.lock();
  piece.state = PieceState::packed;
}

void work(FlateQueue* queue_pointer) {
  FlateQueue& queue = *queue_pointer;
  Batch batch;
  batch.bytes.reserve(2 * batch_size);
  std::unique_lock<std::mutex> lock(queue.mutex);
  for (;;) {
    if (queue.abandon) return;
    if (queue.head < queue.tail) {
      Piece& piece = queue.pieces[queue.head % piece_count];
      if (!piece.has_stream || piece.state == PieceState::packed) {
        lock.unlock();
        batch.add_piece(piece);
        if (batch.bytes.size() >= batch_size) batch.write(queue, lock);
        lock.lock();
        ++queue.head;
        queue.wake_main.notify_one();  // the piece is free
        continue;
      }
    }
    if (Piece* piece = claim(queue)) {
      compress_claimed(queue, *piece, lock, 1);
      continue;
    }
    if (!batch.bytes.empty()) {  // nothing else to do: out with it
      lock.unlock();
      batch.write(queue, lock);
      lock.lock();
      continue;
    }
    if (queue.written != queue.head) {
      queue.written = queue.head;
      queue.wake_main.notify_one();
    }
    if (queue.quit && queue.head == queue.tail) return;
    queue.wake_worker.wait(lock);
  }
}

// Ends the worker; with `abandon`, before it writes anything more.
void stop_worker(FlateQueue& queue, bool abandon) {
  {
    std::lock_guard<std::mutex> lock(queue.mutex);
    queue.quit = true;
    queue.abandon = queue.abandon || abandon;
  }
  queue.wake_worker.notify_one();
  if (queue.worker.joinable()) queue.worker.join();
}

FlateQueue* make_queue() {
  std::unique_ptr<FlateQueue, FlateQueueDeleter> queue(new FlateQueue);
  queue->file = run.output_file.file;
  queue->sync = run.options.sync;
  FlateQueue* raw = queue.get();
  if (!start_output_thread(queue->worker, [raw] { work(raw); })) return nullptr;
  return queue.release();
}

[[noreturn]] void stop_for_failed_write(FlateQueue& queue) {
  output_failed(queue.failed_errno);
  run.output_file.fill = 0;  // nothing after the failed write is written
  queue.hole_at = -1;
  throw Stop{72, msg_cant_write_output, queue.failed_line, no_place};
}

// Takes the compressed size of the stream a written piece held.
void harvest(FlateQueue& queue, Piece& piece) {
  if (piece.job < 0) return;
  queue.job_packed[static_cast<size_t>(piece.job)] = static_cast<int64_t>(piece.packed_size);
  piece.job = -1;
}

// Makes pieces[tail] the open piece, compressing while the queue is full.
Piece& open_piece(FlateQueue& queue) {
  Piece& piece = queue.pieces[queue.tail % piece_count];
  if (queue.open) return piece;
  std::unique_lock<std::mutex> lock(queue.mutex);
  while (queue.tail - queue.head == piece_count) {
    if (Piece* waiting = claim(queue)) {
      compress_claimed(queue, *waiting, lock, 0);
      queue.wake_worker.notify_one();  // it may wait to write it
    } else {
      queue.wake_main.wait(lock);
    }
  }
  if (queue.failed) {
    lock.unlock();
    stop_for_failed_write(queue);
  }
  lock.unlock();
  harvest(queue, piece);
  piece.has_raw = false;
  piece.raw.clear();
  piece.hole_at = -1;
  piece.has_stream = false;
  piece.state = PieceState::filling;
  queue.open = true;
  return piece;
}

void publish(FlateQueue& queue) {
  {
    std::lock_guard<std::mutex> lock(queue.mutex);
    Piece& piece = queue.pieces[queue.tail % piece_count];
    if (piece.has_stream) piece.state = PieceState::waiting;
    ++queue.tail;
    queue.open = false;
  }
  queue.wake_worker.notify_one();
}

// Waits until the worker has written every piece, compressing meanwhile;
// the file's counts come back from the worker.
void drain(FlateQueue& queue) {
  if (queue.open) publish(queue);
  std::unique_lock<std::mutex> lock(queue.mutex);
  while (queue.written < queue.tail) {
    if (Piece* waiting = claim(queue)) {
      compress_claimed(queue, *waiting, lock, 0);
      queue.wake_worker.notify_one();
    } else {
      queue.wake_main.wait(lock);
    }
  }
  if (run.output_queued) {
    run.output_file.file_bytes = queue.file_bytes;
    run.output_file.writeback_from = queue.writeback_from;
  }
}

// The line a stop raised now names.
int64_t current_line() {
  return run.verbatim.active ? run.verbatim.command_line : run.line_number;
}

}  // namespace

bool start_output_thread(std::thread& thread, std::function<void()> body) {
  sigset_t all, before;
  sigfillset(&all);
  for (int own : {SIGPIPE, SIGSEGV, SIGBUS, SIGFPE, SIGILL, SIGABRT, SIGTRAP, SIGSYS})
    sigdelset(&all, own);
  pthread_sigmask(SIG_BLOCK, &all, &before);
  bool started = true;
  try {
    thread = std::thread(std::move(body));
  } catch (const std::system_error&) {
    started = false;
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return started;
}

void FlateQueueDeleter::operator()(FlateQueue* queue) const {
  stop_worker(*queue, true);
  for (auto& thread : queue->compressors)
    for (libdeflate_compressor* compressor : thread)
      if (compressor) libdeflate_free_compressor(compressor);
  delete queue;
}

bool queue_take_stream(const unsigned char* plain, int size, int level) {
  if (!run.host.compress_beside || level < 0 || level >= level_count) return false;
  if (!run.flate_queue) {
    if (!run.output_file.file) return false;
    run.flate_queue.reset(make_queue());
    if (!run.flate_queue) return false;
  }
  FlateQueue& queue = *run.flate_queue;
  if (queue.off) return false;
  for (auto& thread : queue.compressors) {
    if (!thread[level]) thread[level] = libdeflate_alloc_compressor(level);
    if (!thread[level]) return false;
  }
  size_t bound = libdeflate_zlib_compress_bound(queue.compressors[0][level], size);
  if (bound > flate_whole_out_size) return false;  // where it is compressed would not hold it
  Piece& piece = open_piece(queue);
  piece.plain.assign(plain, plain + size);
  if (piece.packed.size() < bound) piece.packed.resize(bound);
  queue.job_plain.push_back(size);
  queue.job_packed.push_back(0);
  queue.breaks.push_back(static_cast<int32_t>(queue.job_plain.size() - 1) * 2);
  piece.job = static_cast<int32_t>(queue.job_plain.size() - 1);
  piece.has_stream = true;  // complete: a stop from here on writes it
  piece.level = level;
  piece.stream_line = current_line();
  queue.growth += static_cast<int64_t>(bound) - size + max_digits;
  if (!run.output_queued) {  // the file's counts go over to the worker
    std::lock_guard<std::mutex> lock(queue.mutex);
    queue.file_bytes = run.output_file.file_bytes;
    queue.writeback_from = run.output_file.writeback_from;
  }
  run.output_queued = true;
  publish(queue);
  return true;
}

void queue_raw(const unsigned char* data, int size) {
  FlateQueue& queue = *run.flate_queue;
  if (queue.open && queue.pieces[queue.tail % piece_count].has_raw) publish(queue);
  if (size == 0 && queue.hole_at < 0) return;
  Piece& piece = open_piece(queue);
  piece.raw.assign(data, data + size);
  piece.raw_line = current_line();
  piece.hole_at = queue.hole_at;
  queue.hole_at = -1;
  piece.has_raw = true;
}

void queue_length_hole() {
  FlateQueue& queue = *run.flate_queue;
  if (!run.output_queued) {  // settled since the stream ended
    emit_int(queue.last_packed);
    return;
  }
  queue.hole_at = run.output_file.fill;
  queue.breaks.push_back(static_cast<int32_t>(queue.job_plain.size() - 1) * 2 + 1);
  run.last_char_written = '0';
}

void queue_object_begun(int32_t number) {
  FlateQueue& queue = *run.flate_queue;
  if (run.bytes_written + queue.growth > max_xref_offset) {
    // Offsets must be exact from here on, for the stop at the largest.
    queue.off = true;
    queue_settle();
    return;
  }
  queue.objects.emplace_back(number, static_cast<int32_t>(queue.breaks.size()));
}

int64_t queue_settle() {
  if (!run.output_queued) return 0;
  FlateQueue& queue = *run.flate_queue;
  OutputStream& out = run.output_file;
  if (!flate_active() && (out.fill > 0 || queue.hole_at >= 0)) {
    queue_raw(out.buffer, out.fill);
    out.fill = 0;
  }
  drain(queue);
  if (queue.failed) stop_for_failed_write(queue);
  for (Piece& piece : queue.pieces) harvest(queue, piece);
  // Each breakpoint moves what follows by the stream's compressed less its
  // plain size, or by its length's digits.
  int64_t shift = 0;
  size_t next = 0;
  for (size_t i = 0; i < queue.breaks.size(); ++i) {
    for (; next < queue.objects.size() && queue.objects[next].second == static_cast<int32_t>(i);
         ++next)
      run.xref_offset[queue.objects[next].first] += shift;
    size_t job = static_cast<size_t>(queue.breaks[i] / 2);
    shift += queue.breaks[i] % 2 ? digit_count(static_cast<uint64_t>(queue.job_packed[job]))
                                 : queue.job_packed[job] - queue.job_plain[job];
  }
  for (; next < queue.objects.size(); ++next) run.xref_offset[queue.objects[next].first] += shift;
  run.bytes_written += shift;
  if (!queue.job_packed.empty()) queue.last_packed = queue.job_packed.back();
  queue.job_plain.clear();
  queue.job_packed.clear();
  queue.breaks.clear();
  queue.objects.clear();
  queue.growth = 0;
  run.output_queued = false;
  return shift;
}

bool queue_finish(int64_t* failed_line) {
  if (!run.flate_queue) return false;
  std::unique_ptr<FlateQueue, FlateQueueDeleter> ending = std::move(run.flate_queue);
  FlateQueue& queue = *ending;
  OutputStream& out = run.output_file;
  try {
    if (queue.open && !queue.pieces[queue.tail % piece_count].has_raw) queue.open = false;
    drain(queue);
  } catch (...) {
    run.output_queued = false;
    return false;  // the thread ends with `ending`
  }
  run.output_queued = false;
  stop_worker(queue, false);
  if (queue.failed) {
    output_failed(queue.failed_errno);
    out.fill = 0;
    *failed_line = queue.failed_line;
    return true;
  }
  if (queue.hole_at >= 0) {
    // The length in the buffer, as the channel would have written it there.
    for (Piece& piece : queue.pieces) harvest(queue, piece);
    int64_t packed = queue.job_packed.empty() ? 0 : queue.job_packed.back();
    char digits[max_digits + 1];
    int length = std::snprintf(digits, sizeof digits, "%lld", static_cast<long long>(packed));
    int at = queue.hole_at;
    if (!write_all(out.file, out.buffer, static_cast<size_t>(at)) ||
        !write_all(out.file, reinterpret_cast<unsigned char*>(digits), length))
      output_failed(errno);
    output_file_wrote(static_cast<size_t>(at + length));
    std::memmove(out.buffer, out.buffer + at, static_cast<size_t>(out.fill - at));
    out.fill -= at;
  }
  return false;
}

#endif
