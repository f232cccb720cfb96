#pragma once
// A program for the helper-host tests: reports what it was started with.
//   probe CODE MODE BLOCK [BLOCK...]
// Writes into the first block "ppid cwd|PROBE_VALUE|open descriptors" and
// into each further block its own descriptor number, then exits with CODE
// (MODE "exit") or sleeps until killed (MODE "sleep").
int ProbeMain(int argc, char** argv);
