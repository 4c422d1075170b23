// The calling thread's own object of type T, made on the thread's first call
// and destroyed when the thread ends. A thread-local object with a
// destructor is reached through an initialisation check on every use; this
// reaches it through a plain thread-local pointer, one look-up, which counts
// on paths a request takes many times. Each T names one object per thread,
// so every use gets a type of its own.
#pragma once

template <typename T>
T& ThreadLocalInstance() {
  thread_local T* t_reached = nullptr;
  T* reached = t_reached;
  if (reached == nullptr) {
    thread_local T t_object;
    reached = t_reached = &t_object;
  }
  return *reached;
}
