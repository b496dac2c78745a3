// Varnel: tells the viewer, from a separate process, whether an FBX file holds
// exactly one mesh. A file that crashes the reader takes down only this process.
#include <cstdio>

#include "tools/varnel/varnel.h"

int main(int argc, char** argv) { return lumbrix::varnel::runVarnel(argc, argv, stdout, stderr); }
