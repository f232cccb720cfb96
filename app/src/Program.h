#pragma once
// The program's main routine: single instance, splash window, engine start,
// main window, message loop, engine end.
namespace reelpage::app {

int ProgramMain(int argc, char** argv);

} // namespace reelpage::app
