#pragma once
// Thread-safe stand-ins for two C library calls that libsmbclient makes while it sets up
// a connection, so that several threads may set up connections at the same time.
//
// Each session set-up guesses the local user with getpwuid(), whose result lives in one
// buffer for the whole process, and converts names to the DOS code page with iconv() on
// one descriptor that the whole process shares (the descriptor keeps the buffers of the
// call in progress: two calls at once write into each other's memory). This library
// defines both functions for the process, and every executable that links it exports
// them, so the library, loaded later with dlopen, binds to these:
// - getpwuid() keeps its result per thread (getpwuid_r into a buffer of the thread);
// - iconv() runs the C library's own under one process-wide lock (IconvLock, innermost in
//   the order of os/ui_thread.h: nothing is called while it is held but the real iconv,
//   which calls nothing back).
// Every other caller of the two in the process gets the same, safer behaviour.
//
// Thread-safe.

// Whether the library binds to the stand-ins above: the process's getpwuid and iconv are
// the ones defined here. When an executable does not export them, false, and connection
// set-ups must never overlap.
bool LibcShimsActive();
