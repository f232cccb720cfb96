// Each engine library is made of the engine's static libraries linked whole;
// this file only gives the shared library a source of its own.
