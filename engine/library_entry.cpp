// libreelpage.so is the engine static library linked whole; this file only
// gives the shared library a source of its own.
