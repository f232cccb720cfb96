// The reelpage program.
#include "Program.h"

int main(int argc, char** argv) {
    return reelpage::app::ProgramMain(argc, argv);
}
