// A second thread for the output's work (src/pdf/flate_queue.cc).
#pragma once

#include <functional>
#include <thread>

// Starts `body` on `thread` with the signals from outside held back there
// (they are the composing thread's to take) and those its own writes or
// faults raise left open, so that a closed pipe ends the run by SIGPIPE as a
// write of the composing thread would. False when the system gives no thread.
bool start_output_thread(std::thread& thread, std::function<void()> body);
