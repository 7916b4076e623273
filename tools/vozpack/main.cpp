// vozpack's entry point; everything else is in the library the tests share.
#include "VozPack.h"

int main(int argc, char** argv) { return VozpackMain(argc, argv); }
